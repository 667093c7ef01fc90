// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Where the notifier's single-instance lock lives: a file of this name in $XDG_RUNTIME_DIR, or in the settings
// directory when that is unset or its lock file cannot be used. The notifier takes it; everyone else only looks.
inline constexpr char kNotifierLockName[] = "corvo KD-5 lite.lock";

// Whether a notifier of this user runs now, in either place of its lock, found without taking the lock for longer
// than a moment and without creating a lock file or its directory (kd5lite --check, the tools' service pages).
bool notifier_lock_held();
