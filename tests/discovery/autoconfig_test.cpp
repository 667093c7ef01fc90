// SPDX-License-Identifier: GPL-3.0-or-later
// The autoconfig file of a domain, as published files have it and as a hostile or broken answer might.

#include "discovery/autoconfig.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string file(const std::string& inside) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<clientConfig version=\"1.1\">" + inside + "</clientConfig>";
}

std::string provider(const std::string& inside) {
    return file("<emailProvider id=\"example.org\"><domain>example.org</domain>" + inside + "</emailProvider>");
}

std::string server(const std::string& type, const std::string& inside) {
    return "<incomingServer type=\"" + type + "\">" + inside + "</incomingServer>";
}

const std::string kImapSsl = server("imap", "<hostname>imap.example.org</hostname><port>993</port>"
                                            "<socketType>SSL</socketType><username>%EMAILADDRESS%</username>"
                                            "<authentication>password-cleartext</authentication>");

// What the parser reads of each shape: catches an outgoing or unknown server taken as incoming, a text read with
// its spaces, a socket type or port misread, a method list where only the last counts, and a file refused for an
// element it does not know.
TEST(AutoconfigFile, IncomingServersAreReadInTheirOrder) {
    struct Row {
        const char* what;
        std::string bytes;
        // the servers as "type host port security user methods", methods as p (password), o (OAuth2), x (other)
        std::vector<std::string> servers;
    };
    const Row rows[] = {
        {"several servers, outgoing passed over",
         provider(kImapSsl +
                  server("imap", "<hostname>imap.example.org</hostname><port>143</port>"
                                 "<socketType>STARTTLS</socketType><username>%EMAILLOCALPART%</username>") +
                  server("pop3", "<hostname> pop.example.org </hostname><port>995</port><socketType>ssl</socketType>"
                                 "<username>%EMAILADDRESS%</username>") +
                  "<outgoingServer type=\"smtp\"><hostname>smtp.example.org</hostname><port>465</port>"
                  "<socketType>SSL</socketType></outgoingServer>"),
         {"imap imap.example.org 993 2 %EMAILADDRESS% p", "imap imap.example.org 143 1 %EMAILLOCALPART% ",
          "pop3 pop.example.org 995 2 %EMAILADDRESS% "}},
        {"unknown elements and types",
         provider("<displayName>Example</displayName><documentation url=\"https://example.org/help\"><descr "
                  "lang=\"en\">Help</descr></documentation>" +
                  server("exchange", "<hostname>ex.example.org</hostname>") +
                  server("IMAP", "<hostname>imap.example.org</hostname><pop3><leaveMessagesOnServer>true"
                                 "</leaveMessagesOnServer></pop3><port>993</port><socketType>TLS</socketType>") +
                  "<webMail><loginPage url=\"https://mail.example.org/\"/></webMail>") +
             "<!-- a comment -->",
         {"imap imap.example.org 993 2  "}},
        {"methods",
         provider(server("imap", "<hostname>a.example.org</hostname><port>993</port><socketType>SSL"
                                 "</socketType><authentication>OAuth2</authentication>"
                                 "<authentication>password-encrypted</authentication>") +
                  server("imap", "<hostname>b.example.org</hostname><port>993</port><socketType>SSL"
                                 "</socketType><authentication>NTLM</authentication>")),
         {"imap a.example.org 993 2  po", "imap b.example.org 993 2  x"}},
        {"ports and socket types that are none",
         provider(server("pop3", "<hostname>p.example.org</hostname><port>70000</port><socketType>plain"
                                 "</socketType>") +
                  server("pop3", "<hostname>q.example.org</hostname><port>99a</port><socketType>SSLv3"
                                 "</socketType>") +
                  server("pop3", "<hostname>r.example.org</hostname><socketType>plain</socketType>")),
         {"pop3 p.example.org 0 0  ", "pop3 q.example.org 0 -1  ", "pop3 r.example.org 0 0  "}},
        {"two providers",
         file("<emailProvider>" + kImapSsl + "</emailProvider><emailProvider>" + kImapSsl + "</emailProvider>"),
         {"imap imap.example.org 993 2 %EMAILADDRESS% p", "imap imap.example.org 993 2 %EMAILADDRESS% p"}},
        {"no provider", file(""), {}},
    };
    for (const Row& row : rows) {
        const Autoconfig config = parse_autoconfig(row.bytes);
        ASSERT_TRUE(config.ok) << row.what << ": " << config.error;
        std::vector<std::string> read;
        for (const AutoconfigServer& s : config.incoming) {
            read.push_back(std::string(s.imap ? "imap" : "pop3") + " " + s.host + " " + std::to_string(s.port) + " " +
                           std::to_string(s.security) + " " + s.username + " " + (s.password ? "p" : "") +
                           (s.oauth2 ? "o" : "") + (s.other_method ? "x" : ""));
        }
        EXPECT_EQ(read, row.servers) << row.what;
    }
}

