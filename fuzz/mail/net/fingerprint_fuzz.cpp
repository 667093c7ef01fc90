// SPDX-License-Identifier: GPL-3.0-or-later
// Fingerprint parsing of a hand-edited TlsFingerprint (and the Security value beside it) against the digest of a
// certificate that a server presented. Input: the setting as the settings record holds it (up to a zero byte);
// the digest is made from the input's last 32 bytes.

#include "fuzz/fuzz_check.h"
#include "mail/net/tls_settings.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

constexpr std::size_t kDigest = 32; // SHA-256

// The setting's hex digits in lower case, or empty when it holds anything but hex digits and colons.
std::string digits_of(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == ':') {
            continue;
        }
        if (!std::isxdigit(c)) {
            return {};
        }
        out += static_cast<char>(std::tolower(c));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string setting(reinterpret_cast<const char*>(data), size); // cut at a zero byte by c_str()
    unsigned char digest[kDigest] = {};
    std::copy_n(data + (size > kDigest ? size - kDigest : 0), std::min(size, kDigest), digest);
    const std::string shown = fingerprint_text(digest, kDigest);

    FUZZ_CHECK(shown.size() == kDigest * 3 - 1);
    FUZZ_CHECK(fingerprint_matches(shown.c_str(), shown));
    const bool matches = fingerprint_matches(setting.c_str(), shown);
    FUZZ_CHECK(matches == (digits_of(setting.c_str()) == digits_of(shown)));
    FUZZ_CHECK(!fingerprint_matches(setting.c_str(), "")); // no certificate shown, nothing trusted

    const MailSecurity security = mail_security(setting.c_str());
    FUZZ_CHECK(security == MailSecurity::plain || security == MailSecurity::stls || security == MailSecurity::tls ||
               security == MailSecurity::unknown);
    return 0;
}
