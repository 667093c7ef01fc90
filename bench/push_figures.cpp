// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of the IMAP push, measured with the real notifier at real timing against Dovecot on loopback:
//     push_figures [deliveries [mixed]]        (default 20)
// Three IMAP accounts watch three Dovecot users; IntervalTimer is 60 minutes, so every pass measured here is
// brought by the push. With "mixed", accounts 1 and 2 are POP3 accounts on the same Dovecot instead: the
// deliveries to the IMAP account then show what the POP3 accounts beside it cost its passes. Prints delivery to LED lit and read elsewhere to LED out (median and worst), the time
// until a delivery lights the LED after a server restart, and the notifier's CPU time per minute and resident
// memory while the three connections wait in IDLE. Times are taken when the lamp simulator has logged the command.

#include "bench/figures_support.h"
#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/lampsim_handle.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = FigureClock;

const std::vector<std::string> kUsers = {"taro", "hanako", "jiro"};
constexpr char kMessage[] = "From: Hanako <hanako@kd5lite.test>\r\nSubject: Hello\r\n\r\nHi.\r\n";
constexpr int kLong = kFigureWaitMs;

// A scripted IMAP server program for one user; its server name once it listens, "" when it did not start.
std::string start_scripted(TempCorvo& dir, const std::string& name, std::vector<std::string> options,
                           std::unique_ptr<ChildProcess>& process) {
    const std::string port_file = dir.path(name + ".port");
    std::vector<std::string> argv = {KD5LITE_IMAPSERVER, "--port-file", port_file, "--user", "taro:secret"};
    argv.insert(argv.end(), options.begin(), options.end());
    process = std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{}, dir.path(name + ".out"));
    if (!wait_until([&] { return std::filesystem::exists(port_file); }, kLong)) {
        return "";
    }
    return "127.0.0.1:" + std::to_string(std::stoi(dir.read(name + ".port")));
}

} // namespace

