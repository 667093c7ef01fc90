#pragma once

#include <string>

// One notifier per user login: an exclusive flock on a lock file in $XDG_RUNTIME_DIR (the settings directory when
// that is unset). The lock is held until the process ends; the kernel drops it however the process ends.

enum class InstanceLock {
    held,       // this process is the notifier
    refused,    // another notifier of this user holds the lock
    unavailable // the lock file cannot be made; the notifier runs on without the rule
};

InstanceLock single_instance_lock();

std::string single_instance_path();

// Whether a notifier of this user runs now, found without taking the lock for longer than a moment and without
// creating the lock file or its directory (kd5lite --check).
bool single_instance_held();

// The refusal, shown in a message box or, without a display, on standard error.
inline constexpr char kRefusalMessage[] = "corvo KD-5 lite does not come by multiplex start.";
