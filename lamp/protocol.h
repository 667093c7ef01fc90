// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The lamp's wire protocol, shared by the command set and the lamp simulator. Pure, no device.
// A command is three ASCII characters and a carriage return; the lamp answers every command with three bytes, of
// which only the first counts.

inline constexpr int kCommandSize = 4;
inline constexpr int kReplySize = 3;
inline constexpr int kLedCount = 3; // 0 red, 1 green, 2 yellow: the account index
inline constexpr int kAck = 'Y';

struct LampCommand {
    unsigned char bytes[kCommandSize];
};

constexpr LampCommand lamp_command(char a, char b, char c) {
    return {{static_cast<unsigned char>(a), static_cast<unsigned char>(b), static_cast<unsigned char>(c), '\r'}};
}
constexpr LampCommand cmd_on(int led) {
    return lamp_command('O', 'N', static_cast<char>('0' + led));
}
constexpr LampCommand cmd_off(int led) {
    return lamp_command('O', 'F', static_cast<char>('0' + led));
}
constexpr LampCommand cmd_beep() {
    return lamp_command('B', 'E', 'P');
}
constexpr LampCommand cmd_clear() {
    return lamp_command('C', 'L', 'S');
}

// usb_read's judgement of the first reply byte: a digit, an upper-case letter or '-' is a reply
// character; anything else, the 0 of an empty read included, is a data abnormality.
constexpr bool reply_char_valid(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '-';
}

enum class LampOp { On, Off, Beep, Clear, Unknown };

struct ParsedCommand {
    LampOp op;
    int led; // 0 to 2 for On and Off, else -1
};

// What the lamp makes of the three characters before a carriage return.
constexpr ParsedCommand parse_command(const unsigned char* c) {
    auto led = [](unsigned char d) { return d >= '0' && d < '0' + kLedCount ? d - '0' : -1; };
    if (c[0] == 'O' && c[1] == 'N' && led(c[2]) >= 0) {
        return {LampOp::On, led(c[2])};
    }
    if (c[0] == 'O' && c[1] == 'F' && led(c[2]) >= 0) {
        return {LampOp::Off, led(c[2])};
    }
    if (c[0] == 'B' && c[1] == 'E' && c[2] == 'P') {
        return {LampOp::Beep, -1};
    }
    if (c[0] == 'C' && c[1] == 'L' && c[2] == 'S') {
        return {LampOp::Clear, -1};
    }
    return {LampOp::Unknown, -1};
}
