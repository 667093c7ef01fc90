// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the tray menu's entries do, as one set of rules that every way in shares (the menu, the session bus
// service, the command-line verbs): each is taken now or refused with the reason, and what is taken goes through
// the command mailbox as the tools' buttons write it, so its protocol and its logs stay as they are. Window thread.

enum class Refusal {
    none,                  // taken
    not_monitoring,        // a pass or a stop needs a running monitor
    already_monitoring,    // a start needs a stopped one
    busy,                  // the lamp's connection test stands, or another job runs: a start would take it over
    no_such_account,       // not 1 to 3, or not switched on
    nothing_to_acknowledge, // the last check left nothing that an acknowledge would put out
    bad_snooze             // minutes out of 0 to kLongestSnoozeMinutes
};

// A snooze asked for by minutes lasts a week at most: longer is a forgotten switch, not a wish for silence.
inline constexpr int kLongestSnoozeMinutes = 7 * 24 * 60;

// 立即检查: a pass at once.
Refusal request_check_now();
// 已读: account 1 to 3 as the tools number them, -1 for every account.
Refusal request_acknowledge(int account);
// 开始使用 and 停止使用: Request 1 and 4.
Refusal request_start();
Refusal request_stop();
// 静音 for minutes from now (1 to kLongestSnoozeMinutes); 0 ends the snooze, as 取消静音 does.
Refusal request_snooze(int minutes);

// Whether the menu offers each entry now: the same rules, asked without acting.
bool check_now_possible();
bool start_possible();
bool stop_possible();

// The error name of a refusal on the bus, "org.corvo.kd5lite.Error.<Reason>", and its message.
const char* refusal_error_name(Refusal refusal);
const char* refusal_message(Refusal refusal);
