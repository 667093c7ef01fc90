// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/header_text.h"

#include "platform/base64_digit.h"
#include "platform/hex_digit.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iconv.h>

namespace {

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool decode_b(std::string_view text, std::string& out) {
    std::uint32_t bits = 0;
    int count = 0;
    std::size_t pads = 0;
    for (char c : text) {
        if (c == '=') {
            ++pads;
            continue;
        }
        int v = base64_value(c);
        if (v < 0 || pads > 0) {
            return false;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return pads <= 2;
}

bool decode_q(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=') {
            if (i + 2 >= text.size()) {
                return false;
            }
            int high = hex_value(text[i + 1]);
            int low = hex_value(text[i + 2]);
            if (high < 0 || low < 0) {
                return false;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

// Length of the valid UTF-8 sequence at text[i], or 0 when there is none.
std::size_t utf8_length(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b = byte(i);
    if (b < 0x80) {
        return 1;
    }
    // Lead bytes: C2-DF two, E0-EF three, F0-F4 four; C0, C1 and F5-FF never lead (RFC 3629).
    std::size_t n = b >= 0xf0 && b <= 0xf4 ? 4 : b >= 0xe0 && b <= 0xef ? 3 : b >= 0xc2 && b <= 0xdf ? 2 : 0;
    if (n == 0 || i + n > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            return 0;
        }
    }
    std::uint32_t cp = n == 2 ? (b & 0x1fu) : n == 3 ? (b & 0x0fu) : (b & 0x07u);
    for (std::size_t k = 1; k < n; ++k) {
        cp = (cp << 6) | (byte(i + k) & 0x3fu);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) || (n == 4 && (cp < 0x10000 || cp > 0x10ffff))) {
        return 0;
    }
    return n;
}

void append_latin1(std::string& out, unsigned char c) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
}

// Valid UTF-8 as it is; any other byte taken as Latin-1.
std::string as_utf8(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = utf8_length(text, i);
        if (n == 0) {
            append_latin1(out, static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

// Converts bytes of charset to UTF-8 with iconv; false for a charset iconv does not know or bytes not in it.
bool to_utf8(std::string_view charset, const std::string& bytes, std::string& out) {
    // RFC 2231 lets a language follow the charset: "UTF-8*en".
    charset = charset.substr(0, charset.find('*'));
    if (iequals(charset, "utf-8") || iequals(charset, "us-ascii")) {
        out = as_utf8(bytes);
        return true;
    }
    if (charset.empty() || charset.size() > 40) {
        return false;
    }
    // GB2312 mail is most often GBK in truth, a superset; reading it as GBK loses nothing.
    std::string name = iequals(charset, "gb2312") ? "GBK" : std::string(charset);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string result(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    char* o = result.data();
    std::size_t out_left = result.size();
    std::size_t rc = iconv(cd, &in, &in_left, &o, &out_left);
    if (rc != static_cast<std::size_t>(-1)) {
        rc = iconv(cd, nullptr, nullptr, &o, &out_left); // the shift back of stateful charsets (ISO-2022-JP)
    }
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) {
        return false;
    }
    result.resize(result.size() - out_left);
    out = as_utf8(result);
    return true;
}

struct EncodedWord {
    std::size_t length = 0; // of the whole word in the value; 0 when there is none at this place
    std::string text;       // decoded, UTF-8
};

// An encoded word is at most 75 characters, delimiters included, and holds no white space (RFC 2047 2, 5). The
// search for its end looks no further: a header full of "=?" that never close is then read in linear time, where
// a search to the end of the value from every "=?" took quadratic time.
constexpr std::size_t kEncodedWordMax = 75;

// The encoded word that starts at value[i], decoded.
EncodedWord encoded_word_at(std::string_view value, std::size_t i) {
    if (value.substr(i, 2) != "=?") {
        return {};
    }
    std::string_view word = value.substr(i, kEncodedWordMax);
    word = word.substr(0, word.find_first_of(" \t\r\n"));
    std::size_t q1 = word.find('?', 2);
    if (q1 == std::string_view::npos || q1 + 2 >= word.size() || word[q1 + 2] != '?') {
        return {};
    }
    std::size_t end = word.find("?=", q1 + 3);
    if (end == std::string_view::npos) {
        return {};
    }
    std::string_view charset = word.substr(2, q1 - 2);
    char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(word[q1 + 1])));
    std::string_view text = word.substr(q1 + 3, end - q1 - 3);
    std::string bytes;
    bool decoded = encoding == 'B' ? decode_b(text, bytes) : encoding == 'Q' ? decode_q(text, bytes) : false;
    EncodedWord result;
    if (!decoded || !to_utf8(charset, bytes, result.text)) {
        return {};
    }
    result.length = end + 2;
    return result;
}

} // namespace

std::string decode_header_text(std::string_view value) {
    std::string out;
    std::string plain; // bytes between encoded words, kept back until it is known whether they are dropped
    bool after_word = false;
    for (std::size_t i = 0; i < value.size();) {
        EncodedWord word = encoded_word_at(value, i);
        if (word.length > 0) {
            bool blank = std::all_of(plain.begin(), plain.end(), [](char c) { return c == ' ' || c == '\t'; });
            if (!(after_word && blank)) {
                out += as_utf8(plain);
            }
            plain.clear();
            out += word.text;
            after_word = true;
            i += word.length;
            continue;
        }
        plain += value[i];
        ++i;
    }
    out += as_utf8(plain);
    return out;
}

std::string header_field(std::string_view block, std::string_view name) {
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t end = block.find('\n', pos);
        std::string_view line = block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? block.size() : end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break; // the end of the header block
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !iequals(line.substr(0, colon), name)) {
            continue;
        }
        std::string value(line.substr(colon + 1));
        // Continuation lines begin with white space; unfolding drops only the line break.
        while (pos < block.size() && (block[pos] == ' ' || block[pos] == '\t')) {
            std::size_t next = block.find('\n', pos);
            std::string_view more =
                block.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
            if (more.ends_with('\r')) {
                more.remove_suffix(1);
            }
            value.append(more);
            pos = next == std::string_view::npos ? block.size() : next + 1;
        }
        std::size_t first = value.find_first_not_of(" \t");
        return first == std::string::npos ? std::string() : value.substr(first);
    }
    return {};
}

