// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The programs the demo starts. Each runs with SIGINT ignored, so that a Ctrl-C, which the terminal sends to the
// whole foreground process group, reaches only the demo, which then ends them in its own order; and each gets
// SIGTERM when the demo dies without cleaning up.
struct Program {
    std::string name; // as the demo reports it
    pid_t pid = -1;   // -1: not running (never started, or ended and reaped)
    int status = 0;   // wait status once reaped
};

// A change to the environment a program inherits: name and value; an empty value removes the variable.
using EnvChange = std::pair<std::string, std::string>;

// Starts path with args, standard input from /dev/null, standard output and error appended to output (this
// process's own when output is empty). False when the program could not be started.
bool program_start(Program& p, const std::string& path, const std::vector<std::string>& args,
                   const std::vector<EnvChange>& env, const std::string& output);

// True while it runs; reaps it once it has ended.
bool program_running(Program& p);

// SIGTERM, then SIGKILL when it has not ended within timeout_ms; always reaped on return.
void program_end(Program& p, int timeout_ms);

// "exit status N" or "killed by signal N", from the status of a reaped program.
std::string program_outcome(const Program& p);
