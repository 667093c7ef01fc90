// SPDX-License-Identifier: GPL-3.0-or-later
// Figures of the push for several IMAP folders, with the real notifier at real timing:
//     folder_figures [rounds]        (default 20)
// 1. Delivery to LED lit and read elsewhere to LED out, each delivery right after the read before (so within 2 s
//    of the pass the read brought): INBOX by IDLE, a subfolder by NOTIFY, a subfolder by IDLE without NOTIFY,
//    against Dovecot (deliveries through its LDA, reads through doveadm) and against the scripted server, which
//    tells a change the moment it is made: there the time is the notifier's own share, notice to LED.
// 2. Connections and logins in an hour for an account of five folders, with NOTIFY and without, with a delivery and
//    a read every five minutes (the hour shortened by KD5LITE_TIME_SCALE: counts depend only on the timing record).
// 3. The notifier's CPU time and context switches per second, waiting, with three accounts of five folders each.
// The machine's load (/proc/loadavg) is printed beside each part.

#include "bench/figures_support.h"
#include "tests/notifier/harness.h"
#include "tests/support/dovecot_server.h"
#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_message.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kMessage[] = "From: Hanako <hanako@kd5lite.test>\r\nSubject: Hello\r\n\r\nHi.\r\n";
const char* const kFolders[] = {"INBOX", "Work", "Lists", "Family", "Old"};
constexpr char kFiveFolders[] = "\"INBOX\" \"Work\" \"Lists\" \"Family\" \"Old\"";

std::string load() {
    std::ifstream in("/proc/loadavg");
    std::string text;
    std::getline(in, text);
    return "load " + text;
}

// A notifier on its own settings directory, monitoring account 0 (and with accounts, 1 and 2) until it ends.
class Notifier {
public:
    Notifier(const std::vector<std::string>& servers, const std::string& folders, double scale = 0) {
        std::filesystem::create_directory(dir_.path("lamp"));
        lamp_ = std::make_unique<LampSim>(dir_.path("lamp"));
        tool_write("SerialNumber", ("X" + lamp_->serial()).c_str());
        tool_write("IntervalTimer", scale > 0 ? "10" : "60");
        tool_write("BeepTime", "1");
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        const char* const users[] = {"taro", "hanako", "jiro"};
        for (std::size_t i = 0; i < servers.size(); ++i) {
            const int account = static_cast<int>(i);
            tool_write_account(account, servers[i], users[i], "secret");
            tool_write("Protocol", "1", account);
            tool_write("Folders", folders.c_str(), account);
        }
        std::map<std::string, std::string> env = {
            {"CORVO_HOME", dir_.dir()}, {"XDG_RUNTIME_DIR", dir_.dir()}, {"QT_QPA_PLATFORM", "offscreen"}};
        if (scale > 0) {
            env["KD5LITE_TIME_SCALE"] = std::to_string(scale);
        }
        process_ =
            std::make_unique<ChildProcess>(std::vector<std::string>{KD5LITE_BINARY}, env, dir_.path("notifier.out"));
        wait_until([&] { return file_key(dir_, "State") == "2"; }, kFigureWaitMs);
        tool_write("Request", "1");
        const std::string started = "push --> A start[No.";
        wait_until(
            [&] {
                const std::string log = log_text(dir_, "log");
                for (std::size_t i = 0; i < servers.size(); ++i) {
                    if (count_of(log, started + std::to_string(i) + "]") < 1) {
                        return false;
                    }
                }
                return true;
            },
            kFigureWaitMs);
        wait_for_quiet_lamp(*lamp_, 2000); // the passes of the start are over
    }
    ~Notifier() {
        tool_write("Request", "99");
        process_->wait_exit();
    }

    const LampSim& lamp() const { return *lamp_; }
    pid_t pid() const { return process_->pid(); }
    std::string errors() const { return log_text(dir_, "err"); }

private:
    TempCorvo dir_;
    std::unique_ptr<LampSim> lamp_;
    std::unique_ptr<ChildProcess> process_;
};

// A Dovecot for the users, each with the five folders, offering NOTIFY or not; the run ends when it cannot start.
std::unique_ptr<DovecotServer> folders_dovecot(bool notify, const std::vector<std::string>& users) {
    DovecotServer::Options options;
    if (!notify) {
        options.capability = DovecotServer::kWithoutNotify;
    }
    auto dovecot = std::make_unique<DovecotServer>(options);
    for (const std::string& user : users) {
        dovecot->add_user(user, "secret");
    }
    if (!dovecot->start()) {
        std::fprintf(stderr, "Dovecot did not start: %s\n", dovecot->error().c_str());
        std::exit(1);
    }
    for (const std::string& user : users) {
        for (const char* f : kFolders) {
            if (std::string(f) != "INBOX") {
                dovecot->add_folder(user, f);
            }
        }
    }
    return dovecot;
}

// Rounds of a delivery, then a read elsewhere, each timed to the LED; the next delivery comes gap_ms after the read's
// pass has shown the lamp, well within the 2 s in which more than ten passes are a flood (a server that tells at
// once would otherwise make them one every few milliseconds).
void time_rounds(const char* name, Notifier& notifier, int rounds, const std::function<void(int)>& deliver,
                 const std::function<void(int)>& read, int gap_ms = 0) {
    const LampSim& lamp = notifier.lamp();
    std::vector<double> lit;
    std::vector<double> out;
    for (int k = 0; k < rounds; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
        std::size_t from = lamp.commands().size();
        FigureClock::time_point start = FigureClock::now();
        deliver(k);
        lit.push_back(time_to(lamp, from, "ON0", start));
        time_to(lamp, from, "BEP", start); // the pass is over
        std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
        from = lamp.commands().size();
        start = FigureClock::now();
        read(k);
        out.push_back(time_to(lamp, from, "OF0", start));
        time_to(lamp, from, "OF2", start);
    }
    std::printf("%s (%s)\n", name, load().c_str());
    print_series("  delivery to LED lit", lit);
    print_series("  read elsewhere to LED out", out);
    const std::string errors = notifier.errors();
    if (!errors.empty()) {
        std::printf("  error log:\n%s", errors.c_str());
    }
}

