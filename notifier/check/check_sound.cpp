// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check.h"

#include "lamp/sound.h"
#include "platform/timing.h"
#include "settings/key_values.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char kTopic[] = "sound";

// A wave file begins "RIFF", four bytes of length, "WAVE". Told apart here because libcanberra gives the same
// "not found" for a file it cannot decode as for a machine without sound output.
bool is_wave_file(const std::string& path) {
    char head[12] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return got == sizeof head && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

} // namespace

void check_sound(CheckReport& report) {
    const int beep = beep_count();
    if (beep > 0) {
        report.info(kTopic, "the buzzer sounds " + std::to_string(beep) +
                                " s for new mail; wave files play only with buzzer time 0 (kd5lite_ap, 系统 tab)");
        return;
    }
    for (int i = 0; i < kAccountCount; ++i) {
        if (!account_watched(i)) {
            continue;
        }
        const std::string account = "account " + std::to_string(i + 1) + ": ";
        const std::string file = settings_get(Key::SoundFile, i);
        if (file.empty()) {
            report.warn(kTopic, account + "no wave file, so its new mail is silent (kd5lite_op, 声音 tab)");
        } else if (access(file.c_str(), R_OK) != 0) {
            report.warn(kTopic, account + file + " does not exist or is not readable (kd5lite_op, 声音 tab)");
        } else if (!is_wave_file(file)) {
            report.warn(kTopic, account + file + " is not a wave file (kd5lite_op, 声音 tab)");
        } else if (std::string why = sound_try(file.c_str(), timing().sound_pause_ms); !why.empty()) {
            report.warn(kTopic,
                        account + "libcanberra cannot play " + file + " (" + why + "): is there a sound output?");
        } else {
            report.ok(kTopic, account + file + " plays");
        }
    }
}
