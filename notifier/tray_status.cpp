// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/tray_status.h"

#include "gui/service_state.h"
#include "notifier/folder_text.h"
#include "notifier/health_words.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_mutex;
TrayStatus g_status;

const char* const kLampNames[3] = {"红", "绿", "黄"};

// Changes the record of account (0 to 2) under the lock; nothing for any other number.
template <typename Change> void update_account(int account, Change change) {
    if (account < 0 || account >= 3) {
        return;
    }
    std::lock_guard lock(g_mutex);
    change(g_status.accounts[static_cast<std::size_t>(account)]);
}

std::string clock_time(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

// The first words of an account's line: what its last check found, and how its health stands.
std::string account_state(const AccountStatus& a) {
    if (!a.failed) {
        return std::to_string(a.count) + " 封邮件";
    }
    switch (a.health) {
    case Health::late:
        return "未能检查";
    case Health::needs_you:
        return "需要处理";
    default:
        return "检查失败";
    }
}

// The account's line, and under it, indented, its folders' counts where it watches several, why its last check
// failed and what to do, its last good check, or that its push is down.
std::string account_lines(const AccountStatus& a, int interval_minutes) {
    if (!a.checked) {
        return "尚未检查";
    }
    std::string lines = account_state(a) + "（" + clock_time(a.when) + " 检查）";
    if (!a.failed && !a.folders.empty()) {
        lines.append("\n　").append(a.folders);
    }
    if (a.failed) {
        if (!a.cause.empty()) {
            lines.append("\n　").append(a.cause).append("：").append(a.todo);
        }
        lines.append("\n　上次成功检查：").append(health_time(a.last_good, a.when));
    } else if (a.push_down) {
        lines.append("\n　推送中断，");
        lines += interval_minutes > 0 ? "每 " + std::to_string(interval_minutes) + " 分钟检查一次" : "按检查间隔检查";
    }
    return lines;
}

} // namespace

void tray_status_monitoring(bool monitoring) {
    std::lock_guard lock(g_mutex);
    g_status.monitoring = monitoring;
    g_status.checking = false;
}

void tray_status_pass_begins() {
    std::lock_guard lock(g_mutex);
    g_status.checking = true;
    g_status.pass_began = std::chrono::steady_clock::now();
}

void tray_status_checked(int account, int count, bool lit, std::time_t when) {
    update_account(account, [&](AccountStatus& a) {
        a.checked = true;
        a.failed = false;
        a.count = count;
        a.lit = lit;
        a.when = when;
        a.last_good = when;
    });
}

void tray_status_check_failed(int account, std::time_t when) {
    update_account(account, [&](AccountStatus& a) {
        a.checked = true;
        a.failed = true;
        a.when = when;
    });
}

void tray_status_health(int account, Health health, const std::string& cause, const std::string& todo) {
    update_account(account, [&](AccountStatus& a) {
        a.health = health;
        a.cause = cause;
        a.todo = todo;
    });
}

void tray_status_push(int account, bool down) {
    update_account(account, [&](AccountStatus& a) { a.push_down = down; });
}

void tray_status_interval(int minutes) {
    std::lock_guard lock(g_mutex);
    g_status.interval_minutes = minutes;
}

void tray_status_folders(int account, const std::vector<FolderTally>& folders) {
    update_account(account, [&](AccountStatus& a) {
        a.folders = folder_counts_text(folders);
        a.folder_counts = folders;
    });
}

void tray_status_lamp(bool present, const std::array<bool, 3>& lit) {
    std::lock_guard lock(g_mutex);
    g_status.lamp_missing = !present;
    g_status.checking = false;
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
            tip += account_lines(status.accounts[i], status.interval_minutes);
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