std::string tidy_text(std::string_view text, std::size_t max_chars) {
    std::string out;
    std::size_t chars = 0;
    bool space = true; // drops leading white space
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = utf8_length(text, i);
        if (n == 0) {
            n = 1; // not produced by the decoder; dropped all the same
            i += n;
            continue;
        }
        unsigned char b = static_cast<unsigned char>(text[i]);
        bool control = (n == 1 && (b < 0x20 || b == 0x7f)) ||
                       (n == 2 && b == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0);
        bool blank = control || (n == 1 && b == ' ');
        if (blank) {
            if (!space) {
                if (chars == max_chars) {
                    break;
                }
                out += ' ';
                ++chars;
                space = true;
            }
        } else {
            if (chars == max_chars) {
                while (!out.empty() && out.back() == ' ') {
                    out.pop_back();
                }
                out += "…";
                return out;
            }
            out.append(text.substr(i, n));
            ++chars;
            space = false;
        }
        i += n;
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

namespace {

// The display name of a From value, else its address: "Taro <taro@example.org>" gives Taro, a bare address itself.
std::string sender_of(const std::string& from) {
    std::string decoded = decode_header_text(from);
    std::size_t open = decoded.find('<');
    std::string name = open == std::string::npos ? decoded : decoded.substr(0, open);
    std::string trimmed = tidy_text(name, 1000);
    if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"') {
        trimmed = trimmed.substr(1, trimmed.size() - 2);
    }
    if (trimmed.empty() && open != std::string::npos) {
        std::size_t close = decoded.find('>', open);
        trimmed = decoded.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    return tidy_text(trimmed, kSenderChars);
}

} // namespace

MessageSummary summarize_headers(std::string_view block) {
    MessageSummary s;
    s.sender = sender_of(header_field(block, "From"));
    s.subject = tidy_text(decode_header_text(header_field(block, "Subject")), kSubjectChars);
    if (s.subject.empty()) {
        s.subject = "(无主题)";
    }
    return s;
}
