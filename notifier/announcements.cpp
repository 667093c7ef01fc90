// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/announcements.h"

#include <mutex>
#include <utility>

namespace {

std::mutex g_mutex;
std::vector<Announcement> g_waiting;

// A monitor that runs while the window thread is held (a modal box) must not pile announcements up.
constexpr std::size_t kWaitingMax = 30;
constexpr std::size_t kBodyLines = 3;

} // namespace

void announce(Announcement announcement) {
    std::lock_guard lock(g_mutex);
    if (g_waiting.size() < kWaitingMax) {
        g_waiting.push_back(std::move(announcement));
    }
}

std::vector<Announcement> take_announcements() {
    std::lock_guard lock(g_mutex);
    return std::exchange(g_waiting, {});
}

std::string markup_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c; break;
        }
    }
    return out;
}

NotificationText notification_text(const Announcement& a) {
    NotificationText text;
    text.summary = a.label + "：" + std::to_string(a.count) + " 封新邮件";
    for (std::size_t i = 0; i < a.newest.size() && i < kBodyLines; ++i) {
        if (!text.body.empty()) {
            text.body += "\n";
        }
        if (!a.newest[i].folder.empty()) {
            text.body += markup_escaped(a.newest[i].folder) + " · ";
        }
        text.body += markup_escaped(a.newest[i].sender) + "：" + markup_escaped(a.newest[i].subject);
    }
    if (a.newest.size() > kBodyLines) {
        text.body += "\n……";
    }
    return text;
}
