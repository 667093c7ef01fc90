// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/dovecot_server.h"

#include "tests/support/lampsim_handle.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char kDovecot[] = "/usr/sbin/dovecot";
constexpr char kDoveadm[] = "/usr/bin/doveadm";
constexpr char kPop3Binary[] = "/usr/lib/dovecot/pop3";
constexpr char kLda[] = "/usr/lib/dovecot/dovecot-lda";
constexpr int kStartMs = 20000; // Dovecot starts its services one after another; under a sanitizer build, slowly
constexpr int kStopMs = 5000;

// A loopback port that is free now: bound to port 0, read back, let go. Dovecot binds it a moment later.
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}

std::string user_name(uid_t uid) {
    passwd* p = getpwuid(uid);
    return p != nullptr ? p->pw_name : std::to_string(uid);
}

std::string group_name(gid_t gid) {
    group* g = getgrgid(gid);
    return g != nullptr ? g->gr_name : std::to_string(gid);
}

bool write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// Runs a program to its end with its output (stdout and stderr) in *output, input on its standard input. True when
// it exited with 0.
bool run(const std::vector<std::string>& argv, std::string* output, const std::string& input = "") {
    int input_fds[2];
    if (pipe2(input_fds, O_CLOEXEC) != 0) {
        return false;
    }
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(input_fds[0], 0);
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    close(input_fds[0]);
    // A message is small: it fits the pipe, so the write never waits for the program to read.
    [[maybe_unused]] ssize_t written = write(input_fds[1], input.data(), input.size());
    close(input_fds[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(pipe_fds[0], chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(pipe_fds[0]);
    int status = 0;
    bool ok = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (output != nullptr) {
        *output = text;
    }
    return ok;
}

} // namespace

DovecotServer::DovecotServer(Options options) : options_(std::move(options)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kd5dovecot.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        dir_ = pattern;
        // The login and internal users of a server started as root must reach its sockets and files.
        chmod(dir_.c_str(), 0755);
    }
    if (geteuid() == 0) {
        // Dovecot refuses mail processes of uid 0: root's test mail belongs to nobody.
        passwd* nobody = getpwnam("nobody");
        mail_uid_ = nobody != nullptr ? nobody->pw_uid : 65534;
        mail_gid_ = nobody != nullptr ? nobody->pw_gid : 65534;
    } else {
        mail_uid_ = geteuid();
        mail_gid_ = getegid();
    }
}

DovecotServer::~DovecotServer() {
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void DovecotServer::own(const std::string& path) const {
    if (geteuid() == 0) {
        [[maybe_unused]] int rc = chown(path.c_str(), mail_uid_, mail_gid_);
    }
}

void DovecotServer::add_user(const std::string& name, const std::string& password) {
    users_.push_back({name, password});
    std::string home = dir_ + "/home/" + name;
    for (const std::string& path : {dir_ + "/home", home, maildir(name), maildir(name) + "/new", maildir(name) + "/cur",
                                    maildir(name) + "/tmp"}) {
        std::filesystem::create_directories(path);
        own(path);
    }
}

bool DovecotServer::write_configuration() {
    std::string users;
    for (const User& u : users_) {
        users += u.name + ":{PLAIN}" + u.password + ":" + std::to_string(mail_uid_) + ":" + std::to_string(mail_gid_) +
                 "::" + dir_ + "/home/" + u.name + "\n";
    }
    const bool root = geteuid() == 0;
    const bool tls = !options_.certificate_file.empty();
    const bool oauth2 = !options_.oauth2_introspection_url.empty();
    std::ostringstream c;
    c << "protocols = imap" << (options_.pop3 ? " pop3" : "") << "\n"
      << "listen = 127.0.0.1\n"
      << "base_dir = " << dir_ << "/run\n"
      << "state_dir = " << dir_ << "/state\n"
      << "log_path = " << dir_ << "/dovecot.log\n"
      << "default_internal_user = " << (root ? "dovecot" : user_name(geteuid())) << "\n"
      << "default_internal_group = " << (root ? "dovecot" : group_name(getegid())) << "\n"
      << "default_login_user = " << (root ? "dovenull" : user_name(geteuid())) << "\n"
      << "first_valid_uid = " << mail_uid_ << "\n"
      << "first_valid_gid = " << mail_gid_ << "\n"
      << "disable_plaintext_auth = no\n"
      << "auth_mechanisms = plain login" << (oauth2 ? " " + options_.oauth2_mechanisms : "") << "\n"
      << "mail_location = maildir:~/Maildir\n"
      << "namespace inbox {\n  inbox = yes\n  separator = /\n"
      << "  mailbox Junk {\n    special_use = \\Junk\n  }\n"
      << "  mailbox Trash {\n    special_use = \\Trash\n  }\n"
      << "  mailbox Sent {\n    special_use = \\Sent\n  }\n"
      << "  mailbox Drafts {\n    special_use = \\Drafts\n  }\n}\n"
      << "ssl = " << (tls ? "yes" : "no") << "\n";
    if (!options_.capability.empty()) {
        c << "imap_capability = " << options_.capability << "\n";
    }
    if (tls) {
        c << "ssl_cert = <" << options_.certificate_file << "\n"
          << "ssl_key = <" << options_.key_file << "\n";
    }
    if (oauth2 || options_.quick_refusals) {
        // Refusals come at once: the tests refuse tokens and passwords on purpose, from the one loopback address.
        c << "auth_failure_delay = 0\n";
    }
    if (oauth2) {
        // Bearer tokens go to the provider's introspection endpoint only; passwords only to the passwd-file.
        c << "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " << dir_
          << "/oauth2.conf.ext\n}\n";
    }
    c << "passdb {\n  driver = passwd-file\n"
      << (oauth2 ? "  mechanisms = plain login\n" : "") << "  args = scheme=PLAIN username_format=%u " << dir_
      << "/users\n}\n"
      << "userdb {\n  driver = passwd-file\n  args = username_format=%u " << dir_ << "/users\n}\n"
      << "service imap-login {\n  chroot =\n"
      << "  inet_listener imap {\n    port = " << imap_port_ << "\n  }\n"
      << "  inet_listener imaps {\n    port = " << (tls ? imaps_port_ : 0) << (tls ? "\n    ssl = yes" : "")
      << "\n  }\n}\n"
      << "service anvil {\n  chroot =\n"
      << (options_.quick_refusals ? "  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n" : "") << "}\n";
    if (options_.pop3) {
        c << "pop3_uidl_format = %08Xu%08Xv\n"
          << "service pop3-login {\n  chroot =\n"
          << "  inet_listener pop3 {\n    port = " << pop3_port_ << "\n  }\n"
          << "  inet_listener pop3s {\n    port = " << (tls ? pop3s_port_ : 0) << (tls ? "\n    ssl = yes" : "")
          << "\n  }\n}\n";
    }
    const std::string oauth2_conf = "introspection_mode = post\n"
                                    "introspection_url = " +
                                    options_.oauth2_introspection_url +
                                    "\n"
                                    "username_attribute = username\n"
                                    "active_attribute = active\n"
                                    "active_value = true\n";
    if (oauth2 && !write_file(dir_ + "/oauth2.conf.ext", oauth2_conf)) {
        return false;
    }
    std::filesystem::create_directories(dir_ + "/run");
    std::filesystem::create_directories(dir_ + "/state");
    chmod((dir_ + "/run").c_str(), 0755);
    return write_file(dir_ + "/users", users) && write_file(dir_ + "/dovecot.conf", c.str());
}

bool DovecotServer::start() {
    if (access(kDovecot, X_OK) != 0) {
        error_ = std::string(kDovecot) + " is missing: scripts/install-deps.sh installs dovecot-imapd";
        return false;
    }
    if (options_.pop3 && access(kPop3Binary, X_OK) != 0) {
        error_ = std::string(kPop3Binary) + " is missing: scripts/install-deps.sh installs dovecot-pop3d";
        return false;
    }
    if (dir_.empty()) {
        error_ = "no temporary directory";
        return false;
    }
    if (imap_port_ == 0) {
        imap_port_ = free_port();
        imaps_port_ = free_port();
        if (options_.pop3) {
            pop3_port_ = free_port();
            pop3s_port_ = free_port();
        }
    }
    if (!write_configuration()) {
        error_ = "cannot write the configuration in " + dir_;
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int out = open((dir_ + "/dovecot.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        execl(kDovecot, kDovecot, "-F", "-c", (dir_ + "/dovecot.conf").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    setpgid(pid, pid); // whichever of the two runs first, the group exists before anyone signals it
    pid_ = pid;
    bool exited = false;
    bool up = wait_until(
        [&] {
            int status = 0;
            exited = waitpid(pid_, &status, WNOHANG) == pid_;
            return exited || (accepts(imap_port_) && (!options_.pop3 || accepts(pop3_port_)));
        },
        kStartMs);
    if (exited || !up) {
        if (exited) {
            pid_ = -1;
        }
        stop();
        std::ifstream out(dir_ + "/dovecot.out");
        std::string said((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
        error_ = "dovecot did not start: " + said + log();
        return false;
    }
    return true;
}

void DovecotServer::stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(-pid_, SIGCONT); // a paused group would never act on SIGTERM
    kill(-pid_, SIGTERM);
    bool master_gone = false;
    auto group_gone = [&] {
        int status = 0;
        master_gone = master_gone || waitpid(pid_, &status, WNOHANG) == pid_;
        return master_gone && kill(-pid_, 0) != 0 && errno == ESRCH;
    };
    if (!wait_until(group_gone, kStopMs)) {
        kill(-pid_, SIGKILL);
        wait_until(group_gone, kStopMs);
    }
    pid_ = -1;
}

bool DovecotServer::restart() {
    stop();
    return start();
}

void DovecotServer::pause() {
    if (pid_ > 0) {
        kill(-pid_, SIGSTOP);
    }
}

void DovecotServer::resume() {
    if (pid_ > 0) {
        kill(-pid_, SIGCONT);
    }
}

std::string DovecotServer::server_name(bool tls) const {
    return std::string("127.0.0.1:").append(std::to_string(tls ? imaps_port_ : imap_port_));
}

std::string DovecotServer::pop3_server_name(bool tls) const {
    return std::string("127.0.0.1:").append(std::to_string(tls ? pop3s_port_ : pop3_port_));
}

std::string DovecotServer::log() const {
    std::ifstream in(dir_ + "/dovecot.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool DovecotServer::deliver(const std::string& user, const std::string& message) {
    const std::string name = std::to_string(time(nullptr)) + ".kd5test" + std::to_string(getpid()) + "_" +
                             std::to_string(++deliveries_) + ".localhost";
    const std::string temporary = maildir(user) + "/tmp/" + name;
    if (!write_file(temporary, message)) {
        return false;
    }
    own(temporary);
    return std::rename(temporary.c_str(), (maildir(user) + "/new/" + name).c_str()) == 0;
}

bool DovecotServer::doveadm(const std::vector<std::string>& arguments, std::string* output) const {
    std::vector<std::string> argv = {kDoveadm, "-c", dir_ + "/dovecot.conf"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run(argv, output);
}

bool DovecotServer::add_folder(const std::string& user, const std::string& folder) const {
    return doveadm({"mailbox", "create", "-u", user, folder});
}

bool DovecotServer::delete_folder(const std::string& user, const std::string& folder) const {
    return doveadm({"mailbox", "delete", "-u", user, folder});
}

bool DovecotServer::deliver_to(const std::string& user, const std::string& folder, const std::string& message) const {
    std::string output;
    return run({kLda, "-c", dir_ + "/dovecot.conf", "-d", user, "-m", folder}, &output, message);
}

bool DovecotServer::mark_read(const std::string& user, const std::string& folder, const std::string& query) const {
    std::vector<std::string> arguments = {"flags", "add", "-u", user, "\\Seen", "mailbox", folder};
    for (std::size_t at = 0; at <= query.size();) {
        const std::size_t space = std::min(query.find(' ', at), query.size());
        arguments.push_back(query.substr(at, space - at));
        at = space + 1;
    }
    return doveadm(arguments);
}

bool DovecotServer::mark_all_read(const std::string& user) const {
    return doveadm({"flags", "add", "-u", user, "\\Seen", "mailbox", "INBOX", "all"});
}

std::string DovecotServer::flags(const std::string& user) const {
    std::string output;
    if (!doveadm({"-f", "flow", "fetch", "-u", user, "flags", "mailbox", "INBOX", "all"}, &output)) {
        return "doveadm failed: " + output;
    }
    return output;
}
