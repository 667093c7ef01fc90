// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Gives the log writers their switches and day markers: StateLog and ErrorLog of this program's record, with the
// settings file's word on them when a day begins. Every program calls it at start, before its first log line;
// until then the state and error logs are off.
void connect_log_markers();
