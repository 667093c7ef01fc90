// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check_report.h"

#include "logging/log.h"

#include <string_view>

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

std::vector<std::string> CapturedErrors::take() {
    std::vector<std::string> lines;
    lines.swap(lines_);
    return lines;
}

std::string CapturedErrors::last() {
    if (lines_.empty()) {
        return {};
    }
    const std::string& line = lines_.back();
    constexpr std::string_view arrow = "---> ";
    std::size_t at = line.find(arrow);
    return at == std::string::npos ? line : line.substr(at + arrow.size());
}
