// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/net/cancel_signal.h"

// Watches, while a run of push watchers lasts, for what may make an IDLE connection stale without the server
// saying so: a change of addresses or routes (netlink), reported by changed(false) once its burst of messages has
// passed, and a suspend, seen as CLOCK_BOOTTIME (which counts the time asleep) running ahead of CLOCK_MONOTONIC
// (which does not), reported by changed(true). Each watcher then judges its own connection. Runs on the calling
// thread until stop is raised.
void watch_network(const CancelSignal& stop, void (*changed)(bool resumed));