void dovecot_rounds(const char* name, bool notify, const std::string& folders, const std::string& folder, int rounds) {
    const std::unique_ptr<DovecotServer> dovecot = folders_dovecot(notify, {"taro"});
    Notifier notifier({dovecot->server_name()}, folders);
    time_rounds(
        name, notifier, rounds, [&](int) { dovecot->deliver_to("taro", folder, kMessage); },
        [&](int) { dovecot->mark_read("taro", folder); });
}

void scripted_rounds(const char* name, bool notify, const std::string& folders, const std::string& folder, int rounds) {
    ImapScript script;
    script.parallel = true;
    script.capabilities = notify ? "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE NOTIFY LIST-EXTENDED LIST-STATUS"
                                 : "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE";
    ImapMailbox box{"secret", {}, {}};
    for (const char* f : kFolders) {
        if (std::string(f) != "INBOX") {
            box.folders.push_back({f, "\\HasNoChildren", {}});
        }
    }
    ImapServer server({{"taro", box}}, script);
    if (!server.start()) {
        std::fprintf(stderr, "the scripted server did not start: %s\n", server.error().c_str());
        std::exit(1);
    }
    const std::string in = folder == "INBOX" ? "" : folder;
    Notifier notifier({server.server_name()}, folders);
    time_rounds(
        name, notifier, rounds,
        [&](int) {
            server.deliver("taro", make_message("Hanako <hanako@kd5lite.test>", "taro@kd5lite.test", "x"), in);
        },
        [&](int k) { server.mark_seen("taro", static_cast<std::size_t>(k), in); }, 250);
}

// An hour of the account of five folders, shortened 20 times, with a delivery and a read every five minutes.
void connections_per_hour(bool notify) {
    const std::unique_ptr<DovecotServer> dovecot_owner = folders_dovecot(notify, {"taro"});
    DovecotServer& dovecot = *dovecot_owner;
    constexpr double kScale = 0.05;
    const auto logins = [&] { return count_of(dovecot.log(), "Login: user=<taro>"); };
    const FigureClock::time_point start = FigureClock::now();
    {
        Notifier notifier({dovecot.server_name()}, kFiveFolders, kScale);
        const int at_start = logins();
        const auto hour = std::chrono::duration<double>(3600 * kScale);
        for (int k = 0; FigureClock::now() - start < hour; ++k) {
            std::this_thread::sleep_for(std::chrono::duration<double>(300 * kScale / 2));
            dovecot.deliver_to("taro", kFolders[k % 5], kMessage);
            std::this_thread::sleep_for(std::chrono::duration<double>(300 * kScale / 2));
            dovecot.mark_read("taro", kFolders[k % 5]);
        }
        std::printf("five folders, %s (%s):\n  logins in the first minute (the first pass and the watch): %d\n"
                    "  logins in the hour after: %d\n",
                    notify ? "NOTIFY" : "IDLE without NOTIFY", load().c_str(), at_start, logins() - at_start);
    }
}

// Three accounts of five folders each, waiting: CPU and context switches over a minute.
void idle_cost(bool notify) {
    const std::unique_ptr<DovecotServer> dovecot = folders_dovecot(notify, {"taro", "hanako", "jiro"});
    const std::vector<std::string> servers(3, dovecot->server_name());
    Notifier notifier(servers, kFiveFolders);
    wait_for_quiet_lamp(notifier.lamp(), 5000); // every connection up, every start's pass over
    const pid_t pid = notifier.pid();
    const double cpu = cpu_seconds(pid);
    const long switches = context_switches(pid);
    std::this_thread::sleep_for(std::chrono::minutes(1));
    std::printf("three accounts of five folders, %s, waiting (%s):\n  %.3f CPU s/min, %.2f context switches/s "
                "(the 200 ms poll of the window thread: 5 wake-ups/s), resident %ld KiB\n",
                notify ? "NOTIFY" : "IDLE without NOTIFY", load().c_str(), cpu_seconds(pid) - cpu,
                static_cast<double>(context_switches(pid) - switches) / 60.0, status_kib(pid, "VmRSS"));
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    std::printf("Dovecot (it holds each notice 0.5 s: its notify delay)\n");
    dovecot_rounds("INBOX by IDLE", true, "", "INBOX", rounds);
    dovecot_rounds("a subfolder by NOTIFY", true, kFiveFolders, "Lists", rounds);
    dovecot_rounds("a subfolder by IDLE without NOTIFY", false, kFiveFolders, "Lists", rounds);
    std::printf("\nThe scripted server (tells at once): the notifier's own share, notice to LED\n");
    scripted_rounds("INBOX by IDLE", false, "", "INBOX", rounds);
    scripted_rounds("a subfolder by NOTIFY", true, kFiveFolders, "Lists", rounds);
    scripted_rounds("a subfolder by IDLE without NOTIFY", false, kFiveFolders, "Lists", rounds);
    std::printf("\n");
    connections_per_hour(true);
    connections_per_hour(false);
    std::printf("\n");
    idle_cost(true);
    idle_cost(false);
    return 0;
}
