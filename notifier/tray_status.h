// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_ids.h"

#include <array>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

// What the tray shows of the mail monitor: the job thread records each check and each lamp update here, and the
// window thread takes a copy at every tick. The lock is the record's own; nothing else is shared for the tray.

// Whether an account is being watched, as the monitor keeps it from each check's outcome and from its push
// watcher: none for an account that is switched off or not ready; watching while checks succeed; late when none has
// for longer than the grace, for a cause that may mend itself; needs_you for a cause that will not (a refused
// login or sign-in, no token, a locked or empty keyring, a certificate that no longer matches its pin).
enum class Health { none, watching, late, needs_you };

struct AccountStatus {
    bool checked = false; // a check of this account has ended since the notifier started
    bool failed = false;  // the last check failed; count and lit keep what the last check that worked gave
    int count = 0;        // what the last check that worked gave
    bool lit = false;     // its LED is on
    std::time_t when = 0; // when the last check ended
    Health health = Health::none;
    std::string cause{};       // why its last check failed, in plain words; empty after one that worked
    std::string todo{};        // what the user can do about it
    std::time_t last_good = 0; // when a check of it last succeeded; 0 for never
    bool push_down = false;    // its push watcher cannot reconnect: only the interval brings its checks
    std::string folders{};     // an IMAP account of several folders: each with its count ("INBOX 1，Work 2")
    std::vector<FolderTally> folder_counts{}; // the same folders whole, for --status and the session bus
};

struct TrayStatus {
    bool monitoring = false;   // the mail monitor runs
    bool lamp_missing = false; // the last lamp update could not open the lamp
    bool checking = false;     // a pass runs: from its first check to its lamp update
    std::chrono::steady_clock::time_point pass_began{};
    int interval_minutes = 0; // IntervalTimer as the monitor reads it
    std::array<AccountStatus, 3> accounts;
};

void tray_status_monitoring(bool monitoring);
void tray_status_pass_begins();
void tray_status_checked(int account, int count, bool lit, std::time_t when); // a check that worked
void tray_status_check_failed(int account, std::time_t when);
// The account's health as the monitor keeps it, with the words of the cause of its last failed check.
void tray_status_health(int account, Health health, const std::string& cause, const std::string& todo);
void tray_status_push(int account, bool down);
void tray_status_interval(int minutes);
// The folders of an account that watches several, with their counts; none for one.
void tray_status_folders(int account, const std::vector<FolderTally>& folders);
// After each lamp update, which ends a pass: whether the lamp could be opened, and which LEDs it was told to light.
void tray_status_lamp(bool present, const std::array<bool, 3>& lit);
TrayStatus tray_status();

// How the tray icon draws each lamp (red, green, yellow: account order).
enum class LampLook { lit, dark, grey };
std::array<LampLook, 3> tray_look(const TrayStatus& status);

// The tip: the program's name, then per watched account (label not empty) a line with its count and when it was
// last checked, or kNoAccountYet when there is none, then a line when monitoring is off or the lamp is missing.
// Below an account that watches several folders, each folder's count; an account whose last check failed says so,
// with its health, the cause, what to do and its last good check on lines of their own; one whose push is down
// says how often it is checked meanwhile.
std::string tray_tip(const TrayStatus& status, const std::array<std::string, 3>& labels);

// An account's name in the tray and its notifications: the user name when it is an address, else user@server.
std::string account_label(const std::string& id, const std::string& server);
