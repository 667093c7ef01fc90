// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/temp_corvo.h"

#include "platform/clock.h"
#include "settings/log_markers.h"
#include "settings/settings.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempCorvo::TempCorvo() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kd5test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
    if (const char* old = std::getenv("CORVO_HOME")) {
        had_home_ = true;
        old_home_ = old;
    }
    setenv("CORVO_HOME", dir_.c_str(), 1);
    settings_clear();
    connect_log_markers(); // what a program does at its start; once is enough, again does no harm
}

TempCorvo::~TempCorvo() {
    if (had_home_) {
        setenv("CORVO_HOME", old_home_.c_str(), 1);
    } else {
        unsetenv("CORVO_HOME");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    settings_clear();
}

std::string TempCorvo::read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void TempCorvo::write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
}

bool TempCorvo::exists(const std::string& name) const { return std::filesystem::exists(path(name)); }

FixedClock::FixedClock(int year, int month, int day, int hour, int minute, int second) {
    set(year, month, day, hour, minute, second);
    clock_set_source([this] { return now_; });
}

FixedClock::~FixedClock() { clock_set_source({}); }

void FixedClock::set(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    now_ = std::mktime(&tm);
}

UtcZone::UtcZone() {
    if (const char* zone = std::getenv("TZ")) {
        old_zone_ = zone;
        had_zone_ = true;
    }
    setenv("TZ", "UTC", 1);
    tzset();
}

UtcZone::~UtcZone() {
    if (had_zone_) {
        setenv("TZ", old_zone_.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
