// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of OAuth2 accounts, measured with the real notifier against Dovecot, whose oauth2 passdb asks the test
// provider about each token, and the lamp simulator:
//     oauth_figures [rounds]        (default 5)
// 1. Sign-in to first LED: the option program's sign-in (a stand-in follows the provider's redirect as a browser
//    would), then monitoring on; from the redirect to the LED lit, at real timing, a fresh notifier each round.
// 2. Refreshes per hour at a 60-minute token lifetime: three scaled hours (KD5LITE_TIME_SCALE 0.01, the provider's
//    lifetime scaled the same, IntervalTimer 1 so that tokens are asked for often), the provider's refresh count.
// 3. A revoked refresh token over ten scaled minutes (scale 0.02, IntervalTimer 1): the sign-in is revoked and the
//    server restarted, so that the watcher must log in again; Dovecot's logins and the provider's requests counted.

#include "option/sign_in.h"
#include "settings/refresh_token.h"
#include "settings/settings_access.h"
#include "tests/mail/test_pki.h"
#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/oauth2_provider.h"

#include <QApplication>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLong = 60 * 1000; // bound of every wait here
constexpr char kMessage[] = "From: Taro <taro@example.com>\r\nSubject: Hello\r\n\r\nHi.\r\n";

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The key in the settings file and in this process's record, as the option program has both.
void put(const char* name, Key key, const std::string& value) {
    tool_write(name, value.c_str(), 0);
    settings_set(key, value.c_str(), 0);
}

// One notifier, one Dovecot and one provider in a directory of their own; account 0 is alice's OAuth2 account
// (the sign-in in the browser) over TLS.
struct Setup {
    explicit Setup(double lifetime_s) {
        std::filesystem::create_directory(dir.path("pki"));
        std::filesystem::create_directory(dir.path("lamp"));
        lamp = std::make_unique<LampSim>(dir.path("lamp"));
        if (!provider.start(lifetime_s)) {
            std::fprintf(stderr, "provider: %s\n", provider.error().c_str());
            std::exit(1);
        }
        const TestAuthority::Issued own = TestAuthority::self_signed(dir.path("pki"), "mail", "IP:127.0.0.1");
        DovecotServer::Options options{own.certificate_file, own.key_file};
        options.oauth2_introspection_url = provider.url("/introspect");
        dovecot = std::make_unique<DovecotServer>(options);
        dovecot->add_user("alice", "not-used");
        if (!dovecot->start()) {
            std::fprintf(stderr, "Dovecot: %s\n%s", dovecot->error().c_str(), dovecot->log().c_str());
            std::exit(1);
        }
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp->serial()).c_str());
        tool_write("BeepTime", "1");
        tool_write("Switch", "1", 0);
        tool_write("ServerName", dovecot->server_name(true).c_str(), 0);
        tool_write("Security", "2", 0);
        tool_write("TlsFingerprint", own.fingerprint.c_str(), 0);
        tool_write("Auth", "1", 0);
        tool_write("OAuthSource", "1", 0);
        put("ID", Key::ID, "alice");
        put("Protocol", Key::Protocol, "1");
        put("OAuthProvider", Key::OAuthProvider, "custom");
        put("AuthUrl", Key::AuthUrl, provider.url("/authorize"));
        put("TokenUrl", Key::TokenUrl, provider.url("/token"));
        put("Scope", Key::Scope, "mail offline_access");
        put("ClientId", Key::ClientId, "kd5lite-figures");
    }

    void start_notifier(const std::string& scale) {
        tool_write("State", "0"); // the last notifier's "2" must not pass for this one's
        notifier = std::make_unique<NotifierProcess>(dir, std::map<std::string, std::string>{{"KD5LITE_TIME_SCALE",
                                                                                              scale}});
        wait_until([&] { return file_key(dir, "State") == "2"; }, kLong);
    }

    void end_notifier() {
        tool_write("Request", "99");
        notifier->wait_exit(kLong);
        notifier.reset();
        tool_write("Request", "0");
    }

    bool lamp_lit(std::size_t from) {
        const std::vector<std::string> commands = lamp->commands();
        return std::find(commands.begin() + static_cast<long>(std::min(from, commands.size())), commands.end(),
                         "ON0") != commands.end();
    }

    // Server logins tried (good or refused) in Dovecot's log.
    int logins() const {
        const std::string log = dovecot->log();
        return count_of(log, "Login: user=") + count_of(log, "auth failed");
    }

    TempCorvo dir;
    std::unique_ptr<LampSim> lamp;
    OAuth2Provider provider;
    std::unique_ptr<DovecotServer> dovecot;
    std::unique_ptr<NotifierProcess> notifier;
};

