// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Plays wave files for new mail. The call returns at once; a missing file, a file that is not a wave file or a
// machine without a sound server is not an error anyone hears about.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const char* path) = 0;
};

// The player in force (the system's own unless a test installed another).
SoundPlayer& sound_player();

// Installs a player (tests record what was played); nullptr restores the system's own.
void set_sound_player(SoundPlayer* player);

// Plays a wave file once through libcanberra and waits for its end, at most wait_ms (kd5lite --check). Empty when
// it played; else why not, in libcanberra's words ("File or data not found", "Not available", ...).
std::string sound_try(const char* path, int wait_ms);
