// The POP3 check's whole reply reader against a server whose every byte is the input: the greeting, the replies to
// USER, PASS, STAT, each TOP and QUIT, in whatever shape and cut wherever, over a real loopback connection. The
// first input byte picks the account's sender conditions (bit 0 an exact one, bit 1 a partial one), so that both
// the count and the header-block path are read.

#include "fuzz/fuzz_check.h"
#include "fuzz/scripted_server.h"
#include "mail/pop3.h"
#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

ScriptedServer* g_server = nullptr;
std::filesystem::path g_home;
unsigned g_runs = 0;

// No pauses, and waits far shorter than the real ones: the server has said all it will say before the check reads.
Timing fast_timing() {
    Timing t;
    t.recv_line_pause_ms = 0;
    t.recv_block_pause_ms = 0;
    t.recv_settle_ms = 0;
    t.recv_drop_ms = 0;
    t.select_timeout_ms = 20;
    t.send_timeout_ms = 200;
    t.connect_timeout_ms = 1000;
    t.filter_pause_ms = 0;
    return t;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The error log goes to a directory of the run's own (under TMPDIR, which scripts/fuzz.sh points into
    // build-fuzz/); the lines about the server's text are part of what is fuzzed.
    std::string pattern = (std::filesystem::temp_directory_path() / "kd5-pop3-fuzz.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    g_home = pattern;
    setenv("CORVO_HOME", pattern.c_str(), 1);
    set_timing(fast_timing());
    g_server = new ScriptedServer;
    const std::string server = "127.0.0.1:" + std::to_string(g_server->port());
    settings_set(Key::ErrorLog, "1");
    settings_set(Key::ServerName, server.c_str());
    settings_set(Key::ID, "taro");
    settings_set(Key::Password, "secret");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    settings_set(Key::SpecialAddress1, "taro@example.com");
    settings_set(Key::SpecialSearch1, (data[0] & 1) != 0 ? "1" : "0");
    settings_set(Key::SpecialAddress2, "example.org");
    settings_set(Key::SpecialSearch2, (data[0] & 2) != 0 ? "2" : "0");

    g_server->start(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    const int result = pop3_check(0);
    const std::string sent = g_server->finish();

    FUZZ_CHECK(result >= -1);
    // The check speaks first with USER, and only after a greeting; the password never goes before the user name.
    FUZZ_CHECK(sent.empty() || sent.rfind("USER taro\r\n", 0) == 0);
    if (++g_runs % 1000 == 0) {
        for (const auto& entry : std::filesystem::directory_iterator(g_home)) {
            std::filesystem::remove(entry.path());
        }
    }
    return 0;
}
