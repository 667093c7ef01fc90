// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings.h"

#include <cstring>

Settings g_settings{};

void settings_clear() { std::memset(&g_settings, 0, sizeof g_settings); }
