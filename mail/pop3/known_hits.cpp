// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/known_hits.h"

#include "settings/settings.h"

#include <mutex>

namespace {

struct Known {
    std::string key;
    UidList list;
};

std::mutex g_mutex;
Known g_known[kAccountCount];

} // namespace

UidList take_known_hits(int index, const std::string& key) {
    std::lock_guard lock(g_mutex);
    Known& k = g_known[index];
    UidList list = k.key == key ? std::move(k.list) : UidList{};
    k = Known{};
    return list;
}

void keep_known_hits(int index, std::string key, UidList list) {
    std::lock_guard lock(g_mutex);
    g_known[index] = Known{std::move(key), std::move(list)};
}

void forget_known_hits() {
    std::lock_guard lock(g_mutex);
    for (Known& k : g_known) {
        k = Known{};
    }
}
