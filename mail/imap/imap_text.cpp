// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap_text.h"

#include "platform/base64_digit.h"

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

namespace {

// Modified base64 has "," where base64 has "/" (RFC 3501 5.1.3).
int modified_base64_value(char c) {
    return c == ',' ? 63 : c == '/' ? -1 : base64_value(c);
}

void append_utf8(long cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xe0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

// One shifted run, the base64 between "&" and "-": UTF-16 units, whole, with no bits left over but the padding
// zeros, every surrogate in its pair, and nothing that should have stood for itself (RFC 3501 5.1.3).
bool decode_run(std::string_view run, std::string& out) {
    std::uint32_t bits = 0;
    int count = 0;
    long high = -1; // a high surrogate waiting for its low one
    for (char c : run) {
        const int v = modified_base64_value(c);
        if (v < 0) {
            return false;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count < 16) {
            continue;
        }
        count -= 16;
        const long unit = static_cast<long>((bits >> count) & 0xffff);
        bits &= (1u << count) - 1;
        if (high >= 0) {
            if (unit < 0xdc00 || unit > 0xdfff) {
                return false;
            }
            append_utf8(0x10000 + ((high - 0xd800) << 10) + (unit - 0xdc00), out);
            high = -1;
        } else if (unit >= 0xd800 && unit <= 0xdbff) {
            high = unit;
        } else if ((unit >= 0xdc00 && unit <= 0xdfff) || (unit >= 0x20 && unit <= 0x7e)) {
            return false;
        } else {
            append_utf8(unit, out);
        }
    }
    return high < 0 && count < 6 && bits == 0;
}

} // namespace

bool mailbox_from_utf7(std::string_view utf7, std::string& out) {
    out.clear();
    for (std::size_t pos = 0; pos < utf7.size();) {
        const unsigned char c = static_cast<unsigned char>(utf7[pos]);
        if (c < 0x20 || c > 0x7e) {
            out.clear();
            return false;
        }
        if (c != '&') {
            out += static_cast<char>(c);
            ++pos;
            continue;
        }
        const std::size_t end = utf7.find('-', pos + 1);
        if (end == std::string_view::npos ||
            !(end == pos + 1 || decode_run(utf7.substr(pos + 1, end - pos - 1), out))) {
            out.clear();
            return false;
        }
        if (end == pos + 1) {
            out += '&';
        }
        pos = end + 1;
    }
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
