// SPDX-License-Identifier: GPL-3.0-or-later
// The search of an address's server, source by source, against a test domain of the story's own: its name server,
// its https sites with a test authority's certificates, and scripted mail servers at the addresses it gives.

#include "discovery/discovery.h"
#include "discovery/published.h"
#include "platform/timing.h"
#include "tests/discovery/stories.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr char kAddress[] = "alice@example.test";

DiscoveryResult discover(bool imap = true, const std::string& address = kAddress) {
    forget_discoveries();
    DiscoveryStop never;
    return discover_server(address, imap, never);
}

std::string server_of(const DiscoveryResult& r) {
    return r.server.host + ":" + std::to_string(r.server.port) + " security " + std::to_string(r.server.security);
}

// The published file names the server and the login name by placeholders; the address goes along in the query.
// Catches a file read without its placeholders, the outgoing server taken for an incoming one, a server that gets
// more than its greeting before it is filled in, and a second search that asks the network again.
TEST(DiscoveryStory, AutoconfigOfTheDomainNamesTheServerAndTheLoginName) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.a("autoconfig.example.test", "127.0.0.10");
    domain.serve("127.0.0.10", "autoconfig.example.test", "/mail/config-v1.1.xml",
                 autoconfig_file(incoming_server("pop3", "pop.%EMAILDOMAIN%", 995, "SSL", "%EMAILLOCALPART%") +
                                 incoming_server("imap", "imap.%EMAILDOMAIN%", 993, "SSL", "%EMAILLOCALPART%")));
    domain.a("imap.example.test", "127.0.0.21");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    ImapServer& imap = servers.imap("127.0.0.21", 2, domain.certificate("DNS:imap.example.test"));
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover();
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_TRUE(r.server.imap);
    EXPECT_EQ(server_of(r), "imap.example.test:993 security 2");
    EXPECT_EQ(r.server.user, "alice");
    EXPECT_EQ(r.server.source, ServerSource::autoconfig);
    EXPECT_EQ(r.server.source_name, "example.test");
    EXPECT_EQ(imap.connections(), 1);
    EXPECT_TRUE(imap.commands().empty()); // TLS from the first byte: the greeting is all it takes
    EXPECT_NE(domain.requests().find("autoconfig.example.test /mail/config-v1.1.xml?emailaddress=alice%40example.test"),
              std::string::npos)
        << domain.requests();

    const std::string asked = domain.requests();
    DiscoveryStop never;
    const DiscoveryResult again = discover_server(kAddress, true, never);
    EXPECT_EQ(server_of(again), server_of(r));
    EXPECT_EQ(domain.requests(), asked); // kept for the session
    EXPECT_EQ(imap.connections(), 1);
}

// Without autoconfig.DOMAIN the domain's own .well-known file is read; POP3 on the plain port takes STLS only
// after CAPA lists it. Catches the second address never tried, STLS sent blind, and a USER or PASS sent.
TEST(DiscoveryStory, WellKnownFileOfTheDomainGivesPop3WithStls) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.a("example.test", "127.0.0.11");
    domain.serve("127.0.0.11", "example.test", "/.well-known/autoconfig/mail/config-v1.1.xml",
                 autoconfig_file(incoming_server("pop3", "pop.example.test", 110, "STARTTLS")));
    domain.a("pop.example.test", "127.0.0.22");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    Pop3Server& pop3 = servers.pop3("127.0.0.22", 1, domain.certificate("DNS:pop.example.test"));
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover(false);
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_FALSE(r.server.imap);
    EXPECT_EQ(server_of(r), "pop.example.test:110 security 1");
    EXPECT_EQ(r.server.user, ""); // %EMAILADDRESS%: the ID as it is
    EXPECT_EQ(r.server.source, ServerSource::autoconfig);
    EXPECT_EQ(pop3.commands(), (std::vector<std::string>{"CAPA", "STLS"}));
    // The server notes the name the client asked for once its side of the handshake is done.
    EXPECT_TRUE(wait_until([&] { return !pop3.tls_hosts().empty(); }, 5000));
    EXPECT_EQ(pop3.tls_hosts(), std::vector<std::string>{"pop.example.test"});
}

// RFC 6186 records: "." says IMAP over TLS is not offered, so IMAP with STARTTLS comes before POP3. Catches "."
// taken for a host, the other protocol preferred over the one asked for, and STARTTLS sent before CAPABILITY.
TEST(DiscoveryStory, SrvRecordsGiveImapWithStartTls) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.srv("_imaps._tcp.example.test", 0, 0, 0, ".");
    domain.srv("_imap._tcp.example.test", 0, 1, 143, "mail.example.test");
    domain.srv("_pop3s._tcp.example.test", 0, 1, 995, "mail.example.test");
    domain.a("mail.example.test", "127.0.0.23");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    const TestAuthority::Issued certificate = domain.certificate("DNS:mail.example.test");
    ImapServer& imap = servers.imap("127.0.0.23", 1, certificate);
    servers.pop3("127.0.0.23", 2, certificate);
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover();
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_TRUE(r.server.imap);
    EXPECT_EQ(server_of(r), "mail.example.test:143 security 1");
    EXPECT_EQ(r.server.source, ServerSource::srv);
    EXPECT_EQ(imap.commands(), (std::vector<std::string>{"d1 CAPABILITY", "d2 STARTTLS"}));
}

