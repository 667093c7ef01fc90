// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/keys.h"

#include "settings/program_dir.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every key as the file layout has it: name, section, width, and what the notifier's check makes of it when it is
// empty (on an account that is off). Catches a row in the wrong section, a field narrower or wider than the tools'
// typed limit, and a default, a fixed value or a report lost or added.
TEST(KeyTable, EveryKeyHasItsSectionWidthAndDefault) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 7);
    char program_dir[256];
    get_program_dir(program_dir, sizeof program_dir);
    const char* kIdentity = "corvo";
    const char* kSystem = "corvo\\KD-5lite";
    const char* kUser = "corvo\\KD-5lite\\user01";
    struct Row {
        Key key;
        const char* name;
        const char* section;
        int width;
        std::string filled; // after the check of an empty record
        int result;
    } rows[] = {
        {Key::Company, "Company", kIdentity, 32, "KESTREL CO.,LTD.", -1},
        {Key::Brand, "Brand", kIdentity, 32, "corvo", -1},
        {Key::Product, "Product", kIdentity, 32, "KD-5", -1},
        {Key::Type, "Type", kIdentity, 32, "lite2", 0},
        {Key::SerialNumber, "SerialNumber", kSystem, 16, "", -1},
        {Key::CurrentPath, "CurrentPath", kSystem, 128, program_dir, -1},
        {Key::Language, "Language", kSystem, 16, "Japanese", -1},
        {Key::Version, "Version", kSystem, 16, "Ver 2.20.2", 0},
        {Key::EntryCount, "EntryCount", kSystem, 4, "0", -1},
        {Key::IntervalTimer, "IntervalTimer", kSystem, 4, "10", -1},
        {Key::BeepTime, "BeepTime", kSystem, 4, "1", -1},
        {Key::Switch, "Switch", kUser, 4, "0", -1},
        {Key::ServerName, "ServerName", kUser, 64, "", 0},
        {Key::ID, "ID", kUser, 32, "", 0},
        {Key::Password, "Password", kUser, 64, "", 0},
        {Key::Scramble, "Scramble", kUser, 65, "", 0},
        {Key::SoundFile, "SoundFile", kUser, 128, "", 0},
        {Key::SpecialAddress1, "SpecialAddress1", kUser, 64, "", 0},
        {Key::SpecialAddress2, "SpecialAddress2", kUser, 64, "", 0},
        {Key::SpecialAddress3, "SpecialAddress3", kUser, 64, "", 0},
        {Key::SpecialSearch1, "SpecialSearch1", kUser, 16, "", 0},
        {Key::SpecialSearch2, "SpecialSearch2", kUser, 16, "", 0},
        {Key::SpecialSearch3, "SpecialSearch3", kUser, 16, "", 0},
        {Key::Security, "Security", kUser, 4, "", 0},
        {Key::TlsFingerprint, "TlsFingerprint", kUser, 95, "", 0},
        {Key::Protocol, "Protocol", kUser, 4, "", 0},
        {Key::Folder, "Folder", kUser, 128, "", 0},
        {Key::SecretStore, "SecretStore", kUser, 4, "", 0},
        {Key::Auth, "Auth", kUser, 4, "", 0},
        {Key::OAuthSource, "OAuthSource", kUser, 4, "", 0},
        {Key::OAuthProvider, "OAuthProvider", kUser, 16, "", 0},
        {Key::AuthUrl, "AuthUrl", kUser, 255, "", 0},
        {Key::TokenUrl, "TokenUrl", kUser, 255, "", 0},
        {Key::Scope, "Scope", kUser, 255, "", 0},
        {Key::ClientId, "ClientId", kUser, 128, "", 0},
        {Key::OnlineAccount, "OnlineAccount", kUser, 64, "", 0},
        {Key::TokenCommand, "TokenCommand", kUser, 255, "", 0},
        {Key::Notify, "Notify", kUser, 4, "1", -1},
        {Key::HealthBlink, "HealthBlink", kUser, 4, "1", -1},
        {Key::Folders, "Folders", kUser, 1000, "", 0},
        {Key::StateLog, "StateLog", kSystem, 4, "007", -1},
        {Key::ErrorLog, "ErrorLog", kSystem, 4, "007", -1},
        {Key::Request, "Request", kSystem, 4, "0", -1},
        {Key::State, "State", kSystem, 4, "0", -1},
        {Key::Answer, "Answer", kSystem, 4, "0", -1},
        {Key::Error, "Error", kSystem, 4, "0", -1},
        {Key::Job, "Job", kSystem, 4, "0", -1},
        {Key::QuietStart, "QuietStart", kSystem, 5, "", 0},
        {Key::QuietEnd, "QuietEnd", kSystem, 5, "", 0},
        {Key::Hook, "Hook", kSystem, 255, "", 0},
    };
    ASSERT_EQ(std::size(rows), static_cast<std::size_t>(kKeyCount));
    std::size_t widest = 0;
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        const Row& r = rows[k];
        EXPECT_EQ(static_cast<std::size_t>(r.key), k) << r.name << ": the table is in file order";
        EXPECT_STREQ(key_name(r.key), r.name);
        char section[64];
        key_section(r.key, 1, section, sizeof section);
        EXPECT_STREQ(section, r.section) << r.name;
        EXPECT_EQ(key_width(r.key), r.width) << r.name;
        EXPECT_EQ(key_field(r.key, 1).size, static_cast<std::size_t>(r.width) + 1) << r.name;
        widest = std::max(widest, key_field(r.key, 1).size);
        EXPECT_EQ(ini_check_key(r.key, 1), r.result) << r.name;
        EXPECT_EQ(settings_get(r.key, 1), r.filled) << r.name;
    }
    EXPECT_EQ(kWidestField, widest);
}

// A value is read whole and cut by its field alone, never by a narrower read buffer first: a character that does
// not fit is dropped whole, even at the widest field.
TEST(KeyTable, LongValuesAreCutOnlyByTheirField) {
    TempCorvo dir;
    const std::string url = "https://" + std::string(245, 'a') + "\xE4\xB8\xAD" + std::string(40, 'b'); // U+4E2D
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite\\user00]\r\nTokenUrl=" + url + "\r\n");
    ASSERT_EQ(ini_read_key(Key::TokenUrl, 0), 0);
    EXPECT_EQ(settings_get(Key::TokenUrl, 0), url.substr(0, 253)); // the three bytes of U+4E2D would end at 256
}

} // namespace
