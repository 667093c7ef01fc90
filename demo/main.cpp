// SPDX-License-Identifier: GPL-3.0-or-later
// kd5lite-demo: the whole system at work on this machine, without a lamp and without a mail account.

#include "demo/programs.h"
#include "demo/schedule.h"
#include "platform/local_time.h"
#include "settings/keys.h"
#include "settings/log_markers.h"
#include "settings/mailbox_codes.h"
#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tools/pop3server/pop3_message.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] = R"(Usage: kd5lite-demo [--lamp-log FILE]

Shows kd5lite at work without a lamp and without a mail account: the lamp simulator draws the lamp in this
terminal, a POP3 server on 127.0.0.1 serves three accounts whose mail comes and goes, and the notifier, with its
waits shortened, checks them every few seconds and drives the lamp. Settings and logs live in a temporary
directory. With a display, the setup and option programs can be opened on the same settings.

Ctrl-C (or SIGTERM, SIGHUP) ends every program the demo started and removes the directory.

  --lamp-log FILE  keep the lamp simulator's command log in FILE (it outlives the demo)
  --help           this text
)";

constexpr char kSerial[] = "DEMO0001";        // the simulated lamp's serial number
constexpr char kSerialNumber[] = "KDEMO0001"; // as typed into the settings: the first character is not looked at
constexpr char kPassword[] = "demo";
constexpr const char* kAccountName[kAccountCount] = {"red", "green", "yellow"};
constexpr char kTimeScale[] = "0.05"; // the shortest check interval, one minute, becomes 3 seconds
constexpr int kStartPatience = 60000; // ms; programs built with sanitizers start slowly on a busy machine
constexpr int kEndPatience = 5000;    // ms a program gets to end on SIGTERM before it is killed

struct Demo {
    std::string bin; // where the programs are: beside this one
    std::string dir; // the temporary directory: settings, logs, maildrops, the lamp's link, program output
    std::string lamp_log;
    int signals = -1; // signalfd of SIGINT, SIGTERM, SIGHUP and SIGCHLD
    bool stop = false;
    bool failed = false;
    bool colour = false;
    Program lamp{"lamp simulator"};
    Program server{"POP3 server"};
    Program notifier{"notifier"};
    Program setup{"setup program"};
    Program option{"option program"};
    int waiting[kAccountCount] = {};
    int made = 0; // messages made so far; names their files in arrival order
};

Demo g;

void say(const std::string& text) {
    if (g.colour) {
        char stamp[16];
        std::time_t now = std::time(nullptr);
        std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
        std::printf("\033[2m%s\033[0m  \033[36m%s\033[0m\n", stamp, text.c_str());
    } else {
        std::printf("%s\n", text.c_str());
    }
    std::fflush(stdout);
}

void fail(const std::string& text) {
    say("demo: " + text);
    g.failed = true;
    g.stop = true;
}

std::string own_dir() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool has_display() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && (std::string(platform) == "offscreen" || std::string(platform) == "minimal")) {
        return false;
    }
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Takes every pending signal; an ending one sets stop. Waits up to timeout_ms for the first.
void take_signals(int timeout_ms) {
    pollfd fd{g.signals, POLLIN, 0};
    if (poll(&fd, 1, timeout_ms) <= 0) {
        return;
    }
    signalfd_siginfo info{};
    while (read(g.signals, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo != SIGCHLD) {
            g.stop = true;
        }
    }
}

// Polls cond until it holds (true), the deadline passes or an ending signal comes (false).
bool wait_for(const std::function<bool()>& cond, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!g.stop) {
        if (cond()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        take_signals(20);
    }
    return false;
}

// ---- the programs ----------------------------------------------------------------------------------------------

bool start(Program& p, const char* binary, const std::vector<std::string>& args, const std::vector<EnvChange>& env,
           const std::string& output) {
    return program_start(p, g.bin + "/" + binary, args, env, output);
}

