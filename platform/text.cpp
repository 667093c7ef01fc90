// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text.h"

#include <climits>
#include <cstring>

int text_to_int(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

std::size_t fit_text(char* dst, std::size_t size, const char* src) {
    if (dst == nullptr || size == 0) {
        return 0;
    }
    std::size_t n = src != nullptr ? std::strlen(src) : 0;
    if (n > size - 1) {
        n = size - 1;
        // Step back over continuation bytes so a multi-byte character is dropped whole.
        std::size_t lead = n;
        while (lead > 0 && (static_cast<unsigned char>(src[lead]) & 0xC0) == 0x80) {
            --lead;
        }
        n = lead;
    }
    if (n > 0) {
        std::memmove(dst, src, n);
    }
    dst[n] = '\0';
    return n;
}
