// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// A program of the user's own run as a child (a token command, the hook command): argv without a shell, standard
// input /dev/null, a process group of its own that ends with it, bounded in time and in what it prints. The end
// of the program ends the run: what it printed until then counts, and whatever it left running in its group is
// killed, as the whole group is at a time-out, too much output or a stop.

// A setting split on runs of spaces into the program and its arguments; empty when there is nothing but spaces.
std::vector<std::string> split_command_words(std::string_view command);

// What cuts a run short from elsewhere; every member may be left empty.
struct ChildStop {
    bool (*asked)() = nullptr;           // whether the run is to end now
    int fd = -1;                         // readable once it is
    int (*slice_ms)(int left) = nullptr; // how long one wait may last before asked is looked at again
    // The child's process group while it runs, for a stop that kills it from another thread.
    void (*add_group)(int pgid) = nullptr;
    void (*remove_group)(int pgid) = nullptr;
};

struct ChildRun {
    std::vector<std::string> argv;
    std::vector<std::string> environment; // "NAME=value" entries set over the program's own environment
    int timeout_ms = 0;
    std::size_t output_max = 4096; // standard output beyond this ends the child
    ChildStop stop;
};

struct ChildResult {
    enum class End {
        exited,    // it ended by itself: status holds its wait status
        not_run,   // no program, or one that cannot be started: error holds errno
        timed_out, // still running after the time limit
        too_long,  // printed more than output_max bytes
        cancelled, // a stop came, or was there before it started
    };
    End end = End::not_run;
    int status = 0;
    int error = 0;
    std::string output; // its standard output, up to output_max bytes; the caller wipes it when it is a secret
    std::string errors; // the first 4096 bytes of its standard error
};

ChildResult run_child(const ChildRun& run);

// The process groups of children under way, for a stop or an end that must not leave them behind: the stopping
// thread kills them at once, since the thread that runs a child may never run again before the program ends.
class ChildGroups {
public:
    // A group that is added while the groups are ended is killed at once: the end came while it was started.
    void add(int pgid);
    void remove(int pgid);
    // Kills every group, and every one added until reopen().
    void end_all();
    void reopen();
    bool ended() const;

private:
    mutable std::mutex mutex_;
    std::set<int> groups_; // a group stays here until its leader is reaped: its ID cannot name another meanwhile
    bool ended_ = false;
};

// The first line of text, cut to max bytes, every byte that could break a log line replaced by '?'.
std::string first_log_line(const std::string& text, std::size_t max);
