// SPDX-License-Identifier: GPL-3.0-or-later
// One account check with the real pauses against a local POP3 server. The pauses set the floor: a plain check
// reads five reply lines of at least 800 ms each (about 4 s); a filtered check of 20 messages adds per message a
// TOP status line (800 ms), a header block (600 ms) and the 150 ms filter pause (about 35 s in all).

#include "mail/mail_check.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tools/pop3server/pop3_message.h"
#include "tools/pop3server/pop3_server.h"

#include <benchmark/benchmark.h>

namespace {

void check_account(benchmark::State& state, bool filtered) {
    set_timing(Timing{});
    Pop3Mailbox box;
    box.password = "secret";
    for (int i = 0; i < 20; ++i) {
        box.messages.push_back(make_message(i % 2 ? "Taro <taro@example.com>" : "hanako@example.com",
                                            "user@kd5lite.test", "message " + std::to_string(i)));
    }
    Pop3Server server({{"alice", box}});
    if (!server.start()) {
        state.SkipWithError(server.error().c_str());
        return;
    }
    settings_set(Key::ServerName, server.server_name().c_str(), 0);
    settings_set(Key::ID, "alice", 0);
    settings_set(Key::Password, "secret", 0);
    settings_set(Key::SpecialAddress1, filtered ? "taro@example.com" : "", 0);
    settings_set(Key::SpecialSearch1, filtered ? "1" : "0", 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pop3_check(0));
    }
}

BENCHMARK_CAPTURE(check_account, plain, false)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(check_account, filtered_20_messages, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
