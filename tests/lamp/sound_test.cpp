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
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 2000);
}

} // namespace
