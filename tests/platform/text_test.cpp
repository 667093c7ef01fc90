// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text.h"

#include <gtest/gtest.h>

TEST(TextToInt, LeadingDigitsCountAndAnythingElseIsZero) {
    struct Case {
        const char* text;
        int want;
    } cases[] = {{"10", 10}, {"5a", 5}, {"abc", 0}, {"", 0}, {nullptr, 0},
                 {" 7", 7},  {"-3", -3}, {"99999999999999", 2147483647}, {"-99999999999999", -2147483647 - 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(text_to_int(c.text), c.want) << (c.text ? c.text : "(null)");
    }
}

TEST(FitText, CutsToTheFieldButNeverInsideAUtf8Character) {
    char field[5];
    EXPECT_EQ(fit_text(field, sizeof field, "abcdefg"), 4u);
    EXPECT_STREQ(field, "abcd");
    // "ab" then U+4E2D (three bytes): the character does not fit whole and is dropped.
    EXPECT_EQ(fit_text(field, sizeof field, "ab\xE4\xB8\xAD"), 2u);
    EXPECT_STREQ(field, "ab");
    EXPECT_EQ(fit_text(field, sizeof field, "a\xE4\xB8\xAD"), 4u);
    EXPECT_STREQ(field, "a\xE4\xB8\xAD");
}