bool cannot_start(const Program& p, const char* binary) {
    fail("cannot start the " + p.name + " " + g.bin + "/" + binary);
    return false;
}

// Waits until ready() holds while p runs. False when it ended first or took too long (a failure, reported with
// what it wrote to output), or when the demo is being ended meanwhile (no failure).
bool came_up(Program& p, const std::function<bool()>& ready, const std::string& output) {
    if (wait_for([&] { return ready() || !program_running(p); }, kStartPatience) && program_running(p)) {
        return true;
    }
    if (!g.stop) {
        fail("the " + p.name + " did not come up" + (output.empty() ? "" : ": " + read_file(output)));
    }
    return false;
}

bool start_lamp() {
    std::string link_dir = g.dir + "/by-id";
    std::string link = link_dir + "/usb-corvo_KD-5lite_" + std::string(kSerial) + "-if00-port0";
    // Its output is the point of the demo: it goes to this terminal.
    if (!start(g.lamp, "kd5lite-lampsim", {"--serial", kSerial, "--dir", link_dir, "--log", g.lamp_log}, {}, "")) {
        return cannot_start(g.lamp, "kd5lite-lampsim");
    }
    return came_up(
        g.lamp, [&] { return fs::is_symlink(link); }, "");
}

std::string maildir(int account) {
    return g.dir + "/mail/" + kAccountName[account];
}

// Returns the port, or 0.
int start_server() {
    std::vector<std::string> args = {"--port-file", g.dir + "/pop3.port"};
    for (int i = 0; i < kAccountCount; ++i) {
        fs::create_directories(maildir(i));
        args.insert(args.end(), {"--user", std::string(kAccountName[i]) + ":" + kPassword, "--maildir", maildir(i)});
    }
    if (!start(g.server, "kd5lite-pop3server", args, {}, g.dir + "/pop3server.out")) {
        cannot_start(g.server, "kd5lite-pop3server");
        return 0;
    }
    std::string port_file = g.dir + "/pop3.port";
    if (!came_up(
            g.server, [&] { return fs::exists(port_file); }, g.dir + "/pop3server.out")) {
        return 0;
    }
    return std::atoi(read_file(port_file).c_str());
}

// What the setup program's system and account pages would store, written through the same library calls.
void write_settings(int port) {
    LocalTime today{};
    get_local_time(today);
    char log_switch[8];
    std::snprintf(log_switch, sizeof log_switch, "1%02d", today.day); // on, and begun today
    settings_put(Key::SerialNumber, kSerialNumber);
    settings_put(Key::IntervalTimer, "1");
    settings_put(Key::BeepTime, "2");
    settings_put(Key::StateLog, log_switch);
    settings_put(Key::ErrorLog, log_switch);
    std::string server = "127.0.0.1:" + std::to_string(port);
    for (int i = 0; i < kAccountCount; ++i) {
        settings_put(Key::Switch, "1", i);
        settings_put(Key::ServerName, server.c_str(), i);
        settings_put(Key::ID, kAccountName[i], i);
        settings_set(Key::Password, kPassword, i);
        ini_write_password(i); // the file never sees the plain text
    }
}

// The notifier keeps its single-instance lock in XDG_RUNTIME_DIR; the demo's notifier gets its own, so that a
// notifier the user already runs neither refuses it nor is disturbed by it. The desktop connections that are
// found through XDG_RUNTIME_DIR are then named in full.
std::vector<EnvChange> notifier_environment() {
    std::vector<EnvChange> env = {
        {"KD5LITE_SERIAL_DIR", g.dir + "/by-id"}, {"KD5LITE_TIME_SCALE", kTimeScale}, {"XDG_RUNTIME_DIR", g.dir}};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return env;
    }
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0' && *wayland != '/') {
        env.emplace_back("WAYLAND_DISPLAY", std::string(runtime) + "/" + wayland);
    }
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if ((bus == nullptr || *bus == '\0') && fs::exists(std::string(runtime) + "/bus")) {
        env.emplace_back("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + std::string(runtime) + "/bus");
    }
    return env;
}

