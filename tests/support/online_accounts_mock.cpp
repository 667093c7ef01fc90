// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/online_accounts_mock.h"

#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool run(const std::vector<std::string>& argv, const std::string& output) {
    return run_process(argv, output, true) == 0;
}

} // namespace

OnlineAccountsMock::OnlineAccountsMock(const std::string& dir) : dir_(dir) {
    pid_ = spawn_process({kSystemPython, "-m", "dbusmock", "--template", KD5_ONLINE_ACCOUNTS_TEMPLATE, "--logfile",
                          dir_ + "/online-accounts.log"},
                         dir_ + "/online-accounts.out", true);
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
