// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log.h"

#include <cstdio>

std::string usb_dump(const std::string& prefix, const char* caption, const unsigned char* data, std::size_t n) {
    constexpr std::size_t kRow = 16;
    std::string out;
    for (std::size_t at = 0; at < n; at += kRow) {
        std::size_t count = n - at < kRow ? n - at : kRow;
        out += prefix;
        out += caption;
        out += ' ';
        for (std::size_t i = 0; i < count; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", data[at + i]);
            out += hex;
        }
        out.append((kRow - count) * 3, ' ');
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char c = data[at + i];
            out += (c >= 0x21 && c <= 0x7E) ? static_cast<char>(c) : '.';
        }
        out += '\n';
    }
    return out;
}
