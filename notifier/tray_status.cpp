// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/tray_status.h"

#include "gui/service_state.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_mutex;
TrayStatus g_status;

const char* const kLampNames[3] = {"红", "绿", "黄"};

bool valid(int account) {
    return account >= 0 && account < 3;
}

std::string clock_time(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string account_line(const AccountStatus& a) {
    if (!a.checked) {
        return "尚未检查";
    }
    std::string line;
    if (a.failed) {
        line = "检查失败";
    } else {
        line = std::to_string(a.count) + " 封邮件";
    }
    return line + "（" + clock_time(a.when) + " 检查）";
}

} // namespace

void tray_status_monitoring(bool monitoring) {
    std::lock_guard lock(g_mutex);
    g_status.monitoring = monitoring;
}

void tray_status_checked(int account, int count, bool lit, std::time_t when) {
    if (!valid(account)) {
        return;
    }
    std::lock_guard lock(g_mutex);
    AccountStatus& a = g_status.accounts[static_cast<std::size_t>(account)];
    a.checked = true;
    a.failed = false;
    a.count = count;
    a.lit = lit;
    a.when = when;
}

void tray_status_check_failed(int account, std::time_t when) {
    if (!valid(account)) {
        return;
    }
    std::lock_guard lock(g_mutex);
    AccountStatus& a = g_status.accounts[static_cast<std::size_t>(account)];
    a.checked = true;
    a.failed = true;
    a.when = when;
}

void tray_status_folders(int account, std::string folders) {
    if (!valid(account)) {
        return;
    }
    std::lock_guard lock(g_mutex);
    g_status.accounts[static_cast<std::size_t>(account)].folders = std::move(folders);
}

void tray_status_lamp(bool present, const std::array<bool, 3>& lit) {
    std::lock_guard lock(g_mutex);
    g_status.lamp_missing = !present;
    for (std::size_t i = 0; i < lit.size(); ++i) {
        g_status.accounts[i].lit = lit[i];
    }
}

TrayStatus tray_status() {
    std::lock_guard lock(g_mutex);
    return g_status;
}

std::array<LampLook, 3> tray_look(const TrayStatus& status) {
    std::array<LampLook, 3> look{};
    for (std::size_t i = 0; i < look.size(); ++i) {
        if (!status.monitoring || status.lamp_missing) {
            look[i] = LampLook::grey; // the lamp says nothing now, and neither does the icon
        } else {
            look[i] = status.accounts[i].lit ? LampLook::lit : LampLook::dark;
        }
    }
    return look;
}

std::string tray_tip(const TrayStatus& status, const std::array<std::string, 3>& labels) {
    std::string tip = "corvo KD5 lite";
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (!labels[i].empty()) {
            // Appended piece by piece: GCC 12 warns (-Wrestrict) on the chain of temporaries in a Release build.
            tip.append("\n").append(kLampNames[i]).append(" ").append(labels[i]).append("：");
            tip += account_line(status.accounts[i]);
            if (!status.accounts[i].folders.empty()) {
                tip.append("\n　").append(status.accounts[i].folders);
            }
        }
    }
    bool any = false;
    for (const std::string& label : labels) {
        any = any || !label.empty();
    }
    if (!any) {
        tip += "\n" + std::string(kNoAccountYet);
    }
    if (!status.monitoring) {
        tip += "\n邮件检查已停止";
    } else if (status.lamp_missing) {
        tip += "\n找不到 KD-5lite";
    }
    return tip;
}

std::string account_label(const std::string& id, const std::string& server) {
    if (id.find('@') != std::string::npos || server.empty()) {
        return id;
    }
    return id + "@" + server;
}
