// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/discover_command.h"
#include "discovery/published.h"
#include "notifier/bus_probe.h"
#include "notifier/check/check.h"
#include "notifier/notifier_app.h"
#include "notifier/oauth/browser_token_source.h"
#include "notifier/oauth/online_token_source.h"
#include "notifier/service_verbs.h"
#include "platform/command_line.h"
#include "platform/corvo_dir.h"
#include "platform/secret.h"
#include "platform/timing.h"
#include "settings/keys.h"
#include "settings/log_markers.h"

#include <QCoreApplication>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr char kUsage[] =
    "kd5lite [--check | --discover ADDRESS | --status [--json] | --ack [N] | --check-now | --start | "
    "--stop | --snooze MINUTES | --autostart | --help | --version]";
constexpr char kDetails[] =
    "Without options, the mail-arrival notifier in the notification area.\n"
    "--check      says in the terminal whether a notifier runs and monitors mail, and whether the settings,\n"
    "             the lamp, each account and the sound work; exit status 0 when monitoring would light the\n"
    "             lamp now, else 1.\n"
    "--discover ADDRESS\n"
    "             prints what 按地址填写 would fill in for the address, one \"key: value\" line each\n"
    "             (protocol, server, port, security, sign-in, source), looked up from the provider table,\n"
    "             the domain's autoconfig, its DNS SRV and MX records, or the usual server names; exit\n"
    "             status 0 when a server was found and answered, else 1.\n"
    "--status     one line per switched-on account of the running notifier (its number 1 to 3, label,\n"
    "             count, LED and health) and whether monitoring runs; with --json the same as one JSON\n"
    "             object. Exit status 0 when a notifier runs, 3 when none.\n"
    "--ack [N]    acknowledges the mail that waits on account N (1 to 3), or on every account: it no longer\n"
    "             lights the lamp, as the tray menu's 已读 does.\n"
    "--check-now  a check of every account at once, as the tray menu's 立即检查.\n"
    "--start      starts mail monitoring (开始使用).\n"
    "--stop       stops mail monitoring (停止使用).\n"
    "--snooze MINUTES\n"
    "             silences the buzzer and the sounds for MINUTES (1 to 10080) from now, as the tray menu's\n"
    "             静音 does, the LEDs lit as always; 0 ends the snooze.\n"
    "             The verbs talk to the running notifier over the session bus, or through the settings file\n"
    "             where no bus runs (then --status knows no counts, and --check-now, --ack N and --snooze are\n"
    "             refused).\n"
    "             Exit status 0 when the notifier took it, 1 when it cannot now (the reason on standard error),\n"
    "             3 when no notifier runs.\n"
    "--autostart  the notifier, but only for a user who has a settings file: for anyone else it ends at\n"
    "             once and makes nothing (the desktop's autostart entry at login).\n"
    "--help       shows this text.\n"
    "--version    shows the version.\n";

bool settings_file_exists() {
    struct stat st {};
    const std::string dir = corvo_dir();
    return !dir.empty() && lstat(corvo_path(kSettingsFileName).c_str(), &st) == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Before anything is made: a mistyped option must not start a notifier or create its settings directory.
    CommandLine line = parse_command_line(
        argc, argv, {"--check", "--discover", "--autostart", "--status", "--ack", "--check-now", "--start", "--stop",
                     "--snooze"},
        {"--discover", "--snooze"}, {"--status", "--ack"});
    if (line.action == CommandLineAction::run && is_service_verb(line.option) &&
        !verb_value_ok(line.option, line.value)) {
        line = CommandLine{CommandLineAction::usage_error, line.value, {}};
    }
    if (line.action != CommandLineAction::run) {
        return answer_command_line(line, "kd5lite", kUsage, kDetails, stdout, stderr);
    }
    connect_log_markers();
    if (is_service_verb(line.option)) {
        QCoreApplication core(argc, argv); // the bus library wants one
        return run_service_verb(line.option, line.value, stdout, stderr);
    }
    if (line.option == "--discover") {
        QCoreApplication core(argc, argv); // the DNS lookups and the download run in its event loops
        return discover_command(line.value, stdout);
    }
    switch_core_dumps_off(); // the check, like the notifier, holds the accounts' plain passwords
    // The check reports an untrusted settings directory as one of its findings.
    // Accounts signed in with the browser get their access tokens refreshed here; the refresh waits in a Qt event
    // loop, which needs the application object, in the check as in the notifier.
    install_browser_token_source();
    install_online_token_source(); // the desktop's online accounts, over the session bus
    if (line.option == "--check") {
        QCoreApplication core(argc, argv);
        set_published_settings(published_settings_line); // whether each server is what its domain publishes now
        return run_check(stdout);
    }
    // The autostart entry is system-wide: a user who never set kd5lite up gets neither an icon nor a settings
    // directory from it.
    if (line.option == "--autostart" && !settings_file_exists()) {
        return 0;
    }
    if (!corvo_dir_check_at_start("kd5lite")) {
        return 1;
    }
    // Before the first call to the bus library, which would wait for good on a bus that never answers; the
    // application object may make that call already (the desktop's theme, accessibility).
    leave_out_silent_session_bus(timing().bus_answer_ms);
    CNotifierApp::choose_platform();
    CNotifierApp app(argc, argv);
    return app.InitInstance();
}
