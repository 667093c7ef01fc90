// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/mail_fuzz_env.h"

#include "platform/timing.h"
#include "settings/log_markers.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::filesystem::path g_home;

// Waits far shorter than the real ones: the server has said all it will say before the check reads.
Timing fast_timing() {
    Timing t;
    t.select_timeout_ms = 50;
    t.send_timeout_ms = 200;
    t.connect_timeout_ms = 1000;
    return t;
}

ReplayServer* set_up() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kd5-mail-fuzz.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    g_home = pattern;
    setenv("CORVO_HOME", pattern.c_str(), 1);
    connect_log_markers();
    set_timing(fast_timing());
    auto* server = new ReplayServer;
    const std::string name = "127.0.0.1:" + std::to_string(server->port());
    settings_set(Key::ErrorLog, "1"); // the lines that quote the server's text are part of what is fuzzed
    settings_set(Key::ServerName, name.c_str());
    settings_set(Key::ID, "taro");
    settings_set(Key::Password, kMailFuzzPassword);
    return server;
}

} // namespace

ReplayServer& mail_fuzz_server() {
    static ReplayServer* server = set_up();
    return *server;
}

bool mail_fuzz_requires_tls(unsigned char choice) {
    return (choice & 8) != 0;
}

void set_mail_fuzz_account(unsigned char choice) {
    settings_set(Key::Security, mail_fuzz_requires_tls(choice) ? "1" : "0");
    settings_set(Key::SpecialAddress1, "taro@example.com");
    settings_set(Key::SpecialSearch1, (choice & 1) != 0 ? "1" : "0");
    settings_set(Key::SpecialAddress2, "example.org");
    settings_set(Key::SpecialSearch2, (choice & 2) != 0 ? "2" : "0");
}

std::string mail_fuzz_finish(ReplayServer& server, std::string& logs) {
    std::string sent = server.finish();
    logs.clear();
    for (const auto& entry : std::filesystem::directory_iterator(g_home)) {
        if (entry.path().filename().string().rfind("err", 0) == 0) {
            std::ostringstream text;
            text << std::ifstream(entry.path(), std::ios::binary).rdbuf();
            logs += text.str();
            std::filesystem::remove(entry.path());
        }
    }
    return sent;
}
