// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap_text.h"

#include <cstdint>
#include <vector>

namespace {

// The next code point of valid UTF-8 at pos (RFC 3629: no overlong forms, no surrogates, nothing past U+10FFFF),
// or -1.
long next_code_point(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(pos);
    int extra = 0;
    if (lead >= 0x80) {
        extra = (lead & 0xe0) == 0xc0 ? 1 : (lead & 0xf0) == 0xe0 ? 2 : (lead & 0xf8) == 0xf0 ? 3 : -1;
    }
    if (extra < 0 || s.size() - pos <= static_cast<std::size_t>(extra)) {
        return -1;
    }
    static const unsigned char kLeadMask[] = {0x7f, 0x1f, 0x0f, 0x07};
    static const long kLeast[] = {0, 0x80, 0x800, 0x10000};
    long cp = lead & kLeadMask[extra];
    for (int i = 1; i <= extra; ++i) {
        unsigned char c = byte(pos + static_cast<std::size_t>(i));
        if ((c & 0xc0) != 0x80) {
            return -1;
        }
        cp = (cp << 6) | (c & 0x3f);
    }
    if (cp < kLeast[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
        return -1;
    }
    pos += static_cast<std::size_t>(extra) + 1;
    return cp;
}

// A run of UTF-16 units in modified base64: "," for "/", no padding.
void append_base64(const std::vector<std::uint16_t>& units, std::string& out) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    std::uint32_t bits = 0;
    int count = 0;
    for (std::uint16_t unit : units) {
        for (int shift : {8, 0}) {
            bits = (bits << 8) | ((unit >> shift) & 0xff);
            count += 8;
            while (count >= 6) {
                count -= 6;
                out += kAlphabet[(bits >> count) & 0x3f];
            }
        }
    }
    if (count > 0) {
        out += kAlphabet[(bits << (6 - count)) & 0x3f];
    }
}

} // namespace

bool mailbox_utf7(std::string_view utf8, std::string& out) {
    out.clear();
    std::vector<std::uint16_t> run;
    auto flush = [&] {
        if (!run.empty()) {
            out += '&';
            append_base64(run, out);
            out += '-';
            run.clear();
        }
    };
    for (std::size_t pos = 0; pos < utf8.size();) {
        long cp = next_code_point(utf8, pos);
        if (cp < 0) {
            out.clear();
            return false;
        }
        if (cp >= 0x20 && cp <= 0x7e) {
            flush();
            out += static_cast<char>(cp);
            if (cp == '&') {
                out += '-';
            }
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            run.push_back(static_cast<std::uint16_t>(0xd800 + (cp >> 10)));
            run.push_back(static_cast<std::uint16_t>(0xdc00 + (cp & 0x3ff)));
        } else {
            run.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    flush();
    return true;
}

ImapArgument imap_argument_form(std::string_view text) {
    ImapArgument form = ImapArgument::quoted;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u == 0) {
            return ImapArgument::impossible;
        }
        // A quoted string holds 7-bit text without CR and LF (RFC 3501 9, QUOTED-CHAR).
        if (u >= 0x80 || u == '\r' || u == '\n') {
            form = ImapArgument::literal;
        }
    }
    return form;
}

void imap_append_quoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}
