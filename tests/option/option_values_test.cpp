// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/option_values.h"

#include <gtest/gtest.h>
#include <string>

// The first SpecialSearch key picks the list entry. Catches an off-by-one at either end of the list, a text
// compare ("02" is 2), and a number beyond the list selecting an item it does not name.
TEST(OptionValues, ConditionEntryOfAStoredValue) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},   {"0", 0},  {"abc", 0}, {"1", 1},   {"2", 2},   {"02", 2},
        {"2x", 2}, {"3", -1}, {"5", -1},  {"-1", -1}, {"99", -1},
    };
    for (const auto& [value, entry] : cases) {
        EXPECT_EQ(condition_entry(value), entry) << "SpecialSearch1 \"" << value << "\"";
    }
}

// The room is counted in the bytes the settings file stores: catches counting characters, which would let a path
// of Chinese folder names through and cut it on storing.
TEST(OptionValues, SoundPathFitsTheFieldInBytes) {
    ASSERT_EQ(sound_path_room(), 128);
    EXPECT_TRUE(sound_path_fits(""));
    EXPECT_TRUE(sound_path_fits(std::string(128, 'a')));
    EXPECT_FALSE(sound_path_fits(std::string(129, 'a')));

    std::string chinese;
    for (int i = 0; i < 42; ++i) {
        chinese += "声"; // three bytes each
    }
    EXPECT_TRUE(sound_path_fits(chinese + "/a"));   // 128 bytes, 44 characters
    EXPECT_FALSE(sound_path_fits(chinese + "/ab")); // 129 bytes, 45 characters
}
