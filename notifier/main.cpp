// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/discover_command.h"
#include "discovery/published.h"
#include "notifier/check/check.h"
#include "notifier/notifier_app.h"
#include "notifier/oauth/browser_token_source.h"
#include "notifier/oauth/online_token_source.h"
#include "platform/command_line.h"
#include "platform/corvo_dir.h"
#include "platform/secret.h"
#include "settings/keys.h"
#include "settings/log_markers.h"

#include <QCoreApplication>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr char kUsage[] = "kd5lite [--check | --discover ADDRESS | --autostart | --help | --version]";
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
    const CommandLine line = parse_command_line(argc, argv, {"--check", "--discover", "--autostart"}, {"--discover"});
    if (line.action != CommandLineAction::run) {
        return answer_command_line(line, "kd5lite", kUsage, kDetails, stdout, stderr);
    }
    connect_log_markers();
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
    CNotifierApp::choose_platform();
    CNotifierApp app(argc, argv);
    return app.InitInstance();
}
