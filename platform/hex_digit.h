// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The value of one hexadecimal digit (0-9, A-F, a-f), or -1 for any other byte: the digits of a %-escape in a URL
// and of a Q-encoded word alike.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}
