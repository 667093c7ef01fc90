#pragma once

#include "tests/support/temp_corvo.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Polls pred until it holds or timeout_ms have passed; true when it held.
bool eventually(const std::function<bool()>& pred, int timeout_ms = 20000);

// A key of the settings file as the tools would read it; "<missing>" when absent.
std::string file_key(const TempCorvo& dir, const char* key, int account = -1);

// Writes one key into the settings file the way a tool does.
void tool_write(const char* key, const char* value, int account = -1);

// Every state (log) or error (err) log file of the directory, oldest day number first, joined.
std::string log_text(const TempCorvo& dir, const char* stem);

// Number of times needle occurs in text.
int count_of(const std::string& text, const std::string& needle);

// The real notifier binary, started offscreen with its settings and its single-instance lock in dir.
class NotifierProcess {
public:
    NotifierProcess(const TempCorvo& dir, std::vector<std::pair<std::string, std::string>> env = {});
    ~NotifierProcess();
    NotifierProcess(const NotifierProcess&) = delete;
    NotifierProcess& operator=(const NotifierProcess&) = delete;

    // Waits for the process to end; its exit code, or -1 when it did not end in time or died by a signal.
    int wait_exit(int timeout_ms = 20000);
    bool running();
    void signal(int sig);
    pid_t pid() const { return pid_; }
    std::string error_output() const; // what it wrote on standard error

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::string stderr_path_;
};