int main(int argc, char** argv) {
    const int deliveries = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool mixed = argc > 2 && std::string(argv[2]) == "mixed";
    const int imap_accounts = mixed ? 1 : 3;
    TempCorvo dir;
    std::filesystem::create_directory(dir.path("lamp"));
    LampSim lamp(dir.path("lamp"));
    DovecotServer::Options options;
    options.pop3 = mixed;
    DovecotServer dovecot(options);
    for (const std::string& user : kUsers) {
        dovecot.add_user(user, "secret");
    }
    if (!dovecot.start()) {
        std::fprintf(stderr, "Dovecot did not start: %s\n%s", dovecot.error().c_str(), dovecot.log().c_str());
        return 1;
    }
    tool_write("SerialNumber", ("X" + lamp.serial()).c_str());
    tool_write("IntervalTimer", "60");
    tool_write("BeepTime", "1");
    tool_write("StateLog", "1");
    tool_write("ErrorLog", "1");
    for (int i = 0; i < 3; ++i) {
        const bool imap = i < imap_accounts;
        const std::string pop3_server = "127.0.0.1:" + std::to_string(dovecot.pop3_port());
        tool_write_account(i, imap ? dovecot.server_name() : pop3_server, kUsers[static_cast<std::size_t>(i)],
                           "secret");
        tool_write("Protocol", imap ? "1" : "0", i);
    }
    ChildProcess notifier({KD5LITE_BINARY},
                          {{"CORVO_HOME", dir.dir()}, {"XDG_RUNTIME_DIR", dir.dir()}, {"QT_QPA_PLATFORM", "offscreen"}},
                          dir.path("notifier.out"));
    if (!wait_until([&] { return file_key(dir, "State") == "2"; }, kLong)) {
        std::fprintf(stderr, "the notifier did not start\n");
        return 1;
    }
    tool_write("Request", "1");
    auto all_in_idle = [&](int times) {
        return wait_until(
            [&] {
                std::string log = log_text(dir, "log");
                for (int i = 0; i < imap_accounts; ++i) {
                    if (count_of(log, "push --> A start[No." + std::to_string(i) + "]") < times) {
                        return false;
                    }
                }
                return true;
            },
            kLong);
    };
    if (!all_in_idle(1) || !lamp.wait_for_commands(4, kLong)) {
        std::fprintf(stderr, "the push did not start:\n%s", log_text(dir, "err").c_str());
        return 1;
    }
    wait_for_quiet_lamp(lamp, 2000); // the passes of the start are over

    std::vector<double> lit;
    std::vector<double> out;
    for (int k = 0; k < deliveries; ++k) {
        std::size_t from = lamp.commands().size();
        Clock::time_point start = Clock::now();
        dovecot.deliver(kUsers[0], kMessage);
        lit.push_back(time_to(lamp, from, "ON0", start));
        wait_for_quiet_lamp(lamp, 1000); // the pass and its beep are over
        from = lamp.commands().size();
        start = Clock::now();
        dovecot.mark_all_read(kUsers[0]);
        out.push_back(time_to(lamp, from, "OF0", start));
        wait_for_quiet_lamp(lamp, 1000);
    }
    std::printf("%s\n", mixed ? "one IMAP account beside two POP3 accounts (Dovecot POP3)" : "three IMAP accounts");
    print_series("delivery to LED lit", lit);
    print_series("read elsewhere to LED out", out);

    std::vector<double> after_restart;
    for (int round = 2; round <= 4; ++round) {
        if (!dovecot.restart()) {
            std::fprintf(stderr, "Dovecot did not start again\n");
            return 1;
        }
        std::size_t from = lamp.commands().size();
        Clock::time_point start = Clock::now();
        dovecot.deliver(kUsers[0], kMessage);
        after_restart.push_back(time_to(lamp, from, "ON0", start));
        all_in_idle(round);
        wait_for_quiet_lamp(lamp, 1000);
        dovecot.mark_all_read(kUsers[0]);
        wait_for_quiet_lamp(lamp, 2000);
    }
    print_series("server restart: delivery right after to lit", after_restart);

    const pid_t pid = notifier.pid();
    const double cpu_before = cpu_seconds(pid);
    std::this_thread::sleep_for(std::chrono::minutes(1)); // the measuring window itself
    std::printf("%-44s %.3f CPU s/min   resident %ld KiB\n",
                mixed ? "notifier, one IMAP account in IDLE" : "notifier, three IMAP accounts in IDLE",
                cpu_seconds(pid) - cpu_before, resident_kib(pid));

    // Hostile servers: account 2 idles on a server that sends "* OK" 25 times a second (below what counts as a
    // flood, so the connection stays), account 3 on one without IDLE whose SEARCH answer is "* SEARCH 1 1 1 ..." for
    // ever. Monitoring starts again with them.
    tool_write("Request", "4");
    wait_until([&] { return file_key(dir, "Job") == "104"; }, kLong);
    std::unique_ptr<ChildProcess> chatty;
    std::unique_ptr<ChildProcess> searching;
    std::string ones = "* SEARCH";
    for (int i = 0; i < 1000; ++i) {
        ones += " 1";
    }
    const std::string chatty_name =
        start_scripted(dir, "chatty", {"--fault", "flood@IDLE", "--flood-pause", "40"}, chatty);
    const std::string searching_name = start_scripted(
        dir, "searching", {"--capability", "IMAP4rev1 AUTH=PLAIN", "--fault", "flood@SEARCH", "--flood-line", ones},
        searching);
    tool_write_account(1, chatty_name, "taro", "secret");
    tool_write_account(2, searching_name, "taro", "secret");
    const int ends_before = count_of(log_text(dir, "log"), "mail monitor --> The end");
    tool_write("Request", "1");
    wait_until([&] { return count_of(log_text(dir, "log"), "push --> A start[No.1]") >= 1; }, kLong);
    wait_until([&] { return count_of(log_text(dir, "err"), "[an unread search command]") >= 1; }, kLong);
    std::printf("%-44s %ld KiB (resident now: %ld KiB)\n", "peak resident after a SEARCH flood",
                status_kib(pid, "VmHWM"), resident_kib(pid));
    wait_for_quiet_lamp(lamp, 2000); // the pass is over: the monitor waits, the watchers idle
    const double cpu_flood = cpu_seconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(20));
    std::printf("%-44s %.3f CPU s/min\n", "notifier with one IDLE under 25 * OK a second",
                (cpu_seconds(pid) - cpu_flood) * 3);
    const Clock::time_point stop = Clock::now();
    tool_write("Request", "4");
    wait_until([&] { return count_of(log_text(dir, "log"), "mail monitor --> The end") > ends_before; }, kLong);
    // The monitor reads Request once a second in its wait: that second is part of the figure.
    std::printf("%-44s %.3f s\n", "Request 4 to monitor end, connections closed", seconds_since(stop));
    wait_until([&] { return file_key(dir, "Job") == "104"; }, kLong);
    tool_write("Request", "99");
    notifier.wait_exit();
    std::string errors = log_text(dir, "err");
    std::printf("error log lines during the run: %d\n%s", count_of(errors, "\n"), errors.c_str());
    return 0;
}
