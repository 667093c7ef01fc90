// SPDX-License-Identifier: GPL-3.0-or-later
// kd5lite-lampsim: the lamp behind a pseudo-terminal, for people without a lamp, for the demo and for the tests.

#include "lamp/protocol.h"
#include "tools/lampsim/command_feed.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    R"(Usage: kd5lite-lampsim --serial SERIAL [--dir DIR] [--log FILE] [--reply C] [--silent] [--delay MS]

Plays the kd5lite USB lamp (red, green and yellow LED and a buzzer) behind a pseudo-terminal.

The pseudo-terminal is published as DIR/usb-corvo_KD-5lite_SERIAL-if00-port0, named the way udev names a
USB-serial adapter under /dev/serial/by-id. Point kd5lite at DIR with KD5LITE_SERIAL_DIR=DIR and give it a
SerialNumber of any one character followed by SERIAL (the first character of SerialNumber is skipped).

Options:
  --serial SERIAL  the lamp's serial number (letters, digits, '.', '-'; no '_', no "-if")
  --dir DIR        directory of the link (created if missing); default: a fresh private directory under
                   $TMPDIR or /tmp, removed at the end. Never /dev.
  --log FILE       append one line per command received, flushed at once (format below)
  --reply C        first byte of every answer to a known command: one character, or 0xHH (default Y).
                   Anything but Y is a refusal; a lower-case letter or a space is also a data abnormality.
  --silent         never answer anything (a lamp that does not respond)
  --delay MS       wait MS milliseconds before each answer (a slow lamp)
  --help           this text

Protocol: every command is three characters and a carriage return: ON0 ON1 ON2 (LED on), OF0 OF1 OF2 (LED off),
BEP (one beep), CLS (all LEDs off); LED 0 is red, 1 green, 2 yellow. Each gets a three-byte answer: the reply
character, CR, LF. Any other three characters, a carriage return too early or a fourth byte that is not a
carriage return gets the answer "N", CR, LF (input up to the next carriage return is then dropped); the
simulator never stops on bad input.

Command log (--log): one line per answered input, "\n"-terminated, appended and flushed as it arrives:
  ON1        the three characters of a command, unknown ones included (bytes outside ' '..'~' shown as '.')
  ???        malformed input (not three characters and a carriage return)

Output: the link path first ("link PATH -> PTY"), then one line per change: the LEDs after each LED change
("leds red=on green=off yellow=off"), "beep" for each beep, "unknown XYZ" and "malformed" for bad input. On a
terminal the same, in colour.

Signals: SIGINT, SIGTERM and SIGHUP end it and remove the link (exit status 0). SIGUSR1 unplugs the lamp (the
pseudo-terminal is closed, the link removed, the LEDs go dark) and, sent again, plugs it back in on a new
pseudo-terminal. SIGUSR2 switches --silent on and off. Killing it with SIGKILL is an unplug that leaves a
dangling link behind.
)";

struct Options {
    std::string serial;
    std::string dir;
    std::string log;
    unsigned char reply = kAck;
    bool silent = false;
    int delay_ms = 0;
};

struct Lamp {
    bool led[kLedCount] = {};
};

struct Pty {
    int master = -1;
    int slave = -1; // held so that the master never sees a hang-up between two users of the lamp
    std::string name;
};

Options g_options;
Lamp g_lamp;
Pty g_pty;
std::string g_link;
bool g_own_dir = false;
int g_log_fd = -1;
bool g_colour = false;

