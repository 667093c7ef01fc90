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

// The note names where the server came from and what the user must see to. Catches a source named wrongly, a
// protocol changed without a word, a server in clear offered without its warning, another login name kept quiet,
// an OAuth2-only server left without a provider, and a search that ended without a server said as found.
TEST(AddressFill, WhatTheSearchFoundIsSaidWithItsSource) {
    const auto found = [](ServerSource source, const char* name, bool imap, int port, int security) {
        DiscoveryResult r;
        r.end = DiscoveryEnd::found;
        r.domain = "example.org";
        r.server.imap = imap;
        r.server.host = imap ? "imap.example.org" : "pop.example.org";
        r.server.port = port;
        r.server.security = security;
        r.server.source = source;
        r.server.source_name = name;
        return r;
    };
    DiscoveryResult login = found(ServerSource::autoconfig, "example.org", true, 993, 2);
    login.server.user = "alice";
    DiscoveryResult hosted = found(ServerSource::mx, "Microsoft 365", true, 993, 2);
    hosted.server.sign_in = SignIn::oauth2;
    hosted.server.oauth_preset = "microsoft";
    DiscoveryResult unknown_oauth = found(ServerSource::autoconfig, "example.org", true, 993, 2);
    unknown_oauth.server.sign_in = SignIn::oauth2;
    DiscoveryResult code = found(ServerSource::mx, "网易企业邮箱", false, 995, 2);
    code.server.sign_in = SignIn::authorization_code;
    const auto ended = [](DiscoveryEnd end) {
        DiscoveryResult r;
        r.end = end;
        r.domain = "example.org";
        return r;
    };
    const struct {
        DiscoveryResult result;
        bool imap_chosen;
        const char* server;
        int security;
        const char* provider;
        const char* note;
    } rows[] = {
        {login, true, "imap.example.org:993", 2, "",
         "从 example.org 的自动配置：imap.example.org:993，SSL/TLS。登录名是“alice”：请在设置程序中把邮件ID改为它。"},
        {found(ServerSource::srv, "", false, 110, 1), false, "pop.example.org:110", 1, "",
         "从 DNS SRV 记录：pop.example.org:110，STLS。"},
        {found(ServerSource::srv, "", true, 143, 1), false, "imap.example.org:143", 1, "",
         "从 DNS SRV 记录：imap.example.org:143，STARTTLS。协议改为IMAP。"},
        {hosted, true, "imap.example.org:993", 2, "microsoft",
         "邮件由 Microsoft 365 托管：imap.example.org:993，SSL/TLS。用OAuth2登录。"},
        {unknown_oauth, true, "imap.example.org:993", 2, "custom", "用OAuth2登录。"},
        {code, false, "pop.example.org:995", 2, "", "授权码"},
        {found(ServerSource::guess, "", true, 143, 0), true, "imap.example.org:143", 0, "",
         "按常用的服务器名称找到：imap.example.org:143，不加密。它只能不加密连接，密码会明文传送。"},
        {ended(DiscoveryEnd::nothing), true, "", 2, "", "没有找到“example.org”的邮件服务器"},
        {ended(DiscoveryEnd::timed_out), true, "", 2, "", "15秒内没有找到“example.org”"},
        {ended(DiscoveryEnd::stopped), true, "", 2, "", "已取消查找。"},
    };
    for (const auto& row : rows) {
        const AddressFill fill = discovered_fill(row.result, row.imap_chosen);
        EXPECT_EQ(fill.server, row.server) << row.note;
        EXPECT_EQ(fill.security, row.security) << row.note;
        EXPECT_EQ(fill.imap, row.server[0] == '\0' ? row.imap_chosen : row.result.server.imap) << row.note;
        EXPECT_EQ(fill.oauth2, *row.provider != '\0') << row.note;
        EXPECT_EQ(fill.provider, row.provider) << row.note;
        EXPECT_NE(fill.note.find(row.note), std::string::npos) << fill.note;
    }
    EXPECT_TRUE(address_fill("erin@example.org", true).search);
    EXPECT_FALSE(address_fill("alice@gmail.com", true).search);
    EXPECT_FALSE(address_fill("frank", true).search);
}
