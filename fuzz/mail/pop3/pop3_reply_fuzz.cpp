// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 status-line readers on one received line, laid out as the receive leaves it: the bytes, then zeros;
// and the same bytes as a CAPA listing.

#include "fuzz/fuzz_check.h"
#include "mail/pop3/pop3_reply.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {
constexpr std::size_t kLine = 1024 + 2; // the check's line capacity and the receive's slack
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char line[kLine + 1] = {};
    const std::size_t n = size < kLine ? size : kLine;
    std::memcpy(line, data, n);
    const void* lf = std::memchr(line, '\n', n);
    const int out_length = lf != nullptr ? static_cast<int>(static_cast<const char*>(lf) - line) : static_cast<int>(n);

    const bool ok = reply_ok(line);
    FUZZ_CHECK(ok == (n >= 3 && std::memcmp(line, "+OK", 3) == 0));
    FUZZ_CHECK(stat_message_count(line) >= 0);
    const int block = top_block_size(line, out_length);
    FUZZ_CHECK(block > 15 && block <= kTopBlockMax);

    const std::string_view listing(reinterpret_cast<const char*>(data), size);
    // A listing that offers it still does with any line added after it.
    if (capa_offers(listing, "PIPELINING")) {
        FUZZ_CHECK(capa_offers(std::string(listing) + "\nX\r\n", "PIPELINING"));
    }
    return 0;
}
