// SPDX-License-Identifier: GPL-3.0-or-later
// One secret lookup in a real GNOME Keyring on a private session bus, as the notifier makes it once per account and
// pass: the first of the process (it connects and opens the encrypted session), then every later one; and the
// same through read_account, the way a pass reads a keyring account. A plain POP3 check costs some 4 s of
// pauses (mail_bench), so a lookup must stay in the milliseconds.

#include "credentials/secret_store.h"
#include "mail/account_settings.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tests/support/keyring_session.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const SecretKey kKey = {"mail.example.com", "alice", "imap", SecretKind::password};

// One keyring for the whole run.
KeyringSession* keyring(benchmark::State& state) {
    static std::unique_ptr<KeyringSession> session;
    if (!session) {
        session = std::make_unique<KeyringSession>();
        if (!session->start()) {
            state.SkipWithError(session->error().c_str());
            return nullptr;
        }
    }
    return session.get();
}

// The process's first call: it connects to the bus and opens the session, then finds nothing.
void first_call(benchmark::State& state) {
    if (keyring(state) == nullptr) {
        return;
    }
    std::string out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(secret_lookup(kKey, out, SecretUnlock::never, timing().keyring_wait_ms));
    }
}

void lookup(benchmark::State& state) {
    if (keyring(state) == nullptr) {
        return;
    }
    if (secret_save(kKey, "hunter2", SecretUnlock::never, 20000) != SecretResult::ok) {
        state.SkipWithError("cannot store the password");
        return;
    }
    std::string out;
    for (auto _ : state) {
        if (secret_lookup(kKey, out, SecretUnlock::never, timing().keyring_wait_ms) != SecretResult::ok) {
            state.SkipWithError("lookup failed");
            return;
        }
    }
}

void read_keyring_account(benchmark::State& state) {
    if (keyring(state) == nullptr) {
        return;
    }
    settings_set(Key::ServerName, kKey.server.c_str(), 0);
    settings_set(Key::ID, kKey.user.c_str(), 0);
    settings_set(Key::Protocol, "1", 0);
    settings_set(Key::SecretStore, "1", 0);
    for (auto _ : state) {
        Account account;
        if (read_account(0, account) != 0) {
            state.SkipWithError("lookup failed");
            return;
        }
    }
}

BENCHMARK(first_call)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(lookup)->Name("lookup")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(read_keyring_account)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
