// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/serverbase/scripted_server.h"

#include <functional>
#include <string>

// Where a scripted server program listens and what it writes beside its answers.
struct ServerProgramOptions {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string port_file;  // also gets the port, written beside it and renamed into place
    std::string transcript; // every command received is appended to it
};

// Runs a scripted server program until SIGINT, SIGTERM or SIGHUP: starts the server, prints the port as the first
// line on standard output, and stops it at the signal. The exit code: 0, or 1 when it could not start (the reason
// on standard error after program's name).
int serve_until_signalled(ScriptedServer& server, const ServerProgramOptions& options, const char* program);

// The command line of a scripted server program: its name and usage text, for the errors that end it with status 2.
struct ServerCommandLine {
    const char* program;
    const char* usage;

    [[noreturn]] void error(const std::string& what) const;
    // A whole number from 0 to 1000000, the value of option.
    int number(const std::string& text, const char* option) const;
    // Walks "--option value" pairs: --help or -h prints the usage and ends the program; --host, --port, --port-file
    // and --transcript go into options; every other pair goes to take, which returns false for an option it does
    // not know.
    void parse(int argc, char** argv, ServerProgramOptions& options,
               const std::function<bool(const std::string& option, const std::string& value)>& take) const;
};
