// SPDX-License-Identifier: GPL-3.0-or-later
// The unique-id listing reader on whatever follows a UIDL status line. The first input byte is the STAT count
// (0 to 255), the rest the listing, taken whole, one byte at a time and in pieces of a size from the input: however
// the bytes arrive, the outcome is the same, a complete listing holds every message once with a valid, unique id,
// and what is kept stays within the bytes the count allows.

#include "fuzz/fuzz_check.h"
#include "mail/pop3/uidl_listing.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Outcome {
    UidlParser::State state;
    std::vector<std::string> ids;
    bool operator==(const Outcome&) const = default;
};

Outcome read_all(long long count, std::string_view bytes, std::size_t piece) {
    UidlParser parser(count);
    for (std::size_t at = 0; at < bytes.size() && parser.state() == UidlParser::State::reading; at += piece) {
        parser.feed(bytes.substr(at, piece));
    }
    Outcome out{parser.state(), {}};
    const UidList& list = parser.list();
    FUZZ_CHECK(list.size() <= static_cast<std::size_t>(count));
    if (out.state == UidlParser::State::complete) {
        FUZZ_CHECK(list.size() == static_cast<std::size_t>(count));
        FUZZ_CHECK(list.bytes() <= 100 * list.size() + 64);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string_view id = list.id(i);
            FUZZ_CHECK(!id.empty() && id.size() <= kUidMax);
            for (char c : id) {
                FUZZ_CHECK(c >= 0x21 && c <= 0x7e);
            }
            FUZZ_CHECK(list.find(id) == kHitsUnknown);
            out.ids.emplace_back(id);
        }
        FUZZ_CHECK(std::set<std::string>(out.ids.begin(), out.ids.end()).size() == out.ids.size());
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const long long count = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Outcome whole = read_all(count, bytes, bytes.size() + 1);
    FUZZ_CHECK(read_all(count, bytes, 1) == whole);
    FUZZ_CHECK(read_all(count, bytes, 2 + size % 97) == whole);
    return 0;
}
