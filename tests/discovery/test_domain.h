// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/mail/test_pki.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// The discovery stories run where the names they look up are the test's own: a network namespace with only its
// loopback, whose resolver configuration (bind-mounted by `ip netns exec` from /etc/netns/NAME/) names a name
// server at 127.0.0.1 that the test starts. Nothing reaches the outside network.

enum class NetworkPlace {
    inside,      // this process runs the test in the namespace
    ran_outside, // this process made the namespace, ran the test in it, reported its end, and removed it
    unavailable, // no namespace can be made here (not root, no ip): the reason is given
};

// Runs the current test again inside a network namespace of its own, unless this process is that run already.
NetworkPlace own_network(std::string& why);

// The first statement of a story: it returns after the run in the namespace, and skips where none can be made.
#define KD5_IN_OWN_NETWORK()                                                                                           \
    do {                                                                                                               \
        std::string why_;                                                                                              \
        switch (own_network(why_)) {                                                                                   \
        case NetworkPlace::inside:                                                                                     \
            break;                                                                                                     \
        case NetworkPlace::ran_outside:                                                                                \
            return;                                                                                                    \
        case NetworkPlace::unavailable:                                                                                \
            GTEST_SKIP() << why_;                                                                                      \
        }                                                                                                              \
    } while (false)

// A test domain inside the namespace: the records of the name server, https sites on loopback addresses with
// certificates of an authority that the process trusts while the object lives (SSL_CERT_FILE), and the files
// they serve. Describe it, then start().
class TestDomain {
public:
    TestDomain();
    ~TestDomain();
    TestDomain(const TestDomain&) = delete;
    TestDomain& operator=(const TestDomain&) = delete;

    // Records: a name given any record exists; every other name is NXDOMAIN.
    void a(const std::string& name, const std::string& address);
    void mx(const std::string& name, int preference, const std::string& host);
    void srv(const std::string& name, int priority, int weight, int port, const std::string& target);
    // Holds the answers for names that end in suffix back ms milliseconds.
    void delay_answers(const std::string& suffix, int ms);

    // A certificate of the trusted authority for the names ("DNS:imap.example.test"), or one signed by its own key.
    TestAuthority::Issued certificate(const std::string& names);
    TestAuthority::Issued self_signed(const std::string& names);

    // An https site at address:443 with a certificate for host (untrusted: self-signed), serving body at path or
    // redirecting path to location.
    void serve(const std::string& address, const std::string& host, const std::string& path, const std::string& body,
               bool untrusted = false);
    void redirect(const std::string& address, const std::string& host, const std::string& path,
                  const std::string& location);

    // Starts the name server and, when there are sites, the https server; true once both answer.
    bool start();
    const std::string& error() const { return error_; }

    // What the name server was asked ("name type" lines) and the https requests ("address host path?query").
    std::string questions() const;
    std::string requests() const;

    const std::string& dir() const { return corvo_.dir(); }

private:
    struct Site {
        std::string host;
        TestAuthority::Issued certificate;
        std::map<std::string, std::string> answers; // path -> JSON answer object
    };
    Site& site(const std::string& address, const std::string& host, bool untrusted);
    bool start_helper(const std::string& script, const std::vector<std::string>& args, const std::string& output,
                      pid_t& pid);

    TempCorvo corvo_;
    std::unique_ptr<TestAuthority> authority_;
    std::unique_ptr<TrustedAuthority> trusted_;
    std::map<std::string, std::vector<std::string>> zone_; // name -> JSON records
    std::map<std::string, Site> sites_;                    // by address
    std::vector<std::string> delays_;                      // JSON objects
    int files_ = 0;
    int certificates_ = 0;
    pid_t name_server_ = -1;
    pid_t web_server_ = -1;
    std::string error_;
};
