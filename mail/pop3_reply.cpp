#include "mail/pop3_reply.h"

#include <cstring>

namespace {

// The decimal number after the first space of the line, blanks allowed before it, clamped to limit. A sign or
// any other character there gives 0: a count or an octet count is never negative.
long long number_after_space(const char* line, long long limit) {
    const char* space = std::strchr(line, ' ');
    if (space == nullptr) {
        return 0;
    }
    const char* p = space;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit) {
            return limit;
        }
    }
    return value;
}

} // namespace

bool reply_ok(const char* line) {
    return std::strncmp(line, "+OK", 3) == 0;
}

long long stat_message_count(const char* line) {
    return number_after_space(line, kStatCountMax + 1);
}

int top_block_size(const char* line, int out_length) {
    if (out_length + 1 < 7) {
        return kTopBlockMax;
    }
    long long size = number_after_space(line, kTopBlockMax) + 15;
    return size <= 15 || size >= kTopBlockMax ? kTopBlockMax : static_cast<int>(size);
}
