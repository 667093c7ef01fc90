// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/tls_settings.h"

#include <gtest/gtest.h>

namespace {

// Catches an unknown or mistyped value taken as plain POP3, which would send the password in clear.
TEST(TlsSettings, SecurityValuesNameTheirModeAndAnythingElseIsUnknown) {
    struct Case {
        const char* setting;
        MailSecurity security;
        const char* service;
    } cases[] = {
        {"", MailSecurity::plain, "pop3"},     {"0", MailSecurity::plain, "pop3"},
        {"1", MailSecurity::stls, "pop3"},     {"01", MailSecurity::stls, "pop3"},
        {"2", MailSecurity::tls, "pop3s"},     {"2x", MailSecurity::tls, "pop3s"},
        {"3", MailSecurity::unknown, "pop3"},  {"-1", MailSecurity::unknown, "pop3"},
        {" 1", MailSecurity::unknown, "pop3"}, {"ssl", MailSecurity::unknown, "pop3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mail_security(c.setting), c.security) << '"' << c.setting << '"';
        EXPECT_STREQ(mail_service(mail_security(c.setting)), c.service) << '"' << c.setting << '"';
    }
}

// Catches a pin compared with its colons or case, a shortened or empty pin that matches anything, and a digest
// shown in any form other than the one the pin takes.
TEST(TlsSettings, FingerprintsMatchWhateverTheirColonsAndCase) {
    unsigned char digest[32];
    for (int i = 0; i < 32; ++i) {
        digest[i] = static_cast<unsigned char>(i * 8 + 7);
    }
    const std::string shown = fingerprint_text(digest, sizeof digest);
    ASSERT_EQ(shown, "07:0F:17:1F:27:2F:37:3F:47:4F:57:5F:67:6F:77:7F:87:8F:97:9F:A7:AF:B7:BF:C7:CF:D7:DF:E7:EF:F7:FF");
    const std::string bare = "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff";
    struct Case {
        std::string setting;
        bool matches;
    } cases[] = {
        {shown, true},
        {bare, true},
        {"07:0f171F" + bare.substr(8), true},
        {bare.substr(0, 62), false},             // one byte short
        {bare + "00", false},                    // one byte long
        {"g" + bare.substr(1), false},           // not hex
        {bare.substr(0, 32) + " " + bare.substr(32), false},
        {"", false},
        {std::string(64, '0'), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fingerprint_matches(c.setting.c_str(), shown), c.matches) << c.setting;
    }
    EXPECT_FALSE(fingerprint_matches("", ""));
    EXPECT_FALSE(fingerprint_matches(nullptr, shown));
}

} // namespace
