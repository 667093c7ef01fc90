// SPDX-License-Identifier: GPL-3.0-or-later
// The system's own player (libcanberra): it must return at once and do no harm whatever it is given, sound server
// or not.

#include "lamp/sound.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

class NullPlayer : public SoundPlayer {
public:
    void play(const char*) override { ++calls; }
    void play_event(const char*) override { ++calls; }
    int calls = 0;
};

TEST(SoundPlayer, InstalledPlayerIsUsedUntilRemoved) {
    NullPlayer mine;
    SoundPlayer& own = sound_player();
    set_sound_player(&mine);
    sound_player().play("a.wav");
    EXPECT_EQ(mine.calls, 1);
    set_sound_player(nullptr);
    EXPECT_EQ(&sound_player(), &own);
}

TEST(SoundPlayer, SystemPlayerReturnsAtOnceForMissingOrBrokenFiles) {
    TempCorvo dir;
    dir.write("not-a-wave.wav", "this is text, not RIFF");
    auto t0 = std::chrono::steady_clock::now();
    sound_player().play(dir.path("missing.wav").c_str());
    sound_player().play(dir.path("not-a-wave.wav").c_str());
    sound_player().play("");
    sound_player().play_event("no-such-sound-in-any-theme");
    sound_player().play_event(kNewMailSound);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 2000);
}

// Catches a buzzer or a wave file that sounds while quiet, and a silent lamp (BeepTime 0, no wave file) left without
// any sound.
TEST(MailSound, BuzzerThenWaveThenThemeAndNothingWhileQuiet) {
    const struct {
        int beep_time;
        bool has_wave;
        bool quiet;
        MailSound want;
    } rows[] = {
        {2, true, false, MailSound::buzzer}, {2, false, false, MailSound::buzzer}, {0, true, false, MailSound::wave},
        {0, false, false, MailSound::theme}, {2, true, true, MailSound::none},     {0, true, true, MailSound::none},
        {0, false, true, MailSound::none},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(mail_sound(r.beep_time, r.has_wave, r.quiet), r.want) << r.beep_time << r.has_wave << r.quiet;
    }
}

} // namespace
