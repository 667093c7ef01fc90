// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at the start of bytes and its code point, or 0 when it is not one
// (RFC 3629: shortest form only, no surrogates, nothing past U+10FFFF).
std::size_t decode(std::string_view bytes, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t size = 0;
    if (lead < 0x80) {
        size = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
    }
    if (size == 0 || size > bytes.size()) {
        return 0;
    }
    code = size == 1 ? lead : lead & (0x7F >> size);
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3F);
    }
    const bool overlong = (size == 3 && code < 0x800) || (size == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : size;
}

bool hidden(std::uint32_t code) {
    return (code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029 || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

} // namespace

std::string log_safe_text(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    char escape[8];
    while (!bytes.empty()) {
        std::uint32_t code = 0;
        std::size_t size = decode(bytes, code);
        if (size == 0 || code < 0x20 || code == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(bytes[0]));
            text += escape;
            size = 1;
        } else if (hidden(code)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
            text += escape;
        } else if (code == '\\') {
            text += "\\\\";
        } else {
            text.append(bytes.substr(0, size));
        }
        bytes.remove_prefix(size);
    }
    return text;
}
