// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lamp/lamp.h"
#include "lamp/sound.h"
#include "lamp/usb.h"
#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The lamp link against a real kd5lite-lampsim through a real pseudo-terminal. The timing record is shortened:
// polls of 2 ms (the count stays 100) and sound pauses of 150 ms, so a silent lamp costs about a quarter second.
class LampLinkTest : public ::testing::Test {
protected:
    static constexpr int kPollMs = 2;
    static constexpr int kSoundPauseMs = 150;

    void SetUp() override {
        Timing t;
        t.usb_poll_ms = kPollMs;
        t.sound_pause_ms = kSoundPauseMs;
        set_timing(t);
        std::strcpy(g_settings.ErrorLog, "107"); // the error log on, marker on today's day
        g_lamp = LampState{};
    }

    void TearDown() override {
        usb_close();
        sim_.reset();
        set_timing(Timing{});
        g_lamp = LampState{};
    }

    LampSim& start_sim(LampSim::Options options = {}) {
        sim_.reset(); // the old one first: each handle restores KD5LITE_SERIAL_DIR as it found it
        sim_ = std::make_unique<LampSim>(dir_.dir(), std::move(options));
        settings_set(Key::SerialNumber, ("X" + sim_->serial()).c_str());
        return *sim_;
    }

    std::string error_log() const { return dir_.read("err07.log"); }

    // Error lines without their time prefix.
    std::vector<std::string> error_lines() const {
        std::vector<std::string> lines;
        std::string text = error_log();
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                end = text.size();
            }
            lines.push_back(text.substr(start + 15, end - start - 15));
            start = end + 2;
        }
        return lines;
    }

    static double elapsed_ms(std::chrono::steady_clock::time_point since) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
    }

    TempCorvo dir_;
    FixedClock clock_{2026, 3, 7};
    std::unique_ptr<LampSim> sim_;
};

// Records what would have been played, and when.
class RecordingPlayer : public SoundPlayer {
public:
    RecordingPlayer() { set_sound_player(this); }
    ~RecordingPlayer() override { set_sound_player(nullptr); }
    void play(const char* path) override {
        played.emplace_back(path);
        at.push_back(std::chrono::steady_clock::now());
    }
    void play_event(const char* event_id) override { events.emplace_back(event_id); }
    std::vector<std::string> played;
    std::vector<std::string> events; // theme sounds, by event name
    std::vector<std::chrono::steady_clock::time_point> at;
};
