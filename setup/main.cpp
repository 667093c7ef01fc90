// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/command_line.h"
#include "platform/corvo_dir.h"
#include "platform/secret.h"
#include "settings/log_markers.h"
#include "setup/setup_app.h"

#include <cstdio>

namespace {

constexpr char kUsage[] = "kd5lite_ap [--help | --version]";
constexpr char kDetails[] = "Without options, the setup program of kd5lite: the lamp, the mail accounts, the logs,\n"
                            "and starting and stopping mail monitoring.\n"
                            "--help     shows this text.\n"
                            "--version  shows the version.\n";

} // namespace

int main(int argc, char** argv) {
    // Before anything is made: a mistyped option must not open the window or create the settings directory.
    const CommandLine line = parse_command_line(argc, argv, {});
    if (line.action != CommandLineAction::run) {
        return answer_command_line(line, "kd5lite_ap", kUsage, kDetails, stdout, stderr);
    }
    connect_log_markers();
    switch_core_dumps_off();
    if (!corvo_dir_check_at_start("kd5lite_ap")) {
        return 1;
    }
    CSetupApp app(argc, argv);
    return app.run();
}
