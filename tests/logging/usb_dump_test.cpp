// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log.h"

#include <gtest/gtest.h>

TEST(UsbDump, ShortRowIsPaddedSoTheCharacterColumnLinesUp) {
    const unsigned char beep[] = {'B', 'E', 'P', '\r'};
    EXPECT_EQ(usb_dump("03/07 09:05:01 ", "(S)", beep, 4),
              "03/07 09:05:01 (S) 42 45 50 0d " + std::string(36, ' ') + "BEP.\n");
}

TEST(UsbDump, SeventeenBytesMakeTwoRowsAndOddBytesShowAsDots) {
    unsigned char data[17];
    for (int i = 0; i < 17; ++i) {
        data[i] = static_cast<unsigned char>("Y \x7f\x80\xff!~abcdefghijZ"[i]);
    }
    std::string out = usb_dump("P ", "(R)", data, 17);
    EXPECT_EQ(out, "P (R) 59 20 7f 80 ff 21 7e 61 62 63 64 65 66 67 68 69 Y....!~abcdefghi\n"
                   "P (R) 6a " + std::string(45, ' ') + "j\n");
}
