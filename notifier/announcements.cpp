// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/announcements.h"

#include "notifier/folder_text.h"

#include "lamp/quiet.h"
#include "logging/log.h"
#include "mail/core/header_text.h"
#include "notifier/announced_memory.h"
#include "notifier/folder_text.h"
#include "notifier/tray_status.h"
#include "platform/corvo_dir.h"
#include "platform/profile.h"
#include "settings/key_values.h"
#include "settings/settings_access.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <utility>

namespace {

std::mutex g_mutex;
std::vector<Announcement> g_waiting;

// A monitor that runs while the window thread is held (a modal box) must not pile announcements up.
constexpr std::size_t kWaitingMax = 30;
constexpr std::size_t kBodyLines = 3;

// What an account's notification tells of while it stands, so that the next pass adds to it or takes it away.
struct Standing {
    bool open = false;
    bool by_id = false;
    std::set<std::string> ids; // by id: the new messages it tells of
    long long fresh = 0;       // how many it tells of
    long long count = 0;       // the waiting count when it last told: by count, fewer means mail was read
    std::vector<std::pair<std::string, NewMessage>> rows; // newest first, by id where known
};

bool g_loaded = false;
AnnouncedMemory g_memory[3];
Standing g_standing[3];

std::atomic<bool> g_server_sounds{false};
std::atomic<bool> g_theme_taken[3];

bool valid(int account) {
    return account >= 0 && account < 3;
}

AccountIdentity identity_of(const Account& a) {
    return {a.server, a.user, std::to_string(static_cast<int>(a.protocol)) + "/" + a.folder};
}

void load_locked() {
    if (g_loaded) {
        return;
    }
    g_loaded = true;
    std::string text;
    if (!profile_read(announced_file_path().c_str(), text)) {
        write_error_logf("announce ---> Reading abnormality of the state file[error: %d]", errno);
    }
    announced_file_parse(text, g_memory);
}

void save_locked() {
    if (!corvo_dir_ensure() || !profile_replace(announced_file_path(), announced_file_text(g_memory))) {
        write_error_logf("announce ---> Writing abnormality of the state file[error: %d]", errno);
    }
}

void queue_locked(Announcement a) {
    if (g_waiting.size() < kWaitingMax) {
        g_waiting.push_back(std::move(a));
    }
}

// Whether the mail a standing notification told of has gone (read elsewhere, acknowledged, taken away); keeps the
// rows of what is still there.
bool standing_gone(Standing& s, int count, const CheckIds& ids) {
    if (count <= 0) {
        return true;
    }
    if (!s.by_id || !ids.known) {
        return count < s.count;
    }
    std::set<std::string> waiting;
    for (const CountedMessage& m : ids.messages) {
        waiting.insert(m.id);
    }
    std::erase_if(s.ids, [&](const std::string& id) { return !waiting.contains(id); });
    std::erase_if(s.rows, [&](const auto& row) { return !row.first.empty() && !waiting.contains(row.first); });
    s.fresh = static_cast<long long>(s.ids.size());
    return s.ids.empty();
}

// The rows of this pass's headers, newest first, then those the notification showed before.
void add_rows(Standing& s, const FreshMail& fresh, const CheckIds& ids) {
    std::vector<std::pair<std::string, NewMessage>> rows;
    for (std::size_t k = 0; k < ids.newest_headers.size(); ++k) {
        const std::string id = k < ids.newest_ids.size() ? ids.newest_ids[k] : std::string();
        if (fresh.by_id && !fresh.ids.contains(id)) {
            continue;
        }
        MessageSummary summary = summarize_headers(ids.newest_headers[k]);
        const std::string folder = k < ids.newest_folders.size() ? folder_label(ids.newest_folders[k]) : "";
        rows.push_back({id, {summary.sender, summary.subject, folder}});
    }
    for (auto& row : s.rows) {
        if (rows.size() < kBodyLines) {
            rows.push_back(std::move(row));
        }
    }
    s.rows = std::move(rows);
}

} // namespace

void announce(Announcement announcement) {
    std::lock_guard lock(g_mutex);
    queue_locked(std::move(announcement));
}

std::vector<Announcement> take_announcements() {
    std::lock_guard lock(g_mutex);
    return std::exchange(g_waiting, {});
}

