// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/option_app.h"
#include "platform/command_line.h"
#include "platform/corvo_dir.h"
#include "platform/secret.h"
#include "settings/log_markers.h"

#include <cstdio>

namespace {

constexpr char kUsage[] = "kd5lite_op [--help | --version]";
constexpr char kDetails[] = "Without options, the option program of kd5lite: the senders that count and the sound of\n"
                            "each account, its protocol, connection security and folder, and starting and stopping\n"
                            "mail monitoring.\n"
                            "--help     shows this text.\n"
                            "--version  shows the version.\n";

} // namespace

int main(int argc, char** argv) {
    // Before anything is made: a mistyped option must not open the window or create the settings directory.
    const CommandLine line = parse_command_line(argc, argv, {});
    if (line.action != CommandLineAction::run) {
        return answer_command_line(line, "kd5lite_op", kUsage, kDetails, stdout, stderr);
    }
    connect_log_markers();
    switch_core_dumps_off();
    if (!corvo_dir_check_at_start("kd5lite_op")) {
        return 1;
    }
    COptionApp app(argc, argv);
    return app.run();
}
