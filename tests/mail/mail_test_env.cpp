// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/mail/mail_test_env.h"

#include "mail/pop3/known_hits.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <filesystem>

MailTest::MailTest() : saved_(timing()) {
    settings_set(Key::ErrorLog, "107");
    set_timing(fast_timing());
}

MailTest::~MailTest() {
    set_timing(saved_);
    forget_known_hits(); // what one test's checks learned must not spare the next one a TOP
}

Timing MailTest::fast_timing() {
    Timing t;
    t.select_timeout_ms = 300;
    t.send_timeout_ms = 300;
    t.connect_timeout_ms = 2000;
    return t;
}

void MailTest::give_up_quickly() {
    Timing t = timing();
    t.select_timeout_ms = 1;
    set_timing(t);
}

std::vector<std::string> MailTest::error_lines() const {
    std::vector<std::string> lines;
    std::string text = dir_.read("err07.log");
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        lines.push_back(line.size() >= 15 ? line.substr(15) : line); // "12/07 09:05:01 "
        start = end + 2;
    }
    return lines;
}

void MailTest::clear_error_log() const {
    std::filesystem::remove(dir_.path("err07.log"));
}

std::string MailTest::all_files() const {
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.dir())) {
        all += dir_.read(entry.path().filename().string());
    }
    return all;
}

void MailTest::set_account(int index, const std::string& server, const std::string& id, const std::string& password) {
    settings_set(Key::ServerName, server.c_str(), index);
    settings_set(Key::ID, id.c_str(), index);
    settings_set(Key::Password, password.c_str(), index);
}

void MailTest::set_filter(int index, int i, const std::string& address, const std::string& condition) {
    const Key addresses[] = {Key::SpecialAddress1, Key::SpecialAddress2, Key::SpecialAddress3};
    const Key searches[] = {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3};
    settings_set(addresses[i], address.c_str(), index);
    settings_set(searches[i], condition.c_str(), index);
}

std::string MailTest::outcome_differs(const CheckOutcome& got, CheckStep step, CheckFailure failure, int error) const {
    std::string differs;
    if (got.step != step || got.failure != failure) {
        differs += std::string("ended at ") + check_step_name(got.step) + ": " + check_failure_name(got.failure) + "; ";
    }
    if (error != kAnyError && got.error != error) {
        differs += "error " + std::to_string(got.error) + "; ";
    }
    // A failure keeps the line it wrote; a stop and a check that worked wrote none.
    const std::vector<std::string> lines = error_lines();
    const bool logged = std::find(lines.begin(), lines.end(), got.line) != lines.end();
    const bool written = got.failure != CheckFailure::none && got.failure != CheckFailure::stopped;
    if (written ? !logged : !got.line.empty()) {
        differs += "line \"" + got.line + "\" not as logged; ";
    }
    return differs;
}
