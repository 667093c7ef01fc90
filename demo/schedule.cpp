// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/schedule.h"

#include "settings/settings.h"

MailEvent mail_event(int step) {
    int at = step % kMailRoundSteps;
    if (at < kMailAddSteps) {
        return {MailEvent::add, at % kAccountCount};
    }
    if (at == kMailAddSteps + kMailHoldSteps) {
        return {MailEvent::empty, -1};
    }
    return {};
}
