// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// One notifier per user login: an exclusive flock on a lock file in $XDG_RUNTIME_DIR, or in the settings directory
// when that is unset or its lock file cannot be used (not made, not a regular file of this user). The lock is held
// until the process ends; the kernel drops it however the process ends. Whether a notifier holds it is asked below
// the notifier, in platform/notifier_lock.h, where the --check diagnosis and the tools' service pages look.

enum class InstanceLock {
    held,       // this process is the notifier
    refused,    // another notifier of this user holds the lock
    unavailable // no lock file can be used (error log and standard error say why); runs on without the rule
};

InstanceLock single_instance_lock();

// The refusal, shown in a message box or, without a display, on standard error.
inline constexpr char kRefusalMessage[] = "corvo KD-5 lite does not come by multiplex start.";
// Beside it, for a user who reads no English and wonders where the running notifier is.
inline constexpr char kRefusalNote[] = "kd5lite 已经在运行，不必再启动。它的图标（三个圆灯）在桌面的通知区域里；"
                                       "桌面没有通知区域时（例如未装 AppIndicator 扩展的 GNOME），"
                                       "请用设定程序或选项程序的「服务」页。";
