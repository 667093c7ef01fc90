// SPDX-License-Identifier: GPL-3.0-or-later
// The pure choices of the search: which names are host names, which login name an address gives, the order of
// SRV records and of the servers tried, the provider behind a domain's mail exchangers, and whether an account's
// server is one its domain publishes.

#include "discovery/candidate_text.h"
#include "discovery/provider_servers.h"
#include "discovery/published.h"
#include "discovery/srv_records.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

ServerCandidate candidate(bool imap, const std::string& host, int port, int security) {
    ServerCandidate c;
    c.imap = imap;
    c.host = host;
    c.port = port;
    c.security = security;
    return c;
}

std::string listed(const std::vector<ServerCandidate>& candidates) {
    std::string out;
    for (const ServerCandidate& c : candidates) {
        out += (out.empty() ? "" : " ") + std::string(c.imap ? "imap:" : "pop3:") + c.host + ":" +
               std::to_string(c.port) + "/" + std::to_string(c.security);
    }
    return out;
}

// Only a host name is ever connected to or shown: catches a label with a space, an underscore or an empty label
// taken, the case kept (so that two spellings are two servers), and an over-long name.
TEST(DiscoveryChoices, HostNamesAreCheckedAndLowered) {
    const struct {
        std::string text;
        const char* host;
    } rows[] = {
        {"IMAP.Example.ORG.", "imap.example.org"},
        {"mail-1.example.org", "mail-1.example.org"},
        {"localhost", "localhost"},
        {".", ""},
        {"", ""},
        {"a..b", ""},
        {"-a.example.org", ""},
        {"a-.example.org", ""},
        {"_imaps._tcp.example.org", ""},
        {"bad host.example.org", ""},
        {"imap.example.org:993", ""},
        {"ex\xc3\xa4mple.org", ""},
        {std::string(64, 'a') + ".org", ""},
        {std::string(63, 'a') + ".org", nullptr},
        {std::string(127, 'a').replace(1, 1, ".") + "." + std::string(130, 'b'), ""},
    };
    for (const auto& row : rows) {
        const std::string expected = row.host != nullptr ? row.host : row.text;
        EXPECT_EQ(host_name(row.text), expected) << row.text;
    }
    EXPECT_EQ(address_domain("odd@user@Example.ORG"), "example.org"); // the last "@" starts the domain
    EXPECT_EQ(address_domain("nobody"), "");
    EXPECT_EQ(address_domain("x@"), "");
}