bool start_notifier() {
    if (!start(g.notifier, "kd5lite", {}, notifier_environment(), g.dir + "/notifier.out")) {
        return cannot_start(g.notifier, "kd5lite");
    }
    // The notifier resets the request at its start; a request counts once its first start-up step is done.
    auto idle = [] {
        ini_read_key(Key::State);
        return mailbox_state() == NotifierState::idle;
    };
    if (!came_up(g.notifier, idle, g.dir + "/notifier.out")) {
        return false;
    }
    put_request(Request::monitor); // what the service page's 开始使用 button writes
    return true;
}

// ---- the mail --------------------------------------------------------------------------------------------------

void add_message(int account) {
    char name[32];
    std::snprintf(name, sizeof name, "%06d.eml", ++g.made);
    std::string temporary = g.dir + "/mail/incoming";
    // Made outside the maildrop and moved in, so that a login never reads half a message.
    std::ofstream(temporary, std::ios::binary)
        << make_message("Demo Sender <sender@kd5lite.test>", std::string(kAccountName[account]) + "@kd5lite.test",
                        "Demo message " + std::to_string(g.made));
    fs::rename(temporary, maildir(account) + "/" + name);
    ++g.waiting[account];
    say("mail: a new message for " + std::string(kAccountName[account]) + ", " + std::to_string(g.waiting[account]) +
        " waiting");
}

void empty_maildrops() {
    for (int i = 0; i < kAccountCount; ++i) {
        for (const auto& entry : fs::directory_iterator(maildir(i))) {
            fs::remove(entry.path());
        }
        g.waiting[i] = 0;
    }
    say("mail: every maildrop emptied");
}

void mail_step(int step) {
    MailEvent e = mail_event(step);
    if (e.kind == MailEvent::add) {
        add_message(e.account);
    } else if (e.kind == MailEvent::empty) {
        empty_maildrops();
    }
}

// ---- running ---------------------------------------------------------------------------------------------------

void open_tool(Program& p, const char* binary) {
    if (program_running(p)) {
        say("the " + p.name + " is open already");
        return;
    }
    // Same settings directory (CORVO_HOME is inherited); its service page shows and stops the demo's notifier.
    say(start(p, binary, {}, {}, g.dir + "/" + binary + ".out")
            ? "opened the " + p.name
            : "cannot open the " + p.name + " " + g.bin + "/" + binary);
}

void obey(const std::string& line) {
    if (line == "s") {
        open_tool(g.setup, "kd5lite_ap");
    } else if (line == "o") {
        open_tool(g.option, "kd5lite_op");
    } else if (line == "q") {
        g.stop = true;
    }
}

void check_programs() {
    for (Program* p : {&g.lamp, &g.server, &g.notifier}) {
        if (!program_running(*p)) {
            fail("the " + p->name + " ended (" + program_outcome(*p) + "); the demo ends with it");
            return;
        }
    }
    program_running(g.setup);
    program_running(g.option);
}

// Mail steps from step 1 on (step 0 came before the notifier started), until stop.
void run(bool offer_tools) {
    auto step_time = std::chrono::steady_clock::now() + std::chrono::seconds(kMailStepSeconds);
    int step = 1;
    while (!g.stop) {
        auto now = std::chrono::steady_clock::now();
        if (now >= step_time) {
            mail_step(step++);
            step_time += std::chrono::seconds(kMailStepSeconds);
            continue;
        }
        pollfd fds[2] = {{g.signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        int wait_ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(step_time - now).count());
        if (poll(fds, offer_tools ? 2 : 1, wait_ms) <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            take_signals(0);
            // A terminal's Ctrl-C reaches the whole group, so the lamp simulator and the server often end from it
            // before the demo reads its own copy; their signal is already pending here, and an end is no failure.
            if (!g.stop) {
                check_programs();
            }
        }
        if (offer_tools && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buffer[256];
            ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                offer_tools = false; // end of input: the programs run on until Ctrl-C
                continue;
            }
            std::istringstream lines(std::string(buffer, static_cast<std::size_t>(n)));
            for (std::string line; std::getline(lines, line);) {
                obey(line);
            }
        }
    }
}

