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
    // Progress lines go out only when out is a terminal: someone waits there and wants to see the steps.
    explicit CheckReport(std::FILE* out);

    void add(Verdict verdict, const std::string& topic, const std::string& text);
    void ok(const std::string& topic, const std::string& text) { add(Verdict::ok, topic, text); }
    void info(const std::string& topic, const std::string& text) { add(Verdict::info, topic, text); }
    void warn(const std::string& topic, const std::string& text) { add(Verdict::warn, topic, text); }
    void fail(const std::string& topic, const std::string& text) { add(Verdict::fail, topic, text); }

    // The step that begins now ("...  account 1 (red): connecting to ..."), on a terminal only.
    void progress(const std::string& topic, const std::string& text);

    bool failed() const { return failed_; }

private:
    std::FILE* out_;
    bool terminal_;
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

    // The newest collected line, made safe for a terminal; empty when there is none.
    std::string newest() const;

private:
    std::vector<std::string> lines_;
    std::function<void(const std::string&)> outer_; // an enclosing capture, set again at the end
};
