// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>

// Guards every copy into or out of a g_settings field made by the access operations, so a field refreshed by one
// thread is never read half-written by the other. Held only while a field is copied.
std::mutex& settings_field_mutex();
