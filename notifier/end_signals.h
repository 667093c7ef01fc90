// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// SIGTERM and SIGHUP, which a login session's end sends to the processes it leaves behind, are turned into a byte
// on a pipe so that the window thread can end the notifier the same way as on the desktop's session-end request.
// Returns the read end, or -1 when the pipe cannot be made (the signals then keep their default action).
int end_signals_install();

// Reads every byte the signals left on the read end, so that it no longer reads as ready.
void end_signals_drain(int fd);
