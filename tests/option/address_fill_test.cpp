// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/address_fill.h"
#include "option/option_values.h"

#include <gtest/gtest.h>
#include <string>

// The lists show what the token sources will do with a stored value: catches a value they refuse shown as a
// choice (which Apply would then store as valid), and "02" read as text.
TEST(OAuthEntries, FollowWhatTheTokenSourcesRead) {
    struct Case {
        const char* value;
        int auth;
        int source;
    };
    const Case cases[] = {
        {"", 0, -1}, {"0", 0, -1}, {"1", 1, 0},  {"01", 1, 0},  {"2", 0, 1},
        {"3", 0, 2}, {"3x", 0, 2}, {"4", 0, -1}, {"-1", 0, -1}, {"oauth", 0, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(auth_entry(c.value), c.auth) << "Auth \"" << c.value << "\"";
        EXPECT_EQ(source_entry(c.value), c.source) << "OAuthSource \"" << c.value << "\"";
    }
    EXPECT_EQ(source_value(-1), "");
    EXPECT_EQ(source_value(2), "3");
    EXPECT_EQ(provider_entry("microsoft"), 1);
    EXPECT_EQ(provider_entry("Google"), -1); // the token sources compare the name exactly
    EXPECT_EQ(provider_entry(""), -1);
    EXPECT_EQ(provider_value(2), "custom");
    EXPECT_EQ(provider_value(-1), "");
}

// A preset's server follows the protocol: catches a POP3 account given the IMAP server (or its port).
TEST(AddressFill, PresetServersByProtocol) {
    EXPECT_EQ(preset_server("google", true), "imap.gmail.com:993");
    EXPECT_EQ(preset_server("google", false), "pop.gmail.com:995");
    EXPECT_EQ(preset_server("microsoft", true), "outlook.office365.com:993");
    EXPECT_EQ(preset_server("microsoft", false), "outlook.office365.com:995");
    EXPECT_EQ(preset_server("custom", true), "");
    EXPECT_EQ(preset_server("", true), ""); // rows without OAuth2 have an empty preset: no match by accident
}

// 按地址填写 by the address's domain: catches a domain compared with its case, the last "@" not taken, a provider
// without POP3 given an empty server, and a password provider switched to OAuth2.
TEST(AddressFill, ByTheDomainOfTheAddress) {
    struct Case {
        const char* address;
        bool imap;
        const char* server;
        const char* provider; // "" for no OAuth2
        const char* note_has;
    };
    const Case cases[] = {
        {"alice@gmail.com", true, "imap.gmail.com:993", "google", "Gmail：imap.gmail.com:993，SSL/TLS。用OAuth2登录。"},
        {"Bob@HotMail.com", false, "outlook.office365.com:995", "microsoft", "OAuth2"},
        {"\"a@b\"@qq.com", true, "imap.qq.com:993", "", "授权码"},
        {"carol@yahoo.com", false, "pop.mail.yahoo.com:995", "", "应用专用密码"},
        {"dave@icloud.com", false, "", "", "iCloud不提供POP3"},
        {"erin@example.org", true, "", "", "没有“example.org”的服务器信息"},
        {"frank", true, "", "", "邮件ID不是邮件地址"},
        {"frank@", true, "", "", "邮件ID不是邮件地址"},
    };
    for (const Case& c : cases) {
        const AddressFill fill = address_fill(c.address, c.imap);
        EXPECT_EQ(fill.server, c.server) << c.address;
        EXPECT_EQ(fill.provider, c.provider) << c.address;
        EXPECT_EQ(fill.oauth2, *c.provider != '\0') << c.address;
        EXPECT_NE(fill.note.find(c.note_has), std::string::npos) << c.address << ": " << fill.note;
    }
}
