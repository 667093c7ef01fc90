// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What cuts a token fetch short (a token command, a refresh at the token endpoint, a call to the desktop's online
// accounts): the monitor's stop and the program's end. A fetch may wait for seconds on a program or a server of
// someone else's; a stop must not.
//
// One signal for the process: raised, every fetch under way ends at once, and every fetch begun while it stays
// raised ends before it waits; cleared when monitoring starts again. Beside it, a look at a stop asked for
// elsewhere (the notifier's check pass reads Request from the settings file): each fetch makes it between its waits,
// at most every stop_poll_ms of the timing record, and a look that says stop raises the signal.

// Raises and clears the signal. Safe from any thread; not from a signal handler.
void token_stop_raise();
void token_stop_clear();

// An eventfd that is readable while the signal is raised, for a poll() or an event loop's notifier; -1 when none
// could be had (the fetches are then bounded by their own time limits and the look alone).
int token_stop_fd();

// The look at a stop asked for elsewhere; nullptr for none. Called from the fetching threads.
void set_token_stop_look(bool (*look)());

// Whether a fetch should give up now: the signal is raised, or the look says stop (which raises it).
bool token_stop_asked();

// How long a fetch may wait before it looks again, within remaining_ms: the whole of it without a look.
int token_stop_slice_ms(int remaining_ms);