std::string announced_file_path() {
    return corvo_path("corvo_kd5lite.announced");
}

std::function<bool(std::string_view, std::string_view)> announced_filter(const Account& account) {
    if (!valid(account.index)) {
        return {};
    }
    std::lock_guard lock(g_mutex);
    load_locked();
    return [memory = g_memory[account.index], identity = identity_of(account)](std::string_view validity,
                                                                               std::string_view id) {
        return was_announced(memory, identity, validity, id);
    };
}

void news_after_check(const Account& account, int count, const CheckIds& ids) {
    const int i = account.index;
    if (!valid(i)) {
        return;
    }
    std::lock_guard lock(g_mutex);
    load_locked();
    bool changed = false;
    const FreshMail fresh = take_check(g_memory[i], identity_of(account), count, ids, &changed);
    if (changed) {
        save_locked();
    }
    Standing& s = g_standing[i];
    g_theme_taken[i] = false;
    if (s.open && standing_gone(s, count, ids)) {
        s = Standing{};
        Announcement gone;
        gone.kind = Announcement::Kind::withdrawn;
        gone.account = i;
        queue_locked(std::move(gone));
    }
    if (fresh.count <= 0) {
        return;
    }
    Announcement a;
    // Without a desktop notification (the user wants the lamp and the buzzer only) the bus and the hook still hear
    // of this pass's new mail; nothing stands to replace.
    a.desktop = account_notifies(i);
    Standing alone;
    Standing& shown = a.desktop ? s : alone;
    shown.open = a.desktop;
    shown.by_id = fresh.by_id;
    shown.ids.insert(fresh.ids.begin(), fresh.ids.end());
    shown.fresh = fresh.by_id ? static_cast<long long>(shown.ids.size()) : shown.fresh + fresh.count;
    shown.count = count;
    add_rows(shown, fresh, ids);

    a.account = i;
    a.label = account_label(account.user, account.server); // where the check read it: an online account's own
    a.count = count;
    a.fresh = static_cast<int>(std::min<long long>(shown.fresh, count));
    for (const auto& row : shown.rows) {
        a.newest.push_back(row.second);
    }
    const QuietNow quiet = quiet_now();
    const MailSound sound = mail_sound(beep_count(), !settings_get(Key::SoundFile, i).empty(), quiet.quiet);
    a.quiet = quiet.quiet;
    a.sound_by_notification = a.desktop && sound == MailSound::theme && g_server_sounds.load();
    g_theme_taken[i] = a.sound_by_notification;
    queue_locked(std::move(a));
}

void forget_standing_notification(int account) {
    std::lock_guard lock(g_mutex);
    for (int i = 0; i < 3; ++i) {
        if (account == -1 || account == i) {
            g_standing[i] = Standing{};
        }
    }
}

void set_notification_sounds(bool offered) {
    g_server_sounds = offered;
}

bool theme_sound_taken(int led) {
    return valid(led) && g_theme_taken[led].exchange(false);
}

std::string markup_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

NotificationText notification_text(const Announcement& a, bool markup) {
    NotificationText text;
    text.summary = a.label + "：" + std::to_string(a.fresh) + " 封新邮件";
    if (a.count > a.fresh) {
        text.summary += "（共 " + std::to_string(a.count) + " 封）";
    }
    auto shown = [markup](const std::string& t) { return markup ? markup_escaped(t) : t; };
    for (std::size_t i = 0; i < a.newest.size() && i < kBodyLines; ++i) {
        if (!text.body.empty()) {
            text.body += "\n";
        }
        if (!a.newest[i].folder.empty()) {
            text.body += shown(a.newest[i].folder) + " · ";
        }
        text.body += shown(a.newest[i].sender) + "：" + shown(a.newest[i].subject);
    }
    if (!text.body.empty() && a.fresh > static_cast<int>(std::min(a.newest.size(), kBodyLines))) {
        text.body += "\n……";
    }
    return text;
}

void announcements_reset_for_test() {
    std::lock_guard lock(g_mutex);
    g_waiting.clear();
    g_loaded = false;
    for (int i = 0; i < 3; ++i) {
        g_memory[i] = AnnouncedMemory{};
        g_standing[i] = Standing{};
        g_theme_taken[i] = false;
    }
}
