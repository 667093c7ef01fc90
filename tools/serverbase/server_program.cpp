#include "tools/serverbase/server_program.h"

#include <csignal>
#include <cstdio>
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