// Answers that are no autoconfig file, or one that must not be taken in part: catches a cut file read up to the
// cut, entities that could grow without bound, and an answer of any size read whole.
TEST(AutoconfigFile, BrokenHugeAndForeignAnswersAreRefused) {
    std::string huge = provider(kImapSsl);
    huge.insert(huge.find("<clientConfig"), "<!--" + std::string(kAutoconfigLimit, 'x') + "-->");
    const std::string cut = provider(kImapSsl).substr(0, 200);
    const char binary[] = "<clientConfig>\xff\xfe\x00</clientConfig>";
    const struct {
        const char* what;
        std::string bytes;
    } rows[] = {
        {"empty", ""},
        {"cut", cut},
        {"unclosed", "<clientConfig><emailProvider>" + kImapSsl},
        {"junk after the root", provider(kImapSsl) + "<clientConfig/>"},
        {"entities", "<?xml version=\"1.0\"?><!DOCTYPE clientConfig [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
                     "\"&a;&a;&a;&a;&a;&a;\">]><clientConfig>&b;</clientConfig>"},
        {"another document", "<html><body>Not found</body></html>"},
        {"not XML", "{\"imap\": \"imap.example.org\"}"},
        {"too large", huge},
        {"bytes that are no text", std::string(binary, sizeof binary - 1)},
    };
    for (const auto& row : rows) {
        const Autoconfig config = parse_autoconfig(row.bytes);
        EXPECT_FALSE(config.ok) << row.what;
        EXPECT_TRUE(config.incoming.empty()) << row.what;
        EXPECT_FALSE(config.error.empty()) << row.what;
    }
    EXPECT_TRUE(parse_autoconfig(huge.substr(0, kAutoconfigLimit)).error.find("larger") == std::string::npos);
}

// A file that lists more servers than any provider publishes is read up to the limit.
TEST(AutoconfigFile, ServersBeyondTheLimitAreLeftOut) {
    std::string many;
    for (std::size_t i = 0; i < kAutoconfigServerLimit + 5; ++i) {
        many += kImapSsl;
    }
    const Autoconfig config = parse_autoconfig(provider(many));
    ASSERT_TRUE(config.ok);
    EXPECT_EQ(config.incoming.size(), kAutoconfigServerLimit);
}

// What an account of the address takes from the file: catches placeholders left in the host or user, a login name
// equal to the address kept as another one, a host that is no host name, a server without a sign-in we can do,
// and the file's STARTTLS tried before its TLS.
TEST(AutoconfigFile, CandidatesHaveTheAddressPutIn) {
    const std::string bytes = provider(
        server("imap", "<hostname>mail.%EMAILDOMAIN%</hostname><port>143</port><socketType>STARTTLS</socketType>"
                       "<username>%EMAILLOCALPART%</username>") +
        server("imap", "<hostname>imap.%EMAILDOMAIN%</hostname><port>993</port><socketType>SSL</socketType>"
                       "<username>%EMAILADDRESS%</username>") +
        server("imap", "<hostname>imap.gmail.com</hostname><port>993</port><socketType>SSL</socketType>"
                       "<authentication>OAuth2</authentication>") +
        server("pop3", "<hostname>bad host</hostname><port>995</port><socketType>SSL</socketType>") +
        server("pop3", "<hostname>gss.example.org</hostname><port>995</port><socketType>SSL</socketType>"
                       "<authentication>GSSAPI</authentication>") +
        server("pop3", "<hostname>odd.example.org</hostname><port>995</port><socketType>SSL</socketType>"
                       "<username>\xe2\x80\xae%EMAILLOCALPART%</username>") +
        server("pop3", "<hostname>pop.example.org</hostname><port>110</port><socketType>plain</socketType>"
                       "<username>mail\\%EMAILLOCALPART%</username>"));
    const Autoconfig config = parse_autoconfig(bytes);
    ASSERT_TRUE(config.ok) << config.error;
    const std::vector<ServerCandidate> got = autoconfig_candidates(config, "Alice@Example.org", "example.org", true);
    std::vector<std::string> shown;
    for (const ServerCandidate& c : got) {
        shown.push_back(c.host + ":" + std::to_string(c.port) + " " + std::to_string(c.security) + " [" + c.user +
                        "] " + (c.sign_in == SignIn::oauth2 ? "oauth2 " + c.oauth_preset : "password"));
        EXPECT_EQ(c.source, ServerSource::autoconfig);
        EXPECT_EQ(c.source_name, "example.org");
    }
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "imap.example.org:993 2 [] password", "imap.gmail.com:993 2 [] oauth2 google",
                         "mail.example.org:143 1 [Alice] password", "pop.example.org:110 0 [mail\\Alice] password"}));
}

} // namespace
