// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/online_accounts_mock.h"

#include "tests/support/lampsim_handle.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// python3-dbusmock is a Debian package: its module is in the system's Python, whatever python3 is first on PATH.
constexpr char kPython[] = "/usr/bin/python3";

pid_t spawn(const std::vector<std::string>& argv, const std::string& output) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

bool run(const std::vector<std::string>& argv, const std::string& output) {
    pid_t pid = spawn(argv, output);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

OnlineAccountsMock::OnlineAccountsMock(const std::string& dir) : dir_(dir) {
    pid_ = spawn({kPython, "-m", "dbusmock", "--template", KD5_ONLINE_ACCOUNTS_TEMPLATE, "--logfile",
                  dir_ + "/online-accounts.log"},
                 dir_ + "/online-accounts.out");
}

OnlineAccountsMock::~OnlineAccountsMock() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool OnlineAccountsMock::wait_ready(int timeout_ms) {
    return wait_until(
        [&] {
            return run({"dbus-send", "--session", "--print-reply", "--dest=org.gnome.OnlineAccounts",
                        "/org/gnome/OnlineAccounts", "org.freedesktop.DBus.ObjectManager.GetManagedObjects"},
                       dir_ + "/online-accounts.probe");
        },
        timeout_ms);
}

std::string OnlineAccountsMock::log() const {
    return read_file(dir_ + "/online-accounts.out") + read_file(dir_ + "/online-accounts.log") +
           read_file(dir_ + "/online-accounts.calls");
}

bool OnlineAccountsMock::mock_call(const std::string& method, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"dbus-send",
                                     "--session",
                                     "--print-reply",
                                     "--dest=org.gnome.OnlineAccounts",
                                     "/org/gnome/OnlineAccounts",
                                     "org.freedesktop.DBus.Mock." + method};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, dir_ + "/online-accounts.calls");
}

bool OnlineAccountsMock::add_mail_account(const std::string& id, const std::string& provider,
                                          const std::string& identity, const std::string& imap_host,
                                          const std::string& imap_user) {
    return mock_call("AddMailAccount", {"string:" + id, "string:" + provider, "string:" + identity,
                                        "string:" + imap_host, "string:" + imap_user});
}

bool OnlineAccountsMock::add_other_account(const std::string& id, const std::string& kind) {
    return mock_call("AddOtherAccount", {"string:" + id, "string:" + kind});
}

bool OnlineAccountsMock::set_token(const std::string& id, const std::string& token, int expires_in_s) {
    return mock_call("SetAccessToken", {"string:" + id, "string:" + token, "int32:" + std::to_string(expires_in_s)});
}

bool OnlineAccountsMock::expire_credentials(const std::string& id) {
    return mock_call("ExpireCredentials", {"string:" + id});
}

bool OnlineAccountsMock::delay_token(const std::string& id, double seconds) {
    return mock_call("DelayToken", {"string:" + id, "double:" + std::to_string(seconds)});
}

bool OnlineAccountsMock::remove_account(const std::string& id) {
    return mock_call("RemoveAccount", {"string:" + id});
}
