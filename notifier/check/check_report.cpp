// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check_report.h"

#include "logging/log.h"
#include "logging/log_text.h"

#include <unistd.h>

namespace {

const char* label(Verdict verdict) {
    switch (verdict) {
    case Verdict::ok:
        return "ok  ";
    case Verdict::info:
        return "info";
    case Verdict::warn:
        return "warn";
    case Verdict::fail:
        return "FAIL";
    }
    return "    ";
}

} // namespace

std::string check_line(Verdict verdict, const std::string& topic, const std::string& text) {
    return std::string(label(verdict)) + " " + topic + ": " + text;
}

CheckReport::CheckReport(std::FILE* out) : out_(out), terminal_(isatty(fileno(out)) == 1) {}

void CheckReport::progress(const std::string& topic, const std::string& text) {
    if (terminal_) {
        std::fprintf(out_, "...  %s: %s\n", topic.c_str(), text.c_str());
        std::fflush(out_);
    }
}

void CheckReport::add(Verdict verdict, const std::string& topic, const std::string& text) {
    failed_ = failed_ || verdict == Verdict::fail;
    std::fprintf(out_, "%s\n", check_line(verdict, topic, text).c_str());
    std::fflush(out_);
}

CapturedErrors::CapturedErrors() {
    outer_ = set_error_log_capture([this](const std::string& line) { lines_.push_back(line); });
}

CapturedErrors::~CapturedErrors() {
    set_error_log_capture(std::move(outer_));
}

std::string CapturedErrors::newest() const {
    return lines_.empty() ? std::string() : log_safe_text(lines_.back());
}