void die(const char* what) {
    std::fprintf(stderr, "kd5lite-lampsim: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

bool valid_serial(const std::string& s) {
    if (s.empty() || s.find("-if") != std::string::npos) {
        return false;
    }
    for (unsigned char c : s) {
        if (!(std::isalnum(c) || c == '.' || c == '-')) {
            return false;
        }
    }
    return true;
}

bool parse_reply(const char* text, unsigned char& out) {
    if (std::strlen(text) == 1) {
        out = static_cast<unsigned char>(text[0]);
        return true;
    }
    if (std::strlen(text) == 4 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        char* end = nullptr;
        long v = std::strtol(text + 2, &end, 16);
        if (*end == '\0') {
            out = static_cast<unsigned char>(v);
            return true;
        }
    }
    return false;
}

void usage_error(const char* message) {
    std::fprintf(stderr, "kd5lite-lampsim: %s\n\n%s", message, kUsage);
    std::exit(2);
}

void parse_options(int argc, char** argv) {
    static const option longopts[] = {
        {"serial", required_argument, nullptr, 's'}, {"dir", required_argument, nullptr, 'd'},
        {"log", required_argument, nullptr, 'l'},    {"reply", required_argument, nullptr, 'r'},
        {"silent", no_argument, nullptr, 'q'},       {"delay", required_argument, nullptr, 'w'},
        {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "", longopts, nullptr)) != -1) {
        switch (c) {
        case 's':
            g_options.serial = optarg;
            break;
        case 'd':
            g_options.dir = optarg;
            break;
        case 'l':
            g_options.log = optarg;
            break;
        case 'r':
            if (!parse_reply(optarg, g_options.reply)) {
                usage_error("--reply takes one character or 0xHH");
            }
            break;
        case 'q':
            g_options.silent = true;
            break;
        case 'w':
            g_options.delay_ms = std::atoi(optarg);
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::exit(0);
        default:
            usage_error("unknown option");
        }
    }
    if (optind < argc) {
        usage_error("unexpected argument");
    }
    if (!valid_serial(g_options.serial)) {
        usage_error("--serial is required: letters, digits, '.' and '-', without \"-if\"");
    }
}

// ---- output ----------------------------------------------------------------------------------------------------

const char* kLedName[kLedCount] = {"red", "green", "yellow"};
const char* kLedColour[kLedCount] = {"\033[1;31m", "\033[1;32m", "\033[1;33m"};

void say(const std::string& line) {
    if (g_colour) {
        char stamp[16];
        std::time_t now = std::time(nullptr);
        std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
        std::printf("\033[2m%s\033[0m  %s\n", stamp, line.c_str());
    } else {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

void show_leds() {
    std::string line = g_colour ? "" : "leds";
    for (int i = 0; i < kLedCount; ++i) {
        if (g_colour) {
            line += g_lamp.led[i] ? std::string(kLedColour[i]) + "\u25cf " + kLedName[i] + "\033[0m  "
                                  : std::string("\033[2m\u25cb ") + kLedName[i] + "\033[0m  ";
        } else {
            line += std::string(" ") + kLedName[i] + (g_lamp.led[i] ? "=on" : "=off");
        }
    }
    say(line);
}

void show_beep() {
    say(g_colour ? "\033[1;35m\u266a beep\033[0m" : "beep");
}

void log_line(const std::string& text) {
    if (g_log_fd < 0) {
        return;
    }
    std::string line = text + "\n";
    // One write per line on an O_APPEND descriptor: a reader never sees half a line.
    [[maybe_unused]] ssize_t n = write(g_log_fd, line.data(), line.size());
}

// ---- the pseudo-terminal and its link --------------------------------------------------------------------------

void raw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}

void plug_in() {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        die("cannot create a pseudo-terminal");
    }
    const char* name = ptsname(master);
    if (name == nullptr) {
        die("ptsname");
    }
    g_pty.master = master;
    g_pty.name = name;
    g_pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (g_pty.slave < 0) {
        die("cannot open the pseudo-terminal");
    }
    // Raw from the start: with the default echo on, the lamp would read its own answers back as commands.
    raw(g_pty.slave);
    // The link appears whole or not at all: made under a name no lookup matches, then renamed over the old one.
    std::string temp = g_options.dir + "/.lampsim-" + std::to_string(getpid()) + ".tmp";
    unlink(temp.c_str());
    if (symlink(name, temp.c_str()) != 0 || rename(temp.c_str(), g_link.c_str()) != 0) {
        die("cannot make the link");
    }
    say("link " + g_link + " -> " + g_pty.name);
    show_leds();
}

void remove_link() {
    char target[256];
    ssize_t n = readlink(g_link.c_str(), target, sizeof target - 1);
    if (n >= 0) {
        target[n] = '\0';
        if (g_pty.name == target) {
            unlink(g_link.c_str());
        }
    }
}

void unplug() {
    remove_link();
    close(g_pty.slave);
    close(g_pty.master);
    g_pty = Pty{};
    for (bool& led : g_lamp.led) {
        led = false;
    }
    say("unplugged");
}

// ---- the lamp --------------------------------------------------------------------------------------------------

void answer(unsigned char first) {
    if (g_options.silent || g_pty.master < 0) {
        return;
    }
    if (g_options.delay_ms > 0) {
        timespec ts{g_options.delay_ms / 1000, (g_options.delay_ms % 1000) * 1000000L};
        nanosleep(&ts, nullptr);
    }
    const unsigned char reply[kReplySize] = {first, '\r', '\n'};
    // With nobody at the other end the answer has nowhere to go; that is not the lamp's problem.
    [[maybe_unused]] ssize_t n = write(g_pty.master, reply, sizeof reply);
}

void obey(const unsigned char* c) {
    std::string text = command_text(c);
    log_line(text);
    ParsedCommand cmd = parse_command(c);
    Lamp before = g_lamp;
    switch (cmd.op) {
    case LampOp::On:
        g_lamp.led[cmd.led] = true;
        break;
    case LampOp::Off:
        g_lamp.led[cmd.led] = false;
        break;
    case LampOp::Clear:
        for (bool& led : g_lamp.led) {
            led = false;
        }
        break;
    case LampOp::Beep:
        show_beep();
        break;
    case LampOp::Unknown:
        say("unknown " + text);
        answer('N');
        return;
    }
    if (std::memcmp(&before, &g_lamp, sizeof before) != 0) {
        show_leds();
    }
    answer(g_options.reply);
}

void malformed() {
    log_line("???");
    say("malformed");
    answer('N');
}

void feed(CommandFeed& f, unsigned char b) {
    switch (feed_byte(f, b)) {
    case FeedEvent::command:
        obey(f.bytes);
        break;
    case FeedEvent::malformed:
        malformed();
        break;
    case FeedEvent::none:
        break;
    }
}

// ---- main loop -------------------------------------------------------------------------------------------------

void make_dir() {
    if (g_options.dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kd5lite-lampsim.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            die("cannot make a private directory");
        }
        g_options.dir = pattern;
        g_own_dir = true;
        return;
    }
    if (g_options.dir.rfind("/dev", 0) == 0 && (g_options.dir.size() == 4 || g_options.dir[4] == '/')) {
        usage_error("--dir must not lie under /dev");
    }
    if (mkdir(g_options.dir.c_str(), 0700) != 0 && errno != EEXIST) {
        die("cannot make the directory");
    }
}

} // namespace

