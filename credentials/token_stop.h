// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>

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

// The process groups of token commands under way: a raise kills them at once, from the raising thread, so that
// none outlives a program that ends right after its stop (the fetching thread may never run again).
void token_stop_add_group(int pgid);
void token_stop_remove_group(int pgid);

// An eventfd that is readable while the signal is raised, for a poll() or an event loop's notifier; -1 when none
// could be had (the fetches are then bounded by their own time limits and the look alone).
int token_stop_fd();

// The look at a stop asked for elsewhere; nullptr for none. Called from the fetching threads.
void set_token_stop_look(bool (*look)());

// Whether a fetch should give up now: the signal is raised, or the look says stop (which raises it).
bool token_stop_asked();

// How long a fetch may wait before it looks again, within remaining_ms (negative: no end): the whole of it without
// a look.
int token_stop_slice_ms(int remaining_ms);

// One fetch at a time where two would ask for one thing (a check and an IDLE watcher refreshing one account's
// token), as a mutex would, but a wait for it ends at a stop.
class TokenTurn {
public:
    TokenTurn();
    ~TokenTurn();
    TokenTurn(const TokenTurn&) = delete;
    TokenTurn& operator=(const TokenTurn&) = delete;

    // Waits for the turn; false, without it, when a stop came first (unless stoppable is false).
    bool take(bool stoppable = true);
    void give();

private:
    int fd_ = -1;      // an eventfd semaphore holding 1 while the turn is free
    std::mutex mutex_; // the turn itself when no eventfd could be had: then only the holder's end ends the wait
};

// Holds a turn taken, and gives it back at the end of the scope.
class TokenTurnHeld {
public:
    explicit TokenTurnHeld(TokenTurn& turn, bool stoppable = true) : turn_(turn), held_(turn.take(stoppable)) {}
    ~TokenTurnHeld() {
        if (held_) {
            turn_.give();
        }
    }
    TokenTurnHeld(const TokenTurnHeld&) = delete;
    TokenTurnHeld& operator=(const TokenTurnHeld&) = delete;
    bool held() const { return held_; }

private:
    TokenTurn& turn_;
    bool held_;
};
