// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/serverbase/server_program.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pthread.h>

namespace {

// Written beside the target and renamed over it, so that a reader never sees half a number.
bool write_port_file(const std::string& path, int port) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << "\n";
        if (!out) {
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace

int serve_until_signalled(ScriptedServer& server, const ServerProgramOptions& options, const char* program) {
    // The signals are taken by sigwait below; blocked before the server thread starts, they stay blocked there.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::ofstream transcript; // outlives the server thread, which writes to it
    if (!options.transcript.empty()) {
        transcript.open(options.transcript, std::ios::app);
        server.on_command([&transcript](const std::string& line) { transcript << line << std::endl; });
    }
    if (!server.start(options.host, options.port)) {
        std::fprintf(stderr, "%s: %s\n", program, server.error().c_str());
        return 1;
    }
    if (!options.port_file.empty() && !write_port_file(options.port_file, server.port())) {
        std::fprintf(stderr, "%s: cannot write %s\n", program, options.port_file.c_str());
        server.stop();
        return 1;
    }
    std::printf("%d\n", server.port());
    std::fflush(stdout);

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.stop();
    return 0;
}

void ServerCommandLine::error(const std::string& what) const {
    std::fprintf(stderr, "%s: %s\n%s", program, what.c_str(), usage);
    std::exit(2);
}

int ServerCommandLine::number(const std::string& text, const char* option) const {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 1000000) {
        error(std::string("bad number for ") + option + ": " + text);
    }
    return static_cast<int>(value);
}

void ServerCommandLine::parse(int argc, char** argv, ServerProgramOptions& options,
                              const std::function<bool(const std::string&, const std::string&)>& take) const {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            error("missing value for " + option);
        }
        std::string value = argv[++i];
        if (option == "--host") {
            options.host = value;
        } else if (option == "--port") {
            options.port = number(value, "--port");
        } else if (option == "--port-file") {
            options.port_file = value;
        } else if (option == "--transcript") {
            options.transcript = value;
        } else if (!take(option, value)) {
            error("unknown option " + option);
        }
    }
}
