// The POP3 status-line readers on one received line, laid out as the receive leaves it: the bytes, then zeros.

#include "fuzz/fuzz_check.h"
#include "mail/pop3/pop3_reply.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

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
    return 0;
}
