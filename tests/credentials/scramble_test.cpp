// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/password_pair.h"

#include "credentials/scramble_text.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

TEST(ScrambleText, ThreeByteExampleStoresEachByteInItsSlot) {
    std::vector<int> p = {2, 0, 1};
    EXPECT_EQ(position_list(p), "020001");
    // 'a' 0x61 goes to slot 2, 'b' 0x62 to slot 0, 'c' 0x63 to slot 1.
    EXPECT_EQ(scramble_text("abc", p), "626361");
    EXPECT_EQ(unscramble_text("626361", "020001"), "abc");
}

TEST(ScrambleText, HighBytesUseTheCharactersUpToQuestionMark) {
    std::string pw = "\x80\xff\xe4\xb8\xad";
    std::vector<int> p = {0, 1, 2, 3, 4};
    std::string s = scramble_text(pw, p);
    EXPECT_EQ(s.substr(0, 4), "80??");
    for (char c : s) {
        EXPECT_TRUE(c >= '0' && c <= '?');
    }
    EXPECT_EQ(unscramble_text(s, position_list(p)), pw);
}

TEST(ScrambleText, HandEditedPairsGiveNothingInsteadOfReadingOutside) {
    struct Case {
        const char* scrambled;
        const char* list;
    } bad[] = {
        {"626361", "02000"},    // odd length
        {"626361", "02x001"},   // not a digit
        {"626361", "020202"},   // a slot used twice
        {"626361", "030001"},   // a slot beyond the entry count
        {"6263", "020001"},     // scrambled form too short for the list
        {"", "00"},             // empty scrambled form
        {"626361", "99"},       // far out of range
    };
    for (const auto& c : bad) {
        EXPECT_EQ(unscramble_text(c.scrambled, c.list), std::nullopt) << c.scrambled << " / " << c.list;
    }
    EXPECT_EQ(unscramble_text("626361", ""), "");
}

TEST(ScramblePassword, RoundTripsEveryLengthUpToTheLimitAndCutsLonger) {
    TempCorvo dir;
    for (std::size_t n = 0; n <= 33; ++n) {
        std::string pw;
        for (std::size_t i = 0; i < n; ++i) {
            pw += static_cast<char>(0x21 + (i * 7) % 0x5E);
        }
        std::strcpy(g_settings.user[0].Scramble, "keep");
        std::strcpy(g_settings.user[0].Password, pw.substr(0, 64).c_str());
        scramble_password(0, g_settings.user[0].Password);
        std::string expect = pw.substr(0, kPasswordMax);
        EXPECT_EQ(std::strlen(g_settings.user[0].Password), 2 * expect.size()) << n;
        if (n == 0) {
            EXPECT_STREQ(g_settings.user[0].Scramble, "keep"); // an empty password keeps the old list
            continue;
        }
        ini_write_keys({Key::Password, Key::Scramble}, 0);
        settings_clear();
        ini_read_password(0);
        EXPECT_EQ(std::string(g_settings.user[0].Password), expect) << n;
    }
}

TEST(ScramblePassword, OneCharacterAlwaysGetsListZeroZero) {
    TempCorvo dir;
    std::strcpy(g_settings.user[2].Password, "k");
    scramble_password(2, g_settings.user[2].Password);
    EXPECT_STREQ(g_settings.user[2].Scramble, "00");
    EXPECT_STREQ(g_settings.user[2].Password, "6;");
}

TEST(UnscramblePassword, BrokenListInTheFileGivesAnEmptyPassword) {
    TempCorvo dir;
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite\\user00]\r\nPassword=6162\r\nScramble=0000\r\n");
    ini_read_password(0);
    EXPECT_STREQ(g_settings.user[0].Password, "");
}

// A reader between the two writes of a save used to pair the old scrambled password with the new list: a garbled
// password at login, and the next pass announcing old mail as new. One process keeps saving the same password with
// a fresh list while another reads the pair 10,000 times; every read must give the password.
TEST(PasswordPair, AReaderNeverSeesOneSaveWithAnothersList) {
    TempCorvo dir;
    const char* password = "correct horse 7";
    std::strcpy(g_settings.user[1].Password, password);
    ASSERT_EQ(ini_write_password(1), 0);
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (;;) {
            std::strcpy(g_settings.user[1].Password, password);
            ini_write_password(1);
        }
    }
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        int torn = 0;
        for (int i = 0; i < 10000; ++i) {
            if (ini_read_password(1) != 0 || std::strcmp(g_settings.user[1].Password, password) != 0) {
                ++torn;
            }
        }
        _exit(torn == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(reader, &status, 0);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(dir.read("corvo_kd5lite.ini").find("Scramble="), std::string::npos);
}

} // namespace
