// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Waits for cond with a deadline, polling every millisecond; true when it came true in time.
bool wait_until(const std::function<bool()>& cond, int timeout_ms = 5000);

// Path of the kd5lite-lampsim binary of this build.
const char* lampsim_path();

// A running kd5lite-lampsim for one test. Its link, command log and output live in a directory of the test's
// (by-id/, lampsim.log, lampsim.out), and KD5LITE_SERIAL_DIR points at the link directory while the handle lives,
// so usb_open finds the simulated lamp as it would find the real one under /dev/serial/by-id.
class LampSim {
public:
    struct Options {
        std::string serial = "A1B2C3D4";
        std::string reply; // --reply, when not empty
        bool silent = false;
        int delay_ms = 0; // --delay, when above 0
    };

    // Starts the simulator and waits until its link is there.
    explicit LampSim(const std::string& dir);
    LampSim(const std::string& dir, Options options);
    ~LampSim();
    LampSim(const LampSim&) = delete;
    LampSim& operator=(const LampSim&) = delete;

    bool start();          // starts it again after kill() or stop(); false when the link did not appear
    void kill();           // SIGKILL: the lamp pulled out without warning; its link goes, as udev removes it
    void stop();           // SIGTERM, then waits for the end (the link is removed)
    void send(int signal); // SIGUSR1 unplugs / plugs in again, SIGUSR2 switches silent
    bool running() const { return pid_ > 0; }

    const std::string& serial() const { return options_.serial; }
    const std::string& link_dir() const { return link_dir_; }
    std::string link_path() const;

    std::vector<std::string> commands() const; // the command log, one command per element
    bool wait_for_commands(std::size_t n, int timeout_ms = 5000) const;
    std::string output() const; // what it printed
    bool wait_for_output(const std::string& text, int timeout_ms = 5000) const;

private:
    std::string dir_;
    std::string link_dir_;
    Options options_;
    pid_t pid_ = -1;
    std::string old_serial_dir_;
    bool had_serial_dir_ = false;
};
