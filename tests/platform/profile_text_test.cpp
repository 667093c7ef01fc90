// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile_text.h"

#include <gtest/gtest.h>

namespace {

const char* const kFile = "; written by hand\r\n"
                          "[corvo]\r\n"
                          "Company=KESTREL CO.,LTD.\r\n"
                          "\r\n"
                          "[Corvo\\KD-5lite]\n"
                          "  serialnumber  =   A1B2C3D4   \n"
                          "Quoted=\"  spaced  \"\n"
                          "Single='x'\n"
                          "Mismatched=\"x'\n"
                          "NoEquals\n"
                          "Empty=\n"
                          "[corvo\\KD-5lite\\user00]\r\n"
                          "Switch=1\r\n";

TEST(ProfileFind, MatchesNamesWithoutCaseAndTrimsBlanksAndQuotes) {
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> want;
    } cases[] = {
        {"corvo", "Company", "KESTREL CO.,LTD."},
        {"CORVO", "company", "KESTREL CO.,LTD."},
        {"corvo\\KD-5lite", "SerialNumber", "A1B2C3D4"},
        {"corvo\\KD-5lite", "Quoted", "  spaced  "},
        {"corvo\\KD-5lite", "Single", "x"},
        {"corvo\\KD-5lite", "Mismatched", "\"x'"},
        {"corvo\\KD-5lite", "Empty", ""},
        {"corvo\\KD-5lite", "NoEquals", std::nullopt},
        {"corvo\\KD-5lite", "Switch", std::nullopt}, // belongs to the next section
        {"corvo\\KD-5lite\\user00", "Switch", "1"},
        {"corvo\\KD-5lite\\user01", "Switch", std::nullopt},
        {"; written by hand", "x", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(profile_find(kFile, c.section, c.key), c.want) << c.section << " / " << c.key;
    }
}

TEST(ProfileFind, FirstSectionAndFirstKeyWin) {
    const char* text = "[a]\nk=1\nk=2\n[a]\nk=3\nj=4\n";
    EXPECT_EQ(profile_find(text, "a", "k"), "1");
    EXPECT_EQ(profile_find(text, "a", "j"), std::nullopt);
}

TEST(ProfileUpdate, ReplacesOnlyTheKeyLineAndKeepsEveryOtherByte) {
    std::string out = profile_update(kFile, "corvo\\kd-5lite", "SERIALNUMBER", "Z9");
    std::string want = kFile;
    const std::string old_line = "  serialnumber  =   A1B2C3D4   \n";
    want.replace(want.find(old_line), old_line.size(), "SERIALNUMBER=Z9\r\n");
    EXPECT_EQ(out, want);
}

TEST(ProfileUpdate, AddsKeyAfterTheLastEntryOfItsSection) {
    std::string text = "[a]\r\nk=1\r\n\r\n; about b\r\n[b]\r\nx=1\r\n";
    EXPECT_EQ(profile_update(text, "a", "n", "2"), "[a]\r\nk=1\r\nn=2\r\n\r\n; about b\r\n[b]\r\nx=1\r\n");
    EXPECT_EQ(profile_update("[a]", "a", "n", "2"), "[a]\r\nn=2\r\n");
}

TEST(ProfileUpdate, AddsSectionAtTheEndAndCreatesFromNothing) {
    EXPECT_EQ(profile_update("", "corvo\\KD-5lite\\user02", "ID", "me"), "[corvo\\KD-5lite\\user02]\r\nID=me\r\n");
    EXPECT_EQ(profile_update("[a]\nk=1", "b", "x", ""), "[a]\nk=1\r\n[b]\r\nx=\r\n");
}

// Whatever a value holds, it reads back as it was written: the reading takes off the blanks at its ends and a
// pair of quotes around it, so such a value goes into quotes of its own. Catches a list of quoted IMAP folders
// ("INBOX" "Work") read back as INBOX" "Work, and a password losing its last blank.
TEST(ProfileUpdate, EveryValueReadsBackAsWritten) {
    for (const std::string value : {"\"INBOX\" \"Work\" \"Lists/Rust\"", "'x'", "\"\"", "\"", " pw ", "\tx", "\"a\" ",
                                    "'a\"", "plain", "", "=\"=\""}) {
        const std::string text = profile_update("[a]\r\nk=1\r\n", "a", "v", value);
        EXPECT_EQ(profile_find(text, "a", "v"), value) << text;
        EXPECT_EQ(profile_find(text, "a", "k"), "1");
    }
    EXPECT_EQ(profile_update("", "a", "v", "plain"), "[a]\r\nv=plain\r\n"); // the rest is written as it is
    EXPECT_EQ(profile_update("", "a", "v", "\"x\" \"y\""), "[a]\r\nv=\"\"x\" \"y\"\"\r\n");
}

// An update must not change what the other lines of a file say, however the file ends or whatever it holds.
TEST(ProfileUpdate, LeavesTheOtherKeysAsTheyWereWhateverTheFileHolds) {
    struct Case {
        std::string text;
        const char* section; // where the update writes n=2
        std::string want;
    } cases[] = {
        // A file that stops after a CR: appending CR LF would have turned k's value into "1\r".
        {"[a]\r\nk=1\r", "a", "[a]\r\nk=1\r\nn=2\r\n"},
        {"[a]\r\nk=1\r", "b", "[a]\r\nk=1\r\n[b]\r\nn=2\r\n"},
        {"[a]\r", "a", "[a]\r\nn=2\r\n"},
        {std::string("[a]\r\nk=\0\xff\r\n", 11), "a", std::string("[a]\r\nk=\0\xff\r\nn=2\r\n", 16)},
    };
    for (const auto& c : cases) {
        std::string out = profile_update(c.text, c.section, "n", "2");
        EXPECT_EQ(out, c.want) << c.text;
        EXPECT_EQ(profile_find(out, "a", "k"), profile_find(c.text, "a", "k")) << c.text;
    }
}

} // namespace