// The format's placeholders: catches one left in, text the address brings in read as a placeholder again, a
// control character kept, and a pattern that grows without bound.
TEST(DiscoveryChoices, LoginNamesTakeTheAddress) {
    const struct {
        const char* pattern;
        const char* address;
        std::string user;
    } rows[] = {
        {"%EMAILADDRESS%", "alice@example.org", "alice@example.org"},
        {"%EMAILLOCALPART%", "alice@example.org", "alice"},
        {"%EMAILLOCALPART%@%EMAILDOMAIN%", "a@b@example.org", "a@b@example.org"},
        {"corp\\%EMAILLOCALPART%", "alice@example.org", "corp\\alice"},
        {"%EMAILLOCALPART%", "%EMAILDOMAIN%@example.org", "%EMAILDOMAIN%"},
        {"%EMAILDOMAIN%", "nobody", ""},
        {"%emailaddress%", "alice@example.org", "%emailaddress%"},
        {"al\tice\r\n", "alice@example.org", "alice"},
        {"%EMAILADDRESS%%EMAILADDRESS%", "alice@example.org", "alice@example.orgalice@example.org"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(fill_placeholders(row.pattern, row.address), row.user) << row.pattern;
    }
    const std::string address(200, 'a');
    EXPECT_EQ(fill_placeholders("%EMAILADDRESS%%EMAILADDRESS%", address + "@x"), "");
    EXPECT_EQ(fill_placeholders(std::string(100000, 'x'), "a@b"), "");
}

// The order the servers are tried: every encrypted one before any in clear, the preferred protocol first, TLS from
// the first byte before STARTTLS, the source's own order kept among equals, and each server once.
TEST(DiscoveryChoices, CandidatesAreTriedEncryptedFirst) {
    const struct {
        bool prefer_imap;
        std::vector<ServerCandidate> given;
        const char* order;
    } rows[] = {
        {true,
         {candidate(false, "p", 110, 0), candidate(true, "i", 143, 1), candidate(false, "p", 995, 2),
          candidate(true, "i", 993, 2), candidate(true, "i", 143, 0)},
         "imap:i:993/2 imap:i:143/1 pop3:p:995/2 imap:i:143/0 pop3:p:110/0"},
        {false,
         {candidate(true, "i", 993, 2), candidate(false, "p", 110, 1), candidate(false, "p", 995, 2)},
         "pop3:p:995/2 pop3:p:110/1 imap:i:993/2"},
        {true,
         {candidate(true, "b", 993, 2), candidate(true, "a", 993, 2), candidate(true, "b", 993, 2)},
         "imap:b:993/2 imap:a:993/2"},
    };
    for (const auto& row : rows) {
        std::vector<ServerCandidate> got = row.given;
        order_candidates(got, row.prefer_imap);
        EXPECT_EQ(listed(got), row.order);
    }
    EXPECT_EQ(listed(guessed_candidates("Example.org", false)),
              "pop3:pop.example.org:995/2 pop3:mail.example.org:995/2 pop3:pop.example.org:110/1 "
              "pop3:mail.example.org:110/1 imap:imap.example.org:993/2 imap:mail.example.org:993/2 "
              "imap:imap.example.org:143/1 imap:mail.example.org:143/1 pop3:pop.example.org:110/0 "
              "pop3:mail.example.org:110/0 imap:imap.example.org:143/0 imap:mail.example.org:143/0");
    EXPECT_TRUE(guessed_candidates("not a domain", true).empty());
}

// RFC 2782: catches priorities tried highest number first, the weighted choice ignoring the weights, "." taken
// as a host or as "none" beside other records, and records without a port or a host name kept.
TEST(DiscoveryChoices, SrvRecordsAreOrderedByPriorityAndWeight) {
    const auto targets = [](const std::vector<SrvRecord>& records) {
        std::string out;
        for (const SrvRecord& r : records) {
            out += (out.empty() ? "" : " ") + r.target;
        }
        return out;
    };
    const SrvPick lowest = [](unsigned) { return 0u; };
    const SrvPick highest = [](unsigned limit) { return limit; };
    const struct {
        std::vector<SrvRecord> records;
        const SrvPick& pick;
        const char* order;
    } rows[] = {
        {{{"c.", 993, 20, 0}, {"a.", 993, 10, 0}, {"b.", 993, 15, 0}}, lowest, "a. b. c."},
        // Within one priority: weight 0 first, and the pick decides among the weighted by their running sums.
        {{{"w60.", 993, 1, 60}, {"w0.", 993, 1, 0}, {"w40.", 993, 1, 40}}, lowest, "w0. w60. w40."},
        {{{"w60.", 993, 1, 60}, {"w0.", 993, 1, 0}, {"w40.", 993, 1, 40}}, highest, "w40. w60. w0."},
        {{{".", 0, 0, 0}}, lowest, ""},
        {{{"", 0, 0, 0}}, lowest, ""},
        {{{".", 0, 0, 0}, {"a.", 993, 0, 0}}, lowest, "a."},
        {{{"a.", 0, 0, 0}, {"b_c.", 993, 0, 0}, {"d.", 70000, 0, 0}, {"e.", 993, 0, 0}}, lowest, "e."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(targets(srv_order(row.records, row.pick)), row.order);
    }

    SrvAnswers answers;
    answers.imaps = {{".", 0, 0, 0}};
    answers.imap = {{"mail.example.org.", 143, 0, 0}};
    answers.pop3s = {{"pop.example.org.", 995, 0, 0}};
    const std::vector<ServerCandidate> got = srv_candidates(answers, true, lowest);
    EXPECT_EQ(listed(got), "imap:mail.example.org:143/1 pop3:pop.example.org:995/2 imap:mail.example.org:143/0");
    for (const ServerCandidate& c : got) {
        EXPECT_EQ(c.source, ServerSource::srv);
    }
}

// The provider behind a domain's mail exchangers: catches the backup exchanger preferred over the primary, a name
// that merely ends in a provider's letters taken for it, and the provider's sign-in or servers lost.
TEST(DiscoveryChoices, MailExchangersNameTheHostingProvider) {
    const struct {
        std::vector<MxRecord> records;
        const char* provider; // nullptr: none
    } rows[] = {
        {{{"example-org.mail.protection.outlook.com.", 0}}, "Microsoft 365"},
        {{{"alt1.aspmx.l.google.com", 5}, {"ASPMX.L.GOOGLE.COM.", 1}}, "Google Workspace"},
        {{{"mx.example.org", 20}, {"mxbiz1.qq.com", 10}}, "腾讯企业邮"},
        {{{"mx.example.org", 10}, {"mx.zoho.eu", 20}}, "Zoho Mail"},
        {{{"mx.yandex.net", 10}}, "Yandex 360"},
        {{{"qiye163mx01.mxmail.netease.com", 10}}, "网易企业邮箱"},
        {{{"evilgoogle.com", 1}}, nullptr},
        {{{"google.com.evil.example", 1}}, nullptr},
        {{{"163mx01.mxmail.netease.com", 1}}, nullptr},
        {{{"not a host", 1}}, nullptr},
        {{}, nullptr},
    };
    for (const auto& row : rows) {
        const MailProvider* p = hosting_provider(row.records);
        EXPECT_STREQ(p != nullptr ? p->name : nullptr, row.provider)
            << (row.records.empty() ? "" : row.records[0].host);
    }
    const MailProvider* microsoft = hosting_provider({{"x.mail.protection.outlook.com", 0}});
    ASSERT_NE(microsoft, nullptr);
    const std::vector<ServerCandidate> servers = hosted_candidates(*microsoft, false);
    EXPECT_EQ(listed(servers), "pop3:outlook.office365.com:995/2 imap:outlook.office365.com:993/2");
    EXPECT_EQ(servers[0].sign_in, SignIn::oauth2);
    EXPECT_EQ(servers[0].oauth_preset, "microsoft");
    EXPECT_EQ(source_text(servers[0]), "MX (Microsoft 365)");
    const MailProvider* icloud = hosting_provider({{"mx01.mail.icloud.com", 10}});
    ASSERT_NE(icloud, nullptr);
    EXPECT_EQ(listed(hosted_candidates(*icloud, false)), "imap:imap.mail.me.com:993/2"); // no POP3 there
    EXPECT_EQ(hosted_candidates(*icloud, false)[0].sign_in, SignIn::app_password);
}

// The account's server against what its domain publishes: catches the port of a server name without one taken as
// 0, the security or protocol left out of the comparison, and case counted.
TEST(DiscoveryChoices, AccountServerIsComparedWithThePublishedOnes) {
    const std::vector<ServerCandidate> published = {candidate(true, "imap.example.org", 993, 2),
                                                    candidate(true, "mail.example.org", 143, 1)};
    const struct {
        const char* server;
        int security;
        bool imap;
        PublishedMatch match;
    } rows[] = {
        {"imap.example.org", 2, true, PublishedMatch::same},
        {"IMAP.example.org:993", 2, true, PublishedMatch::same},
        {"mail.example.org", 1, true, PublishedMatch::same},
        {"mail.example.org:143", 0, true, PublishedMatch::differs},
        {"imap.example.org:143", 2, true, PublishedMatch::differs},
        {"old.example.org", 2, true, PublishedMatch::differs},
        {"imap.example.org:x", 2, true, PublishedMatch::differs},
        {"imap.example.org", 2, false, PublishedMatch::none},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(published_match(row.server, row.security, row.imap, published), row.match) << row.server;
    }
    EXPECT_EQ(published_match("imap.example.org", 2, true, {}), PublishedMatch::none);
}

} // namespace
