// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The lines of kd5lite --check, printed as they are found: the account checks take seconds each.
enum class Verdict {
    ok,   // works
    info, // how things are set, nothing to do
    warn, // worth mending, but monitoring works without it
    fail, // monitoring cannot work until this is mended
};

class CheckReport {
public:
    explicit CheckReport(std::FILE* out) : out_(out) {}

    void add(Verdict verdict, const std::string& topic, const std::string& text);
    void ok(const std::string& topic, const std::string& text) { add(Verdict::ok, topic, text); }
    void info(const std::string& topic, const std::string& text) { add(Verdict::info, topic, text); }
    void warn(const std::string& topic, const std::string& text) { add(Verdict::warn, topic, text); }
    void fail(const std::string& topic, const std::string& text) { add(Verdict::fail, topic, text); }

    bool failed() const { return failed_; }

private:
    std::FILE* out_;
    bool failed_ = false;
};

// The line of one finding: "FAIL lamp: ..." with the verdict in a column of its own.
std::string check_line(Verdict verdict, const std::string& topic, const std::string& text);

// While it lives, the error-log lines of the operations the check runs are collected here instead of written:
// the check changes no log and no day marker in the settings file.
class CapturedErrors {
public:
    CapturedErrors();
    ~CapturedErrors();
    CapturedErrors(const CapturedErrors&) = delete;
    CapturedErrors& operator=(const CapturedErrors&) = delete;

    // The lines collected since the last take, oldest first.
    std::vector<std::string> take();
    // The newest collected line, without its layer prefix ("USB operation ---> "); empty when there is none.
    std::string last();

private:
    std::vector<std::string> lines_;
    std::function<void(const std::string&)> outer_; // an enclosing capture, set again at the end
};