int main(int argc, char** argv) {
    parse_options(argc, argv);
    g_colour = isatty(STDOUT_FILENO) != 0;
    make_dir();
    g_link = g_options.dir + "/usb-corvo_KD-5lite_" + g_options.serial + "-if00-port0";
    if (!g_options.log.empty()) {
        g_log_fd = open(g_options.log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (g_log_fd < 0) {
            die("cannot open the log");
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, s);
    }
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int sigfd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (sigfd < 0) {
        die("signalfd");
    }
    std::signal(SIGPIPE, SIG_IGN);

    plug_in();
    CommandFeed framer;
    bool running = true;
    while (running) {
        pollfd fds[2] = {{sigfd, POLLIN, 0}, {g_pty.master, POLLIN, 0}};
        int n = poll(fds, g_pty.master >= 0 ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            die("poll");
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(sigfd, &info, sizeof info) == sizeof info) {
                switch (info.ssi_signo) {
                case SIGUSR1:
                    if (g_pty.master >= 0) {
                        unplug();
                    } else {
                        plug_in();
                    }
                    framer = CommandFeed{};
                    break;
                case SIGUSR2:
                    g_options.silent = !g_options.silent;
                    say(g_options.silent ? "silent on" : "silent off");
                    break;
                default:
                    running = false;
                    break;
                }
            }
            continue;
        }
        if (g_pty.master >= 0 && (fds[1].revents & POLLIN)) {
            unsigned char buffer[256];
            ssize_t got = read(g_pty.master, buffer, sizeof buffer);
            for (ssize_t i = 0; i < got; ++i) {
                feed(framer, buffer[i]);
            }
        }
    }

    remove_link();
    if (g_own_dir) {
        rmdir(g_options.dir.c_str());
    }
    say("ended");
    return 0;
}