// Mail exchangers of Microsoft 365: its server, and OAuth2 with the preset. Catches the MX host taken as the
// IMAP server and a password asked of an OAuth2-only provider.
TEST(DiscoveryStory, MailExchangersOfAHostingProviderGiveItsServerAndSignIn) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.mx("example.test", 20, "backup.example.test");
    domain.mx("example.test", 10, "example-test.mail.protection.outlook.com");
    domain.a("outlook.office365.com", "127.0.0.31");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    servers.imap("127.0.0.31", 2, domain.certificate("DNS:outlook.office365.com"));
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover();
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_EQ(server_of(r), "outlook.office365.com:993 security 2");
    EXPECT_EQ(r.server.source, ServerSource::mx);
    EXPECT_EQ(r.server.source_name, "Microsoft 365");
    EXPECT_EQ(r.server.sign_in, SignIn::oauth2);
    EXPECT_EQ(r.server.oauth_preset, "microsoft");
}

// Nothing published: the usual names, TLS first. Catches a guess stopped at the first name that does not exist.
TEST(DiscoveryStory, UsualNamesAreTheLastGuess) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.a("mail.example.test", "127.0.0.24");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    const TestAuthority::Issued certificate = domain.certificate("DNS:mail.example.test");
    servers.imap("127.0.0.24", 2, certificate);
    servers.imap("127.0.0.24", 1, certificate);
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover();
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_EQ(server_of(r), "mail.example.test:993 security 2");
    EXPECT_EQ(r.server.source, ServerSource::guess);
}

// A server reachable only in clear is offered, after every source was asked for one with TLS.
TEST(DiscoveryStory, AServerOnlyInClearIsTakenLast) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.srv("_imap._tcp.example.test", 0, 0, 143, "mail.example.test");
    domain.a("mail.example.test", "127.0.0.25");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    ImapServer& imap = servers.imap("127.0.0.25", 0);
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover();
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_EQ(server_of(r), "mail.example.test:143 security 0");
    EXPECT_EQ(r.server.source, ServerSource::srv); // the first source that named it, though the guess named it too
    for (const std::string& command : imap.commands()) {
        EXPECT_NE(command.find("CAPABILITY"), std::string::npos) << command; // nothing else, no LOGIN
    }
}

// The first source lies: its server's certificate names another host. The next source is taken. Catches a
// certificate judged without its host name, and a refused server used all the same.
TEST(DiscoveryStory, AServerWithAWrongCertificateIsPassedOver) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.a("autoconfig.example.test", "127.0.0.10");
    domain.serve("127.0.0.10", "autoconfig.example.test", "/mail/config-v1.1.xml",
                 autoconfig_file(incoming_server("imap", "imap.example.test", 993, "SSL")));
    domain.a("imap.example.test", "127.0.0.21");
    domain.srv("_imaps._tcp.example.test", 0, 0, 993, "mail.example.test");
    domain.a("mail.example.test", "127.0.0.23");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    ImapServer& liar = servers.imap("127.0.0.21", 2, domain.certificate("DNS:other.example.test"));
    servers.imap("127.0.0.23", 2, domain.certificate("DNS:mail.example.test"));
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover();
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_EQ(server_of(r), "mail.example.test:993 security 2");
    EXPECT_EQ(r.server.source, ServerSource::srv);
    EXPECT_TRUE(liar.commands().empty());
}

// An autoconfig redirect to another host is not followed, and an answer larger than any such file is not read:
// the servers they name are never asked. Catches the address handed to a third party, and an unbounded read.
TEST(DiscoveryStory, ARedirectElsewhereAndAHugeAnswerAreRefused) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.a("autoconfig.example.test", "127.0.0.10");
    domain.redirect("127.0.0.10", "autoconfig.example.test", "/mail/config-v1.1.xml",
                    "https://evil.example.test/mail/config-v1.1.xml");
    domain.a("evil.example.test", "127.0.0.12");
    domain.serve("127.0.0.12", "evil.example.test", "/mail/config-v1.1.xml",
                 autoconfig_file(incoming_server("imap", "imap.evil.example.test", 993, "SSL")));
    domain.a("example.test", "127.0.0.11");
    std::string huge = autoconfig_file(incoming_server("imap", "imap.big.example.test", 993, "SSL"));
    huge.insert(huge.find("<clientConfig"), "<!--" + std::string(100 * 1024, 'x') + "-->\n");
    domain.serve("127.0.0.11", "example.test", "/.well-known/autoconfig/mail/config-v1.1.xml", huge);
    domain.a("imap.evil.example.test", "127.0.0.26");
    domain.a("imap.big.example.test", "127.0.0.26");
    domain.a("mail.example.test", "127.0.0.24");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    ImapServer& evil =
        servers.imap("127.0.0.26", 2, domain.certificate("DNS:imap.evil.example.test,DNS:imap.big.example.test"));
    servers.imap("127.0.0.24", 2, domain.certificate("DNS:mail.example.test"));
    ASSERT_TRUE(servers.started()) << servers.error();

    const DiscoveryResult r = discover();
    ASSERT_EQ(r.end, DiscoveryEnd::found);
    EXPECT_EQ(server_of(r), "mail.example.test:993 security 2");
    EXPECT_EQ(r.server.source, ServerSource::guess);
    EXPECT_EQ(evil.connections(), 0);
    EXPECT_EQ(domain.requests().find("127.0.0.12"), std::string::npos) << domain.requests();
}

