// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/mail_providers.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// The table by address: catches a domain missing or matched by case or by a part of another domain.
TEST(MailProviders, AddressesFindTheirProvider) {
    struct Row {
        const char* address;
        const char* name; // nullptr: none
        ProviderSecret secret;
    };
    const Row rows[] = {
        {"alice@gmail.com", "Gmail", ProviderSecret::oauth2},
        {"Bob@GoogleMail.COM", "Gmail", ProviderSecret::oauth2},
        {"carol@hotmail.com", "Outlook.com", ProviderSecret::oauth2},
        {"dave@live.jp", "Outlook.com", ProviderSecret::oauth2},
        {"erin@yahoo.com", "Yahoo", ProviderSecret::app_password},
        {"frank@icloud.com", "iCloud", ProviderSecret::app_password},
        {"li@qq.com", "QQ", ProviderSecret::authorization_code},
        {"wang@163.com", "163", ProviderSecret::authorization_code},
        {"zhao@126.com", "126", ProviderSecret::authorization_code},
        {"sun@yeah.net", "yeah.net", ProviderSecret::authorization_code},
        {"qian@aliyun.com", "Aliyun", ProviderSecret::app_password},
        {"zhou@sina.cn", "Sina", ProviderSecret::authorization_code},
        {"odd@user@qq.com", "QQ", ProviderSecret::authorization_code}, // the last "@" starts the domain
        {"x@mail.gmail.com", nullptr, ProviderSecret::oauth2},
        {"x@gmail.com.evil.example", nullptr, ProviderSecret::oauth2},
        {"x@163.co", nullptr, ProviderSecret::oauth2},
        {"gmail.com", nullptr, ProviderSecret::oauth2},
        {"x@", nullptr, ProviderSecret::oauth2},
        {"", nullptr, ProviderSecret::oauth2},
    };
    for (const Row& row : rows) {
        const MailProvider* p = mail_provider_for(row.address);
        if (row.name == nullptr) {
            EXPECT_EQ(p, nullptr) << row.address;
            continue;
        }
        ASSERT_NE(p, nullptr) << row.address;
        EXPECT_STREQ(p->name, row.name) << row.address;
        EXPECT_EQ(p->secret, row.secret) << row.address;
    }
    std::size_t count = 0;
    const MailProvider* all = mail_providers(&count);
    std::set<std::string> hosts;
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(all[i].imap_port, 993) << all[i].name;
        EXPECT_TRUE(all[i].pop3_host[0] == '\0' || all[i].pop3_port == 995) << all[i].name;
        EXPECT_EQ(all[i].secret == ProviderSecret::oauth2, all[i].oauth_preset[0] != '\0') << all[i].name;
        EXPECT_TRUE(hosts.insert(all[i].imap_host).second) << all[i].name;
    }
}

// The presets and the custom provider. Catches the POP3 scope given to IMAP, a build's secret sent with the
// user's own id, a custom provider without endpoints taken, and no client id taken as an empty one.
TEST(MailProviders, EndpointsComeFromThePresetOrTheSettings) {
    OAuthEndpoints e;
    std::string why;
    ASSERT_TRUE(oauth_endpoints("microsoft", true, "", "", "", "my-id", e, &why)) << why;
    EXPECT_EQ(e.scope, "https://outlook.office.com/IMAP.AccessAsUser.All offline_access");
    EXPECT_NE(e.token_url.find("/common/"), std::string::npos);
    ASSERT_TRUE(oauth_endpoints("microsoft", false, "", "", "", "my-id", e, &why)) << why;
    EXPECT_EQ(e.scope, "https://outlook.office.com/POP.AccessAsUser.All offline_access");
    ASSERT_TRUE(oauth_endpoints("google", false, "https://ignored", "", "ignored", "mine", e, &why)) << why;
    EXPECT_EQ(e.scope, "https://mail.google.com/");
    EXPECT_EQ(e.client_id, "mine");
    EXPECT_EQ(e.client_secret, "");

    ASSERT_TRUE(oauth_endpoints("custom", true, "http://127.0.0.1:4000/authorize", "http://127.0.0.1:4000/token",
                                "mail", "kd5lite-test", e, &why))
        << why;
    EXPECT_EQ(e.token_url, "http://127.0.0.1:4000/token");
    EXPECT_EQ(e.scope, "mail");

    EXPECT_FALSE(oauth_endpoints("custom", true, "", "", "mail", "id", e, &why));
    EXPECT_EQ(why, "the custom provider has no TokenUrl");
    EXPECT_FALSE(oauth_endpoints("custom", true, "", "http://id.example.org/token", "", "id", e, &why));
    EXPECT_FALSE(oauth_endpoints("yahoo", true, "", "", "", "id", e, &why));
    EXPECT_FALSE(oauth_endpoints("custom", true, "", "https://id.example.org/token", "", "", e, &why));
    EXPECT_NE(why.find("no client id"), std::string::npos);
}

// Token requests follow the mail connections' rule: clear text only where nothing leaves the machine.
TEST(MailProviders, PlainHttpOnlyOnLoopback) {
    const std::pair<const char*, bool> rows[] = {
        {"https://oauth2.googleapis.com/token", true},
        {"HTTPS://id.example.org:8443/t", true},
        {"http://127.0.0.1:4000/token", true},
        {"http://127.8.9.1/token", true},
        {"http://localhost:99/token", true},
        {"http://[::1]:99/token", true},
        {"http://127.0.0.1.evil.example/token", false}, // a name, not an address
        {"http://127.0.0.1.:80/token", false},
        {"http://evil.example/127.0.0.1", false},
        {"http://user@127.0.0.1@evil.example/", false},
        {"http://id.example.org/token", false},
        {"ftp://127.0.0.1/token", false},
        {"https://", false},
        {"127.0.0.1/token", false},
    };
    for (const auto& [url, allowed] : rows) {
        EXPECT_EQ(oauth_url_allowed(url), allowed) << url;
    }
}

} // namespace
