// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The value of one digit of base64's standard alphabet (RFC 4648: A-Z, a-z, 0-9, "+", "/"), or -1 for any other
// byte. Padding and line breaks are the decoder's business.
constexpr int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}
