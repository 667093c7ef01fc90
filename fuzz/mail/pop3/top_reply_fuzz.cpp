// SPDX-License-Identifier: GPL-3.0-or-later
// The TOP reply reader on whatever follows a TOP status line, taken whole, one byte at a time and in pieces of a
// size from the input: however the bytes arrive (TCP segments, TLS records), the reply ends at the same byte and
// keeps the same text.

#include "fuzz/fuzz_check.h"
#include "mail/pop3/pop3_reply.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

struct Outcome {
    bool done;
    std::size_t taken;
    std::string kept;
    std::size_t total;
    bool operator==(const Outcome&) const = default;
};

Outcome take_all(std::string_view bytes, std::size_t piece) {
    TopReply reply;
    std::size_t taken = 0;
    for (std::size_t at = 0; at < bytes.size() && !reply.done; at += piece) {
        const std::string_view part = bytes.substr(at, piece);
        const std::size_t n = top_reply_take(reply, part);
        FUZZ_CHECK(n <= part.size());
        FUZZ_CHECK(reply.done || n == part.size());
        taken += n;
    }
    FUZZ_CHECK(reply.kept.size() <= kTopKeepMax && reply.total == taken);
    return {reply.done, taken, reply.kept, reply.total};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Outcome whole = take_all(bytes, size + 1);
    FUZZ_CHECK(take_all(bytes, 1) == whole);
    FUZZ_CHECK(take_all(bytes, 2 + size % 509) == whole);
    if (whole.done) {
        // The reply ends with a line that holds only a dot, right after a line end or at its very start.
        const std::string_view end = bytes.substr(0, whole.taken);
        FUZZ_CHECK(end.ends_with(".\r\n") || end.ends_with(".\n"));
        const std::size_t dot = end.rfind('.');
        FUZZ_CHECK(dot == 0 || end[dot - 1] == '\n');
    }
    return 0;
}