// The notifier first, while the lamp and the server are still there to answer it; the lamp last, so that its
// last word stays at the bottom of the terminal.
void end_all() {
    for (Program* p : {&g.notifier, &g.setup, &g.option, &g.server, &g.lamp}) {
        program_end(*p, kEndPatience);
    }
    std::error_code ec;
    fs::remove_all(g.dir, ec);
    say(ec ? "demo: cannot remove " + g.dir + ": " + ec.message() : "demo: ended; removed " + g.dir);
}

bool make_dir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kd5lite-demo.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return false;
    }
    g.dir = pattern;
    return true;
}

// The demo writes nothing outside its directory: every program it starts gets the user's folders of the XDG base
// directories inside it, so that the setup program's start-at-login switch writes the demo's autostart entry, not
// the user's, and Qt's own settings and caches stay there too. The demo's own settings calls use CORVO_HOME.
bool make_private_homes() {
    const std::pair<const char*, const char*> homes[] = {{"XDG_CONFIG_HOME", "config"},
                                                         {"XDG_DATA_HOME", "data"},
                                                         {"XDG_CACHE_HOME", "cache"},
                                                         {"XDG_STATE_HOME", "state"}};
    for (const auto& [name, folder] : homes) {
        const std::string path = g.dir + "/home/" + folder;
        std::error_code ec;
        fs::create_directories(path, ec);
        if (ec || setenv(name, path.c_str(), 1) != 0) {
            return false;
        }
    }
    return true;
}

void parse(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (option == "--lamp-log" && i + 1 < argc) {
            g.lamp_log = argv[++i];
            continue;
        }
        std::fprintf(stderr, "kd5lite-demo: unknown option %s\n\n%s", option.c_str(), kUsage);
        std::exit(2);
    }
}

} // namespace

int main(int argc, char** argv) {
    parse(argc, argv);
    g.bin = own_dir();
    g.colour = isatty(STDOUT_FILENO) != 0;

    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
        sigaddset(&signals, s);
    }
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    // Output into a pipe that a reader has closed (kd5lite-demo | head) must not kill the demo before it cleans up.
    std::signal(SIGPIPE, SIG_IGN);
    g.signals = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (g.signals < 0 || !make_dir()) {
        std::perror("kd5lite-demo");
        return 1;
    }
    if (!make_private_homes()) {
        std::perror("kd5lite-demo");
        end_all();
        return 1;
    }
    if (g.lamp_log.empty()) {
        g.lamp_log = g.dir + "/lamp.log";
    }
    setenv("CORVO_HOME", g.dir.c_str(), 1); // for this process's settings calls and every program it starts
    connect_log_markers();
    bool display = has_display();

    say("demo: settings and logs in " + g.dir);
    if (start_lamp()) {
        if (int port = start_server(); port > 0) {
            say("demo: mail for red, green and yellow (password " + std::string(kPassword) + ") at 127.0.0.1:" +
                std::to_string(port) + "; a change every " + std::to_string(kMailStepSeconds) + " s");
            write_settings(port);
            mail_step(0); // so that the notifier's first pass already has mail to show
            if (start_notifier()) {
                say("demo: the notifier checks every 3 s; the lamp above shows what it finds");
                bool offer = display && isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp();
                say(offer ? "demo: type s and Enter for the setup program, o and Enter for the option program; "
                            "Ctrl-C ends the demo"
                          : std::string("demo: Ctrl-C ends the demo") +
                                (display ? "" : " (no display: the notifier runs offscreen, the lamp shows here)"));
                run(offer);
            }
        }
    }
    end_all();
    return g.failed ? 1 : 0;
}
