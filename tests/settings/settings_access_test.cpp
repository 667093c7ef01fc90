// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_access.h"

#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

namespace {

TEST(SettingsAccess, ReadsEachKeyFromItsSectionAndWritesItBack) {
    TempCorvo dir;
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite]\nIntervalTimer = 5a\n"
                                   "[corvo\\KD-5lite\\user01]\nServerName=pop.example.org\n");
    ini_read_key(Key::IntervalTimer);
    ini_read_key(Key::ServerName, 1);
    ini_read_key(Key::ServerName, 0);
    EXPECT_STREQ(g_settings.IntervalTimer, "5a");
    EXPECT_EQ(settings_number(Key::IntervalTimer), 5);
    EXPECT_STREQ(g_settings.user[1].ServerName, "pop.example.org");
    EXPECT_STREQ(g_settings.user[0].ServerName, "");

    std::strcpy(g_settings.user[2].ID, "someone");
    ini_write_key(Key::ID, 2);
    EXPECT_NE(dir.read("corvo_kd5lite.ini").find("[corvo\\KD-5lite\\user02]\r\nID=someone\r\n"), std::string::npos);
}

TEST(SettingsAccess, FixedIdentityValuesAreWrittenWhateverTheRecordHolds) {
    TempCorvo dir;
    std::strcpy(g_settings.Company, "Other");
    std::strcpy(g_settings.Type, "x");
    ini_write_key(Key::Company);
    ini_write_key(Key::Type);
    EXPECT_EQ(dir.read("corvo_kd5lite.ini"), "[corvo]\r\nCompany=KESTREL CO.,LTD.\r\nType=lite2\r\n");
}

TEST(SettingsAccess, OverlongValuesAreCutToTheirFieldAndNeverOverrun) {
    TempCorvo dir;
    std::string path = "/" + std::string(200, 'p');
    std::string han;
    for (int i = 0; i < 30; ++i) {
        han += "\xE4\xB8\xAD"; // 90 bytes of three-byte characters
    }
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite]\r\nBeepTime=123456\r\n[corvo\\KD-5lite\\user00]\r\nSoundFile=" +
                                       path + "\r\nServerName=" + han + "\r\n");
    ini_read_key(Key::BeepTime);
    ini_read_key(Key::SoundFile, 0);
    ini_read_key(Key::ServerName, 0);
    EXPECT_STREQ(g_settings.BeepTime, "1234");
    EXPECT_EQ(std::string(g_settings.user[0].SoundFile), path.substr(0, 128));
    EXPECT_EQ(std::string(g_settings.user[0].ServerName), han.substr(0, 63)); // 21 whole characters
}

TEST(SettingsAccess, FullTypedLimitsSurviveTheRoundTrip) {
    TempCorvo dir;
    std::string serial(16, 'S');
    std::string sound = "/" + std::string(127, 's');
    settings_put(Key::SerialNumber, serial.c_str());
    settings_put(Key::SoundFile, sound.c_str(), 2);
    settings_clear();
    ini_read_key(Key::SerialNumber);
    ini_read_key(Key::SoundFile, 2);
    EXPECT_EQ(std::string(g_settings.SerialNumber), serial);
    EXPECT_EQ(std::string(g_settings.user[2].SoundFile), sound);
}

TEST(SettingsAccess, WriteCreatesAMissingDirectoryPrivately) {
    TempCorvo dir;
    std::string nested = dir.path("a/corvo");
    setenv("CORVO_HOME", nested.c_str(), 1);
    settings_put(Key::Request, "1");
    struct stat st {};
    ASSERT_EQ(stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((nested + "/corvo_kd5lite.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsCheck, FillsDefaultsOnlyWhereEmptyAndReportsMissingAccountKeysOnlyWhenOn) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 7);
    EXPECT_EQ(ini_check_key(Key::IntervalTimer), -1);
    EXPECT_STREQ(g_settings.IntervalTimer, "10");
    EXPECT_EQ(ini_check_key(Key::IntervalTimer), 0);
    EXPECT_EQ(ini_check_key(Key::StateLog), -1);
    EXPECT_STREQ(g_settings.StateLog, "007");
    EXPECT_EQ(ini_check_key(Key::SerialNumber), -1);
    EXPECT_STREQ(g_settings.SerialNumber, "");

    std::strcpy(g_settings.Version, "Ver 9");
    std::strcpy(g_settings.Type, "other");
    EXPECT_EQ(ini_check_key(Key::Version), 0);
    EXPECT_EQ(ini_check_key(Key::Type), 0);
    EXPECT_STREQ(g_settings.Version, "Ver 2.20.2");
    EXPECT_STREQ(g_settings.Type, "lite2");

    // Switch "0": off, so an empty server name is no fault; "1" and "2" both count as on here.
    EXPECT_EQ(ini_check_key(Key::Switch, 1), -1);
    EXPECT_STREQ(g_settings.user[1].Switch, "0");
    EXPECT_EQ(ini_check_key(Key::ServerName, 1), 0);
    for (const char* on : {"1", "2"}) {
        std::strcpy(g_settings.user[1].Switch, on);
        EXPECT_EQ(ini_check_key(Key::ServerName, 1), -1) << on;
        EXPECT_EQ(ini_check_key(Key::SoundFile, 1), -1) << on;
        EXPECT_EQ(ini_check_key(Key::Scramble, 1), 0) << on;
    }
    EXPECT_EQ(dir.exists("corvo_kd5lite.ini"), false); // a check never touches the file
}

} // namespace

// A refresh token of any length goes to the settings file scrambled and comes back whole; the file never holds it
// in the clear. Catches a token cut at a field's width or at a piece, a plain copy in the file, and a pair from two
// saves read as one.
TEST(RefreshTokenStore, KeepsLongTokensScrambledAndWhole) {
    TempCorvo dir;
    const std::string tokens[] = {"1//0gAbCdEf-ghijklmnopqrstuvwxyz", std::string(1500, 'M') + "AwEAb.c_d", "short"};
    for (const std::string& token : tokens) {
        ASSERT_EQ(refresh_token_file_save(1, token), 0);
        std::string back;
        ASSERT_EQ(refresh_token_file_load(1, back), 0);
        EXPECT_EQ(back, token);
        EXPECT_EQ(dir.read("corvo_kd5lite.ini").find(token), std::string::npos);
    }
    std::string back = "stale";
    ASSERT_EQ(refresh_token_file_load(0, back), 0);
    EXPECT_EQ(back, ""); // none kept for this account
    ASSERT_EQ(refresh_token_file_save(1, ""), 0);
    ASSERT_EQ(refresh_token_file_load(1, back), 0);
    EXPECT_EQ(back, "");
    // A hand-edited list that does not fit its scrambled form gives no token rather than a garbled one.
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite\\user02]\r\nRefreshToken=3132\r\nRefreshScramble=05\r\n");
    ASSERT_EQ(refresh_token_file_load(2, back), 0);
    EXPECT_EQ(back, "");
}