// Nothing anywhere: the search says so, and asked no one but the domain's own names.
TEST(DiscoveryStory, NothingFoundIsSaid) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    ASSERT_TRUE(domain.start()) << domain.error();

    const DiscoveryResult r = discover();
    EXPECT_EQ(r.end, DiscoveryEnd::nothing);
    EXPECT_EQ(r.domain, "example.test");
    std::istringstream questions(domain.questions());
    int asked = 0;
    for (std::string line; std::getline(questions, line); ++asked) {
        EXPECT_NE(line.find("example.test "), std::string::npos) << line;
    }
    EXPECT_GE(asked, 5) << domain.questions(); // the four SRV services and MX at least
}

// The command line prints what was found, one "key: value" line each, and its status says whether anything was.
TEST(DiscoveryStory, TheCommandLinePrintsWhatWasFound) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.srv("_imaps._tcp.example.test", 0, 0, 993, "mail.example.test");
    domain.a("mail.example.test", "127.0.0.23");
    ASSERT_TRUE(domain.start()) << domain.error();
    MailServers servers;
    servers.imap("127.0.0.23", 2, domain.certificate("DNS:mail.example.test"));
    ASSERT_TRUE(servers.started()) << servers.error();

    const std::string out = domain.dir() + "/discover.out";
    EXPECT_EQ(run_process({KD5LITE_BINARY, "--discover", kAddress}, out), 0);
    std::ifstream found(out);
    std::stringstream text;
    text << found.rdbuf();
    EXPECT_EQ(text.str(), "protocol: IMAP\nserver: mail.example.test\nport: 993\nsecurity: TLS\nsign-in: password\n"
                          "source: DNS SRV\n");

    EXPECT_EQ(run_process({KD5LITE_BINARY, "--discover", "bob@nowhere.test"}, out), 1);
    std::ifstream none(out);
    std::stringstream said;
    said << none.rdbuf();
    EXPECT_TRUE(said.str().starts_with("error: nowhere.test: ")) << said.str();
}

// kd5lite --check's line: the account's server against what the domain publishes, without a connection.
TEST(DiscoveryStory, TheAccountServerIsComparedWithWhatTheDomainPublishes) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.srv("_imaps._tcp.example.test", 0, 0, 993, "imap.example.test");
    ASSERT_TRUE(domain.start()) << domain.error();

    EXPECT_EQ(published_settings_line(kAddress, "imap.example.test", true, 2),
              "the server is what example.test publishes (DNS SRV)");
    EXPECT_EQ(published_settings_line(kAddress, "mail.example.test:143", true, 1),
              "example.test publishes imap.example.test:993 with TLS (DNS SRV), not mail.example.test:143 with "
              "STARTTLS");
    EXPECT_EQ(published_settings_line(kAddress, "pop.example.test", false, 2), "example.test publishes no POP3 server");
}

// A name server that never answers in time: the stop ends the search at once, and without a stop the whole search
// keeps its bound. Catches a wait that no stop reaches and a search that outlasts its time.
TEST(DiscoveryStory, AStopEndsTheSearchAndTheWholeSearchIsBounded) {
    KD5_IN_OWN_NETWORK();
    TestDomain domain;
    domain.delay_answers("slow.test", 20000);
    domain.a("mail.slow.test", "127.0.0.24");
    ASSERT_TRUE(domain.start()) << domain.error();

    DiscoveryStop stop;
    std::atomic<bool> searching{false};
    std::atomic<bool> ended{false};
    DiscoveryResult r;
    std::thread search([&] {
        r = discover_server("carol@slow.test", true, stop, [&](const std::string&) { searching = true; });
        ended = true;
    });
    ASSERT_TRUE(wait_until([&] { return searching.load(); }, 15000));
    const auto asked = std::chrono::steady_clock::now();
    stop.stop();
    EXPECT_TRUE(wait_until([&] { return ended.load(); }, 5000));
    search.join();
    EXPECT_EQ(r.end, DiscoveryEnd::stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));

    Timing t = timing();
    const Timing kept = t;
    t.discovery_total_ms = 2000;
    set_timing(t);
    const auto start = std::chrono::steady_clock::now();
    const DiscoveryResult bounded = discover(true, "dave@slow.test");
    set_timing(kept);
    EXPECT_EQ(bounded.end, DiscoveryEnd::timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

} // namespace
