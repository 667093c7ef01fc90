#include "tests/notifier/dovecot_program.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A port nobody listens on now: the kernel's choice for a socket bound to port 0.
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

int connect_to(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads from fd until the text holds want or the patience runs out.
bool read_until(int fd, const std::string& want, std::string& text) {
    return wait_until(
        [&] {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 10) == 1) {
                char buffer[4096];
                ssize_t got = read(fd, buffer, sizeof buffer);
                if (got > 0) {
                    text.append(buffer, static_cast<std::size_t>(got));
                }
            }
            return text.find(want) != std::string::npos;
        },
        kPatience);
}

// Mail is owned by one user: the test's own, or nobody's when the test runs as root (Dovecot serves no mail as
// root, and its login processes run as its own unprivileged user).
struct MailOwner {
    std::string name;
    uid_t uid;
    gid_t gid;
};

MailOwner mail_owner() {
    const passwd* p = getpwuid(geteuid() == 0 ? getpwnam("nobody")->pw_uid : geteuid());
    return {p->pw_name, p->pw_uid, p->pw_gid};
}

void give_to_owner(const fs::path& path) {
    if (geteuid() == 0) {
        MailOwner owner = mail_owner();
        [[maybe_unused]] int rc = chown(path.c_str(), owner.uid, owner.gid);
    }
}

} // namespace

DovecotProgram::DovecotProgram(std::vector<std::string> users, std::string password)
    : password_(std::move(password)), users_(std::move(users)) {
    // Short and readable by Dovecot's login user: its sockets live here, and a socket path has at most 107 bytes.
    char pattern[] = "/tmp/kd5dc-XXXXXX";
    dir_ = mkdtemp(pattern);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    std::ofstream passwd(dir_ + "/passwd");
    for (const std::string& user : users_) {
        passwd << user << ":{PLAIN}" << password_ << "\n";
        for (const char* sub : {"", "/Maildir", "/Maildir/tmp", "/Maildir/new", "/Maildir/cur"}) {
            fs::create_directories(dir_ + "/mail/" + user + sub);
            give_to_owner(dir_ + "/mail/" + user + sub);
        }
    }
    give_to_owner(dir_ + "/mail");
}

DovecotProgram::~DovecotProgram() {
    stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

bool DovecotProgram::start() {
    stop();
    if (port_ == 0) {
        port_ = free_port();
    }
    MailOwner owner = mail_owner();
    std::ofstream conf(dir_ + "/dovecot.conf", std::ios::trunc);
    conf << "base_dir = " << dir_ << "/run\n"
         << "state_dir = " << dir_ << "/state\n"
         << "log_path = " << dir_ << "/dovecot.log\n"
         << "protocols = imap\nlisten = 127.0.0.1\nssl = no\ndisable_plaintext_auth = no\n"
         << "auth_mechanisms = plain login\n"
         << "service imap-login {\n  inet_listener imap {\n    port = " << port_
         << "\n  }\n  inet_listener imaps {\n    port = 0\n  }\n}\n"
         << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << dir_ << "/passwd\n}\n"
         << "userdb {\n  driver = static\n  args = uid=" << owner.uid << " gid=" << owner.gid << " home=" << dir_
         << "/mail/%u mail=maildir:" << dir_ << "/mail/%u/Maildir\n}\n";
    if (geteuid() != 0) {
        conf << "default_login_user = " << owner.name << "\ndefault_internal_user = " << owner.name << "\n";
    }
    conf.close();
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/dovecot", "-F", "-c", dir_ + "/dovecot.conf"},
        std::map<std::string, std::string>{}, dir_ + "/dovecot.out");
    return wait_until(
        [&] {
            int fd = connect_to(port_);
            if (fd >= 0) {
                close(fd);
            }
            return fd >= 0 || !process_->running();
        },
        kPatience) &&
           process_->running();
}

void DovecotProgram::stop() {
    if (process_ != nullptr) {
        signal_all(SIGCONT);
        signal_all(SIGTERM); // as a service manager stops it: the connections' processes too, not only the master
        process_->wait_exit();
        process_.reset();
    }
}

void DovecotProgram::signal_all(int sig) {
    if (process_ == nullptr) {
        return;
    }
    const std::string master = std::to_string(process_->pid());
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state, parent;
        if (stat >> pid >> name >> state >> parent && parent == master) {
            kill(std::atoi(pid.c_str()), sig);
        }
    }
    process_->signal(sig);
}

void DovecotProgram::deliver(const std::string& user) {
    const std::string base = dir_ + "/mail/" + user + "/Maildir/";
    const std::string name = std::to_string(++delivered_) + ".kd5lite." + std::to_string(getpid());
    {
        std::ofstream message(base + "tmp/" + name, std::ios::binary);
        message << "From: Sender <sender@kd5lite.test>\r\nTo: " << user
                << "@kd5lite.test\r\nSubject: Message " << delivered_ << "\r\n\r\nHello.\r\n";
    }
    give_to_owner(base + "tmp/" + name);
    fs::rename(base + "tmp/" + name, base + "new/" + name);
}

bool DovecotProgram::read_all(const std::string& user) {
    int fd = connect_to(port_);
    if (fd < 0) {
        return false;
    }
    std::string text;
    const std::string commands = "r1 LOGIN " + user + " " + password_ +
                                 "\r\nr2 SELECT INBOX\r\nr3 STORE 1:* +FLAGS.SILENT (\\Seen)\r\nr4 LOGOUT\r\n";
    bool ok = read_until(fd, "* OK", text) && write(fd, commands.data(), commands.size()) > 0 &&
              read_until(fd, "r4 OK", text) && text.find("r3 OK") != std::string::npos;
    close(fd);
    return ok;
}

std::string DovecotProgram::log() const {
    std::ifstream in(dir_ + "/dovecot.log");
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
