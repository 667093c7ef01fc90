// SPDX-License-Identifier: GPL-3.0-or-later
#include "lamp/lamp.h"

#include "lamp/protocol.h"
#include "lamp/sound.h"
#include "lamp/usb.h"
#include "logging/log.h"
#include "platform/timing.h"
#include "settings/key_values.h"
#include "settings/settings_access.h"

#include <string>

LampState g_lamp{};

namespace {

// The led trace lines are handed over with the trace switch off, as everywhere in the system.
void trace(const char* text) {
    write_trace(LogKind::led, 0, text);
}

void trace_function(const char* name) {
    trace((std::string("[function] ") + name).c_str());
}

// One command and its acknowledgement; nothing is retried.
int command_step(const LampCommand& command) {
    if (usb_write(command.bytes, kCommandSize) == -1) {
        trace("[error] usb_write");
        return -1;
    }
    if (usb_read() != kAck) {
        trace("[error] usb_read return(Not Y)");
        return -1;
    }
    return 0;
}

bool newly_lit(int led) {
    return g_lamp.lit[led] == 1 && g_lamp.notified[led] == 0;
}

bool any_newly_lit() {
    for (int led = 0; led < kLedCount; ++led) {
        if (newly_lit(led)) {
            return true;
        }
    }
    return false;
}

} // namespace

int led_start() {
    trace_function("led_start");
    usb_close();
    if (usb_open() == -1) {
        return -1;
    }
    return led_clean();
}

int led_on() {
    trace_function("led_on");
    for (int led = 0; led < kLedCount; ++led) {
        if (g_lamp.lit[led] == 1 && command_step(cmd_on(led)) == -1) {
            return -1;
        }
    }
    return 0;
}

int led_off() {
    trace_function("led_off");
    for (int led = 0; led < kLedCount; ++led) {
        if (g_lamp.lit[led] == 0 && command_step(cmd_off(led)) == -1) {
            return -1;
        }
    }
    return 0;
}

int led_beep() {
    trace_function("led_beep");
    int beep_time = beep_count();
    if (beep_time > 0 && any_newly_lit()) {
        // BeepTime is read anew before every repetition, so a change made meanwhile takes effect at once.
        int sent = 0;
        do {
            if (command_step(cmd_beep()) == -1) {
                return -1; // notified stays as it was: the same mail is announced again next time
            }
            ++sent;
        } while (sent < beep_count());
    } else {
        for (int led = 0; led < kLedCount; ++led) {
            if (!newly_lit(led)) {
                continue;
            }
            std::string file = settings_get(Key::SoundFile, led);
            if (!file.empty()) {
                sound_player().play(file.c_str());
            }
            pause_ms(timing().sound_pause_ms);
        }
    }
    for (int led = 0; led < kLedCount; ++led) {
        g_lamp.notified[led] = g_lamp.lit[led];
    }
    return 0;
}

int led_1beep() {
    trace_function("led_1beep");
    return command_step(cmd_beep());
}

int led_alloff() {
    trace_function("led_alloff");
    return command_step(cmd_clear());
}

int led_clean() {
    trace_function("led_clean");
    return command_step(cmd_clear());
}

int led_end() {
    trace_function("led_end");
    usb_close();
    return 0;
}

int led_set(int led, bool on) {
    trace_function("led_set");
    if (led < 0 || led >= kLedCount) {
        return -1;
    }
    usb_close();
    if (usb_open() == -1) {
        return -1;
    }
    const int rc = command_step(on ? cmd_on(led) : cmd_off(led));
    usb_close();
    return rc;
}
