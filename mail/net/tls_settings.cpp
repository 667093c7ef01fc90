// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/tls_settings.h"

#include <cctype>

namespace {

constexpr std::size_t kSha256HexDigits = 64;

// The hex digits of a fingerprint in lower case, colons dropped; empty when anything else is in it.
std::string hex_digits(const char* text) {
    std::string digits;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == ':') {
            continue;
        }
        if (!std::isxdigit(c)) {
            return {};
        }
        digits += static_cast<char>(std::tolower(c));
    }
    return digits;
}

} // namespace

const char* mail_service(MailSecurity security) {
    return security == MailSecurity::tls ? "pop3s" : "pop3";
}

std::string fingerprint_text(const unsigned char* digest, std::size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (i > 0) {
            text += ':';
        }
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0f];
    }
    return text;
}

bool fingerprint_matches(const char* setting, const std::string& shown) {
    std::string wanted = hex_digits(setting);
    return wanted.size() == kSha256HexDigits && wanted == hex_digits(shown.c_str());
}
