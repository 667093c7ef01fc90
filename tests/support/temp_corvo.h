// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ctime>
#include <string>

// A fresh settings directory for one test: CORVO_HOME points at it while the object lives, the settings record
// is cleared, the log writers take their switches from it as a program's do, and the directory is removed at the
// end.
class TempCorvo {
public:
    TempCorvo();
    ~TempCorvo();
    TempCorvo(const TempCorvo&) = delete;
    TempCorvo& operator=(const TempCorvo&) = delete;

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string settings_path() const { return path("corvo_kd5lite.ini"); }

    // Whole-file helpers.
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& text) const;
    bool exists(const std::string& name) const;

private:
    std::string dir_;
    std::string old_home_;
    bool had_home_ = false;
};

// Holds the clock at a fixed local time while it lives; set() moves it.
class FixedClock {
public:
    FixedClock(int year, int month, int day, int hour = 9, int minute = 5, int second = 1);
    ~FixedClock();
    void set(int year, int month, int day, int hour = 9, int minute = 5, int second = 1);
    std::time_t now() const { return now_; }

private:
    std::time_t now_ = 0;
};

// Local time is UTC while it lives, so that times print alike on every machine; the zone before comes back after.
class UtcZone {
public:
    UtcZone();
    ~UtcZone();
    UtcZone(const UtcZone&) = delete;
    UtcZone& operator=(const UtcZone&) = delete;

private:
    std::string old_zone_;
    bool had_zone_ = false;
};
