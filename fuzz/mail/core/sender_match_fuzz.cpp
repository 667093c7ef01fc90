// SPDX-License-Identifier: GPL-3.0-or-later
// Sender matching on a header block from the server. Input: one byte for the condition ('1' exact, '2'
// partial, anything else none), the address up to the first line feed, then the block.

#include "fuzz/fuzz_check.h"
#include "mail/core/sender_match.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int condition = data[0] - '0';
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t lf = rest.find('\n');
    const std::string_view address = rest.substr(0, lf);
    const std::string_view block = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);

    const int hits = sender_hits(block, address, condition);
    const int partial = sender_hits(block, address, kMatchPartial);
    FUZZ_CHECK(hits >= 0 && hits <= 2);
    FUZZ_CHECK(partial <= 1);
    if (condition == kMatchExact) {
        FUZZ_CHECK(hits == 0 || partial == 1); // an exact hit is also a partial one
    } else if (condition != kMatchPartial) {
        FUZZ_CHECK(hits == 0);
    }
    FUZZ_CHECK(!address.empty() || hits == 0);
    return 0;
}
