// SPDX-License-Identifier: GPL-3.0-or-later
// The pure parts of the lamp link: command bytes, the reply judgement, the by-id name and serial rules.

#include "lamp/protocol.h"
#include "lamp/usb_serial.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytes(const LampCommand& c) {
    return std::string(reinterpret_cast<const char*>(c.bytes), kCommandSize);
}

TEST(LampCommandBytes, AreThreeCharactersAndACarriageReturn) {
    EXPECT_EQ(bytes(cmd_on(0)), "ON0\r");
    EXPECT_EQ(bytes(cmd_on(1)), "ON1\r");
    EXPECT_EQ(bytes(cmd_on(2)), "ON2\r");
    EXPECT_EQ(bytes(cmd_off(0)), "OF0\r");
    EXPECT_EQ(bytes(cmd_off(2)), "OF2\r");
    EXPECT_EQ(bytes(cmd_beep()), "BEP\r");
    EXPECT_EQ(bytes(cmd_clear()), "CLS\r");
}

// Catches a judgement that lets lower case, blanks, control bytes or high bytes through, or rejects '-'.
TEST(ReplyJudgement, OnlyDigitsUpperCaseLettersAndDashAreReplyCharacters) {
    std::string accepted;
    for (int c = 0; c < 256; ++c) {
        if (reply_char_valid(c)) {
            accepted += static_cast<char>(c);
        }
    }
    EXPECT_EQ(accepted, "-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_TRUE(reply_char_valid(kAck));
}

TEST(ParseCommand, KnowsTheSixCommandFormsAndNothingElse) {
    struct Case {
        const char* text;
        LampOp op;
        int led;
    };
    const Case cases[] = {
        {"ON0", LampOp::On, 0},       {"ON2", LampOp::On, 2},       {"OF1", LampOp::Off, 1},
        {"BEP", LampOp::Beep, -1},    {"CLS", LampOp::Clear, -1},   {"ON3", LampOp::Unknown, -1},
        {"OF/", LampOp::Unknown, -1}, {"on1", LampOp::Unknown, -1}, {"BEE", LampOp::Unknown, -1},
        {"XYZ", LampOp::Unknown, -1},
    };
    for (const Case& c : cases) {
        ParsedCommand p = parse_command(reinterpret_cast<const unsigned char*>(c.text));
        EXPECT_EQ(p.op, c.op) << c.text;
        EXPECT_EQ(p.led, c.led) << c.text;
    }
}

TEST(OpenSerial, SkipsTheFirstCharacterOfSerialNumber) {
    EXPECT_EQ(open_serial("XA1B2C3D4"), "A1B2C3D4");
    EXPECT_EQ(open_serial("AB"), "B");
    EXPECT_EQ(open_serial("A"), "");
    EXPECT_EQ(open_serial(""), "");
}

TEST(ByIdSerial, IsThePartBetweenTheLastUnderscoreAndTheInterfaceSuffix) {
    struct Case {
        const char* name;
        const char* serial;
    };
    const Case cases[] = {
        {"usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0", "A1B2C3D4"},
        {"usb-corvo_KD-5lite_A1B2C3D4-if00-port0", "A1B2C3D4"},
        {"usb-corvo_KD-5lite_A1-B2-if01-port0", "A1-B2"},
        {"usb-x_-if00-port0", ""},
        {"usb-FTDI_FT232R_A1B2C3D4", ""}, // no interface suffix
        {"pci-0000:00:14.0-usb-0:1:1.0-port0", ""},
        {".", ""},
        {"..", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(by_id_serial(c.name), c.serial) << c.name;
    }
}

} // namespace
