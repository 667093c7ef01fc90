// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/acknowledge.h"

#include "logging/log.h"
#include "notifier/acknowledge_memory.h"
#include "platform/corvo_dir.h"
#include "platform/profile.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <mutex>

namespace {

struct Seen {
    bool checked = false;
    AccountIdentity identity;
    long long count = 0; // what the check counted, before the acknowledge
    long long shown = 0; // what the lamp shows
    CheckIds ids;
};

std::mutex g_mutex;
bool g_loaded = false;
AckMemory g_memory[3];
Seen g_seen[3];

AccountIdentity identity_of(int index) {
    // The protocol as a number: "" and "0" are both POP3, and saving the connection page turns one into the other.
    // Another choice of folders is another mailbox too; without one, the identity reads as it always did.
    std::string folder = std::to_string(settings_number(Key::Protocol, index)) + "/" + settings_get(Key::Folder, index);
    if (const std::string folders = settings_get(Key::Folders, index); !folders.empty()) {
        folder += "/" + folders;
    }
    return {settings_get(Key::ServerName, index), settings_get(Key::ID, index), folder};
}

void load_locked() {
    if (g_loaded) {
        return;
    }
    g_loaded = true;
    std::string text;
    if (!profile_read(ack_file_path().c_str(), text)) {
        write_error_logf("acknowledge ---> Reading abnormality of the state file[error: %d]", errno);
    }
    ack_file_parse(text, g_memory);
}

void save_locked() {
    if (!corvo_dir_ensure() || !profile_replace(ack_file_path(), ack_file_text(g_memory))) {
        write_error_logf("acknowledge ---> Writing abnormality of the state file[error: %d]", errno);
    }
}

bool valid(int index) {
    return index >= 0 && index < 3;
}

} // namespace

std::string ack_file_path() {
    return corvo_path("corvo_kd5lite.ack");
}

int ack_filter(int index, int count, const CheckIds& ids) {
    if (!valid(index)) {
        return count;
    }
    AccountIdentity identity = identity_of(index);
    std::lock_guard lock(g_mutex);
    load_locked();
    bool changed = false;
    long long shown = count_after_ack(g_memory[index], identity, count, ids, &changed);
    if (changed) {
        save_locked();
    }
    g_seen[index] = {true, identity, count, shown, ids};
    return static_cast<int>(shown);
}

bool ack_account(int index) {
    std::lock_guard lock(g_mutex);
    load_locked();
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        const Seen& seen = g_seen[i];
        if ((index == -1 || index == i) && seen.checked && seen.shown > 0) {
            acknowledge(g_memory[i], seen.identity, seen.count, seen.ids);
            g_seen[i].shown = 0;
            any = true;
        }
    }
    if (any) {
        save_locked();
    }
    return any;
}

long long ack_remembered(int index) {
    if (!valid(index)) {
        return 0;
    }
    std::lock_guard lock(g_mutex);
    load_locked();
    const AckMemory& m = g_memory[index];
    switch (m.kind) {
    case AckMemory::Kind::ids: return static_cast<long long>(m.ids.size());
    case AckMemory::Kind::count: return m.count;
    case AckMemory::Kind::none: break;
    }
    return 0;
}

bool ack_possible(int index) {
    std::lock_guard lock(g_mutex);
    return valid(index) && g_seen[index].checked && g_seen[index].shown > 0;
}

void ack_reset_for_test() {
    std::lock_guard lock(g_mutex);
    g_loaded = false;
    for (int i = 0; i < 3; ++i) {
        g_memory[i] = AckMemory{};
        g_seen[i] = Seen{};
    }
}
