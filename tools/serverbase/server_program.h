#pragma once

#include "tools/serverbase/scripted_server.h"

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