void sign_in_to_first_led(int rounds) {
    Setup s(3600);
    s.dovecot->deliver("alice", kMessage);
    tool_write("IntervalTimer", "60");
    std::vector<double> to_led;
    std::vector<double> sign_in;
    for (int round = 0; round < rounds; ++round) {
        s.start_notifier("1");
        const std::size_t from = s.lamp->commands().size();
        Clock::time_point redirect{};
        std::thread browser;
        const Clock::time_point pressed = Clock::now();
        const SignInResult result = account_sign_in(
            0,
            [&](const QUrl& url) {
                browser = std::thread([&s, &redirect, url] {
                    std::string headers;
                    int status = 0;
                    s.provider.request("GET", (url.path() + "?" + url.query(QUrl::FullyEncoded)).toStdString(), "",
                                       &status, &headers);
                    const std::size_t at = headers.find("Location: ");
                    if (at != std::string::npos) {
                        redirect = Clock::now();
                        OAuth2Provider::get_url(headers.substr(at + 10, headers.find("\r\n", at) - at - 10));
                    }
                });
            },
            kLong);
        browser.join();
        if (!result.signed_in) {
            std::fprintf(stderr, "sign-in: %s\n", result.text.c_str());
            std::exit(1);
        }
        sign_in.push_back(seconds_since(pressed));
        tool_write("Request", "1"); // the user turns monitoring on at once
        if (wait_until([&] { return s.lamp_lit(from); }, kLong)) {
            to_led.push_back(std::chrono::duration<double>(Clock::now() - redirect).count());
        } else {
            std::fprintf(stderr, "no LED: %s\n%s\n", log_text(s.dir, "err").c_str(), log_text(s.dir, "log").c_str());
        }
        s.end_notifier();
    }
    std::sort(to_led.begin(), to_led.end());
    std::sort(sign_in.begin(), sign_in.end());
    if (!to_led.empty()) {
        std::printf("sign-in redirect to first LED lit (real timing)  n=%zu median %.3f s  worst %.3f s  best %.3f s\n",
                    to_led.size(), to_led[to_led.size() / 2], to_led.back(), to_led.front());
        std::printf("  (the whole sign-in with the stand-in browser: median %.3f s)\n", sign_in[sign_in.size() / 2]);
    }
}

void refreshes_per_hour() {
    const double scale = 0.01;
    const int hours = 3;
    Setup s(3600 * scale);
    tool_write("IntervalTimer", "1");
    TokenSave saved;
    refresh_token_save(0, s.provider.issue("alice").refresh_token, saved);
    s.start_notifier("0.01");
    const long before = s.provider.stats()["refresh_token"];
    tool_write("Request", "1");
    const Clock::time_point start = Clock::now();
    const auto run = std::chrono::duration<double>(3600 * scale * hours);
    wait_until([&] { return Clock::now() - start >= run; }, 5 * kLong);
    const auto stats = s.provider.stats();
    const long refreshes = stats.at("refresh_token") - before;
    std::printf("refreshes in %d scaled hours at a 60-minute lifetime (scale %.2f, IntervalTimer 1): %ld, %.2f per "
                "hour; Dovecot logins %d\n",
                hours, scale, refreshes, static_cast<double>(refreshes) / hours, s.logins());
    s.end_notifier();
}

void revoked_sign_in() {
    const double scale = 0.02;
    Setup s(3600 * scale);
    tool_write("IntervalTimer", "1");
    TokenSave saved;
    refresh_token_save(0, s.provider.issue("alice").refresh_token, saved);
    s.start_notifier("0.02");
    tool_write("Request", "1");
    wait_until([&] { return count_of(log_text(s.dir, "log"), "push --> A start[No.0]") >= 1; }, kLong);
    const int logins_before = s.logins();
    const auto before = s.provider.stats();
    s.provider.revoke("alice");
    s.dovecot->restart(); // the IDLE connection is gone: the watcher must sign in again
    const Clock::time_point start = Clock::now();
    const auto run = std::chrono::duration<double>(600 * scale);
    wait_until([&] { return Clock::now() - start >= run; }, kLong);
    const auto after = s.provider.stats();
    std::printf("revoked sign-in, 10 scaled minutes (scale %.2f, IntervalTimer 1, 10 passes): Dovecot logins tried "
                "%d, provider refresh requests %ld (refused %ld), introspections %ld, error lines %d\n",
                scale, s.logins() - logins_before, after.at("refresh_token") - before.at("refresh_token"),
                after.at("refused") - before.at("refused"), after.at("introspect") - before.at("introspect"),
                count_of(log_text(s.dir, "err"), "check mail --->"));
    std::printf("  error log:\n%s", log_text(s.dir, "err").c_str());
    s.end_notifier();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the sign-in's loopback listener and token request
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string only = argc > 2 ? argv[2] : "";
    if (only.empty() || only == "sign-in") {
        sign_in_to_first_led(rounds);
    }
    if (only.empty() || only == "refresh") {
        refreshes_per_hour();
    }
    if (only.empty() || only == "revoked") {
        revoked_sign_in();
    }
    return 0;
}
