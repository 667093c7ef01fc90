// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/announcements.h"
#include "notifier/tray_status.h"

#include <array>
#include <ctime>
#include <string>
#include <vector>

// What the notifier shows of itself to other programs (its session bus service, kd5lite --status, the hook
// command): whether the monitor runs and, per switched-on account, what its LED shows and how its health stands.
// The account is named by its label alone: no server name, user name or secret beyond what the label says.

struct FolderView {
    std::string name; // as the server names it, in UTF-8
    long long count = 0;
    bool operator==(const FolderView&) const = default;
};

struct AccountView {
    bool on = false;            // switched on with a mail ID; the others are left out of every listing
    std::string label;          // account_label
    std::string protocol;       // "pop3", "imap" or "unknown"
    int count = 0;              // what its LED shows
    bool lit = false;           // its LED is on
    std::string health;         // health_name
    std::string cause;          // why its last check failed, in plain words; empty after one that worked
    std::time_t last_check = 0; // its last good check as a Unix time; 0 for never
    bool known = true;          // count, LED and health known: not without the session bus, from the mailbox alone
    std::vector<FolderView> folders; // an IMAP account of several folders: each with its count; none for one
    bool operator==(const AccountView&) const = default;
};

struct ServiceView {
    bool monitoring = false;
    // Quiet (lamp/quiet.h): the sounds silent, the LEDs as always. quiet_until is when it ends, 0 where the desktop
    // decides; quiet_known is false without the session bus, from the mailbox alone.
    bool quiet = false;
    std::time_t quiet_until = 0;
    bool quiet_known = true;
    std::array<AccountView, 3> accounts; // by index; numbered 1 to 3 outside, as the tools number them
    bool operator==(const ServiceView&) const = default;
};

// "none", "watching", "late", "needs_you".
const char* health_name(Health health);

// The labels of the watched accounts as the settings record holds them now; empty for the others.
std::array<std::string, 3> account_labels();

// The view of the monitor's record and the settings record now.
ServiceView read_service_view();

// What other programs are told of: new mail on an account (with its senders and subjects), mail that no longer
// lights it (read elsewhere or acknowledged), another set of lit LEDs, another health or cause.
enum class ServiceEventKind { mail, read, lamp, health };
inline constexpr int kServiceEventKinds = 4;

// "mail", "read", "lamp", "health".
const char* service_event_name(ServiceEventKind kind);

struct ServiceEvent {
    ServiceEventKind kind = ServiceEventKind::lamp;
    int account = -1; // the index 0 to 2; -1 for the lamp as a whole
};

// The read, lamp and health events between two views, in that order; new mail comes from the announcements.
std::vector<ServiceEvent> view_events(const ServiceView& before, const ServiceView& now);

// kd5lite --status: one line per switched-on account (number, label, count, LED, health and cause), then whether
// monitoring runs and, while quiet, until when ("quiet: until 2026-12-09 07:00", local time). Labels and causes are
// cleaned of control characters for the terminal.
std::string status_text(const ServiceView& view);
// kd5lite --status --json: one JSON object; quiet_until is null while not quiet or where the desktop decides the
// end, and "quiet" says which. What is not known is null.
std::string status_json(const ServiceView& view);

// The view kd5lite --status gives where no session bus runs: the accounts as the settings file has them, with
// nothing known of their mail, and whether monitoring runs as the command mailbox says.
ServiceView read_mailbox_view();
