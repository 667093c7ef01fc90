// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/announcements.h"
#include "notifier/service_view.h"

#include <string>
#include <vector>

// The hook command (key Hook): a program of the user's own run on every change of what the lamp shows, to mirror
// the LEDs to a second light or tell a script. Run as the token command is, without a shell (the setting split on
// spaces), bounded in time (hook_ms of the timing record) and in output, its process group ended after it. Each
// run is on a thread of its own, so that a slow hook holds up neither a pass nor a stop; at most one runs at a time
// per kind of event, and what changes meanwhile waits for it, the newest change of each kind only. Its failures are
// error-log lines.
//
// The change comes in the environment: KD5LITE_EVENT is mail, read, lamp or health. For mail, read and health,
// KD5LITE_ACCOUNT is the account (1 to 3), KD5LITE_COUNT its count, KD5LITE_LIT 1 or 0 for its LED and
// KD5LITE_HEALTH its health (none, watching, late, needs_you). For lamp, KD5LITE_ACCOUNT is empty and the other
// three hold the three accounts' values in LED order, separated by spaces ("1 0 0").

inline constexpr std::size_t kHookOutputMax = 4096;

// The environment entries ("NAME=value") of one event; mail comes with its announcement.
std::vector<std::string> hook_environment(const ServiceEvent& event, const ServiceView& view,
                                          const Announcement* mail = nullptr);

// Window thread, once per tick: runs the hook, when one is set, for the tick's new mail and each event. Never waits.
void hook_events(const std::vector<Announcement>& news, const ServiceView& view,
                 const std::vector<ServiceEvent>& events);

// The program ends: every hook still running is killed with its group, and none starts any more.
void hook_end();

// Whether no hook runs or waits, within timeout_ms (tests).
bool hook_idle(int timeout_ms);
