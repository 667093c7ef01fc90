// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/lampsim_handle.h"
#include "tests/support/temp_corvo.h"

#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// How long a test waits for the notifier: generous, since sanitizers and a busy machine slow everything down.
inline constexpr int kPatience = 20000;

// A key of the settings file as the tools would read it; "<missing>" when absent. account -1: the system section.
std::string file_key(const TempCorvo& dir, const char* key, int account = -1);

// Writes one key into the settings file the way a tool does.
void tool_write(const char* key, const char* value, int account = -1);

// Enables an account the way the setup program stores it, the password in its scrambled form.
void tool_write_account(int account, const std::string& server, const std::string& id, const std::string& password);

// Every state (stem "log") or error ("err") log file of the directory, oldest day number first, joined.
std::string log_text(const TempCorvo& dir, const char* stem);

int count_of(const std::string& text, const std::string& needle);

// A program of this build run as a child with the test's environment plus env; its standard output and error go
// to output_path. Killed at the end if still running.
class ChildProcess {
public:
    ChildProcess(std::vector<std::string> argv, const std::map<std::string, std::string>& env, std::string output_path);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Its exit code once it has ended, or -1 when it did not end in time or died by a signal.
    int wait_exit(int timeout_ms = kPatience);
    bool running();
    void signal(int sig);
    std::string output() const;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::string output_path_;
};

// The real notifier binary, offscreen, with its settings and its single-instance lock in dir and the timing
// record scaled down.
class NotifierProcess : public ChildProcess {
public:
    explicit NotifierProcess(const TempCorvo& dir, const std::map<std::string, std::string>& env = {});
};

// An X display of its own (Xvfb, no network listener), for stories that need a desktop.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const TempCorvo& dir);
    // ":N", or empty when the server did not come up.
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<ChildProcess> server_;
    std::string name_;
};

// The POP3 server program serving one account whose maildrop is the files of a directory, read at each login.
class Pop3Program {
public:
    Pop3Program(const TempCorvo& dir, std::string user, std::string password);
    ~Pop3Program();

    // Starts it, on the port of the last run when there was one. extra: further options, e.g. a scripted reply.
    bool start(const std::vector<std::string>& extra = {});
    void stop();
    std::string server_name() const { return "127.0.0.1:" + std::to_string(port_); }
    void set_message_count(int n); // files in the maildrop

private:
    std::string dir_;
    std::string maildir_;
    std::string user_;
    std::string password_;
    int port_ = 0;
    int runs_ = 0;
    std::unique_ptr<ChildProcess> process_;
};
