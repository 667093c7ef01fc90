// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/sasl/token_rejection.h"

#include <array>
#include <atomic>

namespace {

constexpr int kAccounts = 3;
std::array<std::atomic<bool>, kAccounts> g_rejected{};

} // namespace

void note_token_rejected(int index) {
    if (index >= 0 && index < kAccounts) {
        g_rejected[static_cast<std::size_t>(index)] = true;
    }
}

bool take_token_rejected(int index) {
    return index >= 0 && index < kAccounts && g_rejected[static_cast<std::size_t>(index)].exchange(false);
}
