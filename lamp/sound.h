// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Plays wave files and theme sounds for new mail. The call returns at once; a missing file, a file that is not a
// wave file or a machine without a sound server is not an error anyone hears about.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const char* path) = 0;
    // A sound of the desktop's sound theme by its event name (freedesktop sound naming), e.g. kNewMailSound.
    virtual void play_event(const char* event_id) = 0;
};

// The theme's sound for new mail.
inline constexpr char kNewMailSound[] = "message-new-email";

// What sounds for an account's new mail: the buzzer when BeepTime is above 0, else the account's wave file, else
// the theme's sound for new mail, so that a lamp set silent still sounds; nothing while quiet (lamp/quiet.h).
enum class MailSound { buzzer, wave, theme, none };
MailSound mail_sound(int beep_time, bool has_wave, bool quiet);

// Whether the theme's sound for an LED's new mail goes out with the desktop's notification this time (the
// notifier decides as it announces, and the notification server then plays it); when not, the lamp plays it
// itself. Installed by the notifier; nullptr: never.
void set_theme_sound_elsewhere(bool (*elsewhere)(int led));
bool theme_sound_elsewhere(int led);

// The player in force (the system's own unless a test installed another).
SoundPlayer& sound_player();

// Installs a player (tests record what was played); nullptr restores the system's own.
void set_sound_player(SoundPlayer* player);

// Plays a wave file once through libcanberra and waits for its end, at most wait_ms (kd5lite --check). Empty when
// it played; else why not, in libcanberra's words ("File or data not found", "Not available", ...).
std::string sound_try(const char* path, int wait_ms);
