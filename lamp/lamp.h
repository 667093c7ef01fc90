// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The lamp's command set over the USB transport. LED numbers are account indexes: 0 red, 1 green, 2 yellow.

struct LampState {
    unsigned char lit[3];      // 1: the account has mail and its LED is to be on
    unsigned char notified[3]; // 1: the mail that lit this LED has been announced
};

// Shared by the worker jobs and the lamp operations, which run on the one job thread.
extern LampState g_lamp;

int led_start();  // close, open, then led_clean: every sequence starts with all LEDs off
int led_on();     // "ON" + digit for each lit LED, stops at the first failure
int led_off();    // "OF" + digit for each unlit LED, stops at the first failure
int led_beep();   // BeepTime buzzes, or with BeepTime 0 each newly lit account's sound file; sets notified
int led_1beep();  // one buzz
int led_alloff(); // all LEDs off
int led_clean();  // all LEDs off (the one led_start uses)
int led_end();    // closes the link; always 0

// One LED switched on or off with one command, the others left as they show: the link opened without led_start's
// clearing, the command and its acknowledgement, the link closed. For the blink between two lamp updates.
int led_set(int led, bool on);
