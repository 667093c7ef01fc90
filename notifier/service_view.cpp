// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/service_view.h"

#include "gui/service_state.h"
#include "lamp/quiet.h"
#include "mail/core/header_text.h"
#include "mail/net/server_name.h"
#include "settings/key_values.h"
#include "platform/clock.h"
#include "settings/settings_access.h"

#include <cstdio>
#include <ctime>

namespace {

// Long enough for any label the settings hold (an ID and a server name); the cut only guards the terminal.
constexpr std::size_t kShownChars = 300;

const char* protocol_name(MailProtocol protocol) {
    switch (protocol) {
    case MailProtocol::pop3:
        return "pop3";
    case MailProtocol::imap:
        return "imap";
    default:
        return "unknown";
    }
}

// A JSON string (RFC 8259 7): the quote, the backslash and every control character escaped. The text is valid
// UTF-8 already (tidy_text), so everything else goes as it is.
std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string shown(const std::string& text) {
    return tidy_text(text, kShownChars);
}

// The tray's words name the server ("无法连接 pop.example.org"); other programs get the account's label and no
// more, so where the label does not name the server the words say "服务器" instead.
std::string without_host(std::string cause, const std::string& host, const std::string& label) {
    if (host.empty() || label.find(host) != std::string::npos) {
        return cause;
    }
    for (std::size_t at = cause.find(host); at != std::string::npos; at = cause.find(host, at)) {
        cause.replace(at, host.size(), "服务器");
    }
    return cause;
}

// "2026-12-09 07:00" in local time.
std::string local_minute(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

} // namespace

const char* health_name(Health health) {
    switch (health) {
    case Health::watching:
        return "watching";
    case Health::late:
        return "late";
    case Health::needs_you:
        return "needs_you";
    default:
        return "none";
    }
}

std::array<std::string, 3> account_labels() {
    std::array<std::string, 3> labels;
    for (int i = 0; i < 3; ++i) {
        if (account_watched(i)) {
            labels[static_cast<std::size_t>(i)] =
                account_label(settings_get(Key::ID, i), settings_get(Key::ServerName, i));
        }
    }
    return labels;
}

ServiceView read_service_view() {
    const TrayStatus status = tray_status();
    const std::array<std::string, 3> labels = account_labels();
    ServiceView view;
    view.monitoring = status.monitoring;
    const QuietNow quiet = quiet_at(clock_now());
    view.quiet = quiet.quiet;
    view.quiet_until = quiet.quiet ? quiet.until : 0;
    for (std::size_t i = 0; i < view.accounts.size(); ++i) {
        AccountView& a = view.accounts[i];
        const AccountStatus& s = status.accounts[i];
        a.on = !labels[i].empty();
        if (!a.on) {
            continue;
        }
        a.label = labels[i];
        a.protocol = protocol_name(account_protocol(static_cast<int>(i)));
        a.count = s.count;
        a.lit = status.monitoring && s.lit;
        a.health = health_name(s.health);
        a.cause =
            without_host(s.cause, split_server_name(settings_get(Key::ServerName, static_cast<int>(i))).host, a.label);
        a.last_check = s.last_good;
        if (!s.failed) { // a failed check's folder counts are the last good one's, as the tip leaves them out
            for (const FolderTally& f : s.folder_counts) {
                a.folders.push_back({f.name, f.count});
            }
        }
    }
    return view;
}

const char* service_event_name(ServiceEventKind kind) {
    switch (kind) {
    case ServiceEventKind::mail:
        return "mail";
    case ServiceEventKind::read:
        return "read";
    case ServiceEventKind::lamp:
        return "lamp";
    case ServiceEventKind::health:
        return "health";
    }
    return "";
}

std::vector<ServiceEvent> view_events(const ServiceView& before, const ServiceView& now) {
    std::vector<ServiceEvent> events;
    bool lamp = false;
    for (std::size_t i = 0; i < now.accounts.size(); ++i) {
        const AccountView& b = before.accounts[i];
        const AccountView& a = now.accounts[i];
        const int index = static_cast<int>(i);
        if (a.on && b.on && a.count < b.count) {
            events.push_back({ServiceEventKind::read, index});
        }
        lamp = lamp || a.lit != b.lit;
    }
    if (lamp) {
        events.push_back({ServiceEventKind::lamp, -1});
    }
    for (std::size_t i = 0; i < now.accounts.size(); ++i) {
        const AccountView& b = before.accounts[i];
        const AccountView& a = now.accounts[i];
        if (a.on && b.on && (a.health != b.health || a.cause != b.cause)) {
            events.push_back({ServiceEventKind::health, static_cast<int>(i)});
        }
    }
    return events;
}

std::string status_text(const ServiceView& view) {
    std::string text;
    for (std::size_t i = 0; i < view.accounts.size(); ++i) {
        const AccountView& a = view.accounts[i];
        if (!a.on) {
            continue;
        }
        text += "account " + std::to_string(i + 1) + ": " + shown(a.label) + ": ";
        if (!a.known) {
            text += "count not known without the session bus\n";
            continue;
        }
        text += std::to_string(a.count) + " message" + (a.count == 1 ? "" : "s") + ", LED " + (a.lit ? "on" : "off") +
                ", " + a.health;
        if (!a.cause.empty()) {
            text += " (" + shown(a.cause) + ")";
        }
        text += "\n";
        for (const FolderView& f : a.folders) {
            text += "  folder " + shown(f.name) + ": " + std::to_string(f.count) + "\n";
        }
    }
    text += view.monitoring ? "monitoring: on\n" : "monitoring: off\n";
    if (view.quiet_known && view.quiet) {
        text += view.quiet_until == 0 ? "quiet: while the desktop asks not to be disturbed\n"
                                      : "quiet: until " + local_minute(view.quiet_until) + "\n";
    }
    return text;
}

namespace {

// Only an account of several folders has the member: the others keep the shape scripts already read.
std::string folders_json(const std::vector<FolderView>& folders) {
    if (folders.empty()) {
        return "";
    }
    std::string json = ", \"folders\": [";
    for (std::size_t i = 0; i < folders.size(); ++i) {
        json += (i == 0 ? "{\"folder\": " : ", {\"folder\": ") + json_string(shown(folders[i].name)) +
                ", \"count\": " + std::to_string(folders[i].count) + "}";
    }
    return json + "]";
}

} // namespace

std::string status_json(const ServiceView& view) {
    std::string json = "{\"monitoring\": ";
    json += view.monitoring ? "true" : "false";
    json += ", \"quiet_until\": ";
    json += view.quiet_known && view.quiet && view.quiet_until != 0
                ? std::to_string(static_cast<long long>(view.quiet_until))
                : "null";
    json += ", \"quiet\": ";
    json += !view.quiet_known ? "null" : view.quiet ? "true" : "false";
    json += ", \"accounts\": [";
    bool first = true;
    for (std::size_t i = 0; i < view.accounts.size(); ++i) {
        const AccountView& a = view.accounts[i];
        if (!a.on) {
            continue;
        }
        json += first ? "" : ", ";
        first = false;
        const bool never = !a.known || a.last_check == 0;
        json += "{\"account\": " + std::to_string(i + 1) + ", \"label\": " + json_string(shown(a.label)) +
                ", \"protocol\": " + json_string(a.protocol) +
                ", \"count\": " + (a.known ? std::to_string(a.count) : "null") +
                ", \"lit\": " + (a.known ? (a.lit ? "true" : "false") : "null") +
                ", \"health\": " + (a.known ? json_string(a.health) : "null") +
                ", \"cause\": " + json_string(shown(a.cause)) + ", \"last_check\": " +
                (never ? std::string("null") : std::to_string(static_cast<long long>(a.last_check))) +
                folders_json(a.folders) + "}";
    }
    return json + "]}\n";
}

ServiceView read_mailbox_view() {
    for (int i = 0; i < 3; ++i) {
        for (Key key : {Key::Switch, Key::ID, Key::ServerName, Key::Protocol}) {
            ini_read_key(key, i);
        }
    }
    ServiceView view;
    view.monitoring = read_monitoring_runs();
    view.quiet_known = false; // the snooze and the desktop's wish live in the notifier alone
    const std::array<std::string, 3> labels = account_labels();
    for (std::size_t i = 0; i < view.accounts.size(); ++i) {
        AccountView& a = view.accounts[i];
        a.on = !labels[i].empty();
        a.label = labels[i];
        a.protocol = a.on ? protocol_name(account_protocol(static_cast<int>(i))) : "";
        a.known = false;
    }
    return view;
}
