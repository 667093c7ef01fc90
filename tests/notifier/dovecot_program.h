#pragma once

#include "tests/notifier/harness.h"

#include <memory>
#include <string>
#include <vector>

// A real Dovecot IMAP server on a loopback port chosen at run time, with its own configuration, passwd-file users
// and Maildirs in a directory of its own, run in the foreground as a child; started as root (CI) or as an ordinary
// user. A missing Dovecot fails start(), never skips.
class DovecotProgram {
public:
    explicit DovecotProgram(std::vector<std::string> users, std::string password = "secret");
    ~DovecotProgram();
    DovecotProgram(const DovecotProgram&) = delete;
    DovecotProgram& operator=(const DovecotProgram&) = delete;

    // Starts it, on the port of the last run when there was one, and waits until it takes connections.
    bool start();
    // SIGTERM to the master and every process it started, and waits for the master's end.
    void stop();
    // Signals the master and every process it started (SIGSTOP, SIGCONT).
    void signal_all(int sig);

    std::string server_name() const { return "127.0.0.1:" + std::to_string(port_); }
    // Puts a new unread message into the user's INBOX the way a delivery agent does (tmp/, then new/).
    void deliver(const std::string& user);
    // Marks every message of the user's INBOX read over IMAP, as a mail client elsewhere does; whether it worked.
    bool read_all(const std::string& user);
    std::string log() const;

private:
    std::string dir_;
    std::string password_;
    std::vector<std::string> users_;
    int port_ = 0;
    int delivered_ = 0;
    std::unique_ptr<ChildProcess> process_;
};
