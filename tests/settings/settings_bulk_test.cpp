// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_bulk.h"

#include "platform/profile.h"
#include "settings/program_dir.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string file_value(const TempCorvo& dir, const char* section, const char* key) {
    char buf[256];
    profile_get_string(section, key, "<missing>", buf, sizeof buf, dir.settings_path().c_str());
    return buf;
}

TEST(SettingsBulk, FreshDirectoryEndsWithEveryKeyAndItsDefault) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 7);
    ini_read_all();
    ini_check_all();
    ini_write_all();

    char program_dir[256];
    get_program_dir(program_dir, sizeof program_dir);
    struct Want {
        const char* section;
        const char* key;
        std::string value;
    } wants[] = {
        {"corvo", "Company", "KESTREL CO.,LTD."},    {"corvo", "Brand", "corvo"},
        {"corvo", "Product", "KD-5"},                {"corvo", "Type", "lite2"},
        {"corvo\\KD-5lite", "SerialNumber", ""},     {"corvo\\KD-5lite", "CurrentPath", program_dir},
        {"corvo\\KD-5lite", "Language", "Japanese"}, {"corvo\\KD-5lite", "Version", "Ver 2.20.2"},
        {"corvo\\KD-5lite", "EntryCount", "0"},      {"corvo\\KD-5lite", "IntervalTimer", "10"},
        {"corvo\\KD-5lite", "BeepTime", "1"},        {"corvo\\KD-5lite", "StateLog", "007"},
        {"corvo\\KD-5lite", "ErrorLog", "007"},      {"corvo\\KD-5lite", "Request", "0"},
        {"corvo\\KD-5lite", "State", "0"},           {"corvo\\KD-5lite", "Answer", "0"},
        {"corvo\\KD-5lite", "Error", "0"},           {"corvo\\KD-5lite", "Job", "0"},
    };
    for (const auto& w : wants) {
        EXPECT_EQ(file_value(dir, w.section, w.key), w.value) << w.key;
    }
    EXPECT_EQ(std::string(program_dir).back(), '/');
    for (const char* section : {"corvo\\KD-5lite\\user00", "corvo\\KD-5lite\\user01", "corvo\\KD-5lite\\user02"}) {
        EXPECT_EQ(file_value(dir, section, "Switch"), "0");
        for (const char* key : {"ServerName", "ID", "Password", "Scramble", "SoundFile", "SpecialAddress1",
                                "SpecialAddress2", "SpecialAddress3", "SpecialSearch1", "SpecialSearch2",
                                "SpecialSearch3"}) {
            EXPECT_EQ(file_value(dir, section, key), "") << section << " " << key;
        }
    }
}

TEST(SettingsBulk, FixedValuesReplaceHandEditsAndToolKeysSurvive) {
    TempCorvo dir;
    dir.write("corvo_kd5lite.ini", "[corvo]\r\nCompany=ACME\r\nType=lite9\r\n"
                                   "[corvo\\KD-5lite]\r\nVersion=Ver 0\r\nIntervalTimer=3\r\nSerialNumber=XA1B2\r\n"
                                   "[corvo\\KD-5lite\\user02]\r\nSoundFile=/tmp/ding.wav\r\nSpecialSearch2=2\r\n");
    ini_read_all();
    ini_check_all();
    ini_write_all();
    EXPECT_EQ(file_value(dir, "corvo", "Company"), "KESTREL CO.,LTD.");
    EXPECT_EQ(file_value(dir, "corvo", "Type"), "lite2");
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite", "Version"), "Ver 2.20.2");
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite", "IntervalTimer"), "3");
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite", "SerialNumber"), "XA1B2");
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user02", "SoundFile"), "/tmp/ding.wav");
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user02", "SpecialSearch2"), "2");
}

TEST(SettingsBulk, PasswordsAreStoredScrambledAndComeBackPlainOnLoad) {
    TempCorvo dir;
    ini_read_all();
    ini_check_all();
    std::strcpy(g_settings.user[1].Password, "s3cret!");
    ini_write_all();

    std::string stored = file_value(dir, "corvo\\KD-5lite\\user01", "Password");
    EXPECT_EQ(stored.size(), 14u);
    EXPECT_EQ(stored, g_settings.user[1].Password); // the record holds the scrambled form after a save
    EXPECT_EQ(dir.read("corvo_kd5lite.ini").find("s3cret!"), std::string::npos);
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user01", "Scramble").size(), 14u);

    settings_clear();
    ini_read_all();
    EXPECT_STREQ(g_settings.user[1].Password, "s3cret!");
    EXPECT_STREQ(g_settings.user[0].Password, "");
}

// Accounts 1 and 3 as files of older versions hold them, account 2 with the connection security keys: catches
// the new keys reported missing for an account that is on, saved anywhere but after the keys older versions
// know, or a fingerprint of full width cut.
TEST(SettingsBulk, SecurityKeysComeLastInEachAccountAndKeepTheirFullWidth) {
    TempCorvo dir;
    const std::string fingerprint = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:"
                                    "01:23:45:67:89";
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite\\user01]\r\nSwitch=1\r\nServerName=pop.example.org\r\n"
                                   "ID=someone\r\nSecurity=2\r\nTlsFingerprint=" +
                                       fingerprint + "9\r\n");
    ini_read_all();
    EXPECT_STREQ(g_settings.user[1].Security, "2");
    EXPECT_EQ(std::string(g_settings.user[1].TlsFingerprint), fingerprint); // 95 characters, the 96th cut
    for (int i = 0; i < kAccountCount; ++i) {
        std::strcpy(g_settings.user[i].Switch, "1");
        EXPECT_EQ(ini_check_key(Key::Security, i), 0) << i;
        EXPECT_EQ(ini_check_key(Key::TlsFingerprint, i), 0) << i;
    }
    EXPECT_STREQ(g_settings.user[0].Security, ""); // empty stays empty: plain POP3, nothing filled in
    ini_write_all();

    EXPECT_NE(dir.read("corvo_kd5lite.ini")
                  .find("[corvo\\KD-5lite\\user00]\r\nSwitch=1\r\nServerName=\r\nID=\r\nPassword=\r\nScramble=\r\n"
                        "SoundFile=\r\nSpecialAddress1=\r\nSpecialAddress2=\r\nSpecialAddress3=\r\nSpecialSearch1=\r\n"
                        "SpecialSearch2=\r\nSpecialSearch3=\r\nSecurity=\r\nTlsFingerprint=\r\n"),
              std::string::npos);
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user01", "Security"), "2");
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user01", "TlsFingerprint"), fingerprint);
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user02", "Security"), "");
}

// Protocol and Folder follow the security keys; an IMAP account of account 3 with a folder name outside ASCII:
// catches the keys reported missing, saved before keys older versions know, or a UTF-8 name cut or mangled.
TEST(SettingsBulk, ProtocolAndFolderComeAfterTheSecurityKeys) {
    TempCorvo dir;
    const std::string folder = "Posteingang/Entw\xc3\xbcrfe \xe6\x97\xa5\xe6\x9c\xac";
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite\\user02]\r\nSwitch=1\r\nProtocol=1\r\nFolder=" + folder + "\r\n");
    ini_read_all();
    EXPECT_STREQ(g_settings.user[2].Protocol, "1");
    EXPECT_EQ(std::string(g_settings.user[2].Folder), folder);
    for (int i = 0; i < kAccountCount; ++i) {
        std::strcpy(g_settings.user[i].Switch, "1");
        EXPECT_EQ(ini_check_key(Key::Protocol, i), 0) << i;
        EXPECT_EQ(ini_check_key(Key::Folder, i), 0) << i;
    }
    EXPECT_STREQ(g_settings.user[0].Protocol, ""); // empty: POP3, nothing filled in
    EXPECT_STREQ(g_settings.user[0].Folder, "");   // empty: INBOX
    ini_write_all();
    EXPECT_NE(dir.read("corvo_kd5lite.ini").find("Security=\r\nTlsFingerprint=\r\nProtocol=\r\nFolder=\r\n"),
              std::string::npos);
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user02", "Protocol"), "1");
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user02", "Folder"), folder);
}

} // namespace

// The sign-in keys follow Folder; an OAuth2 account has no password, and none is reported missing. Catches keys
// saved before older ones, a long URL or command cut short of its field, or an OAuth2 account taken as incomplete.
TEST(SettingsBulk, SignInKeysComeLastAndAnOAuthAccountNeedsNoPassword) {
    TempCorvo dir;
    const std::string command = "/usr/bin/oauth2-helper --account alice@example.com --scope " + std::string(180, 's');
    dir.write("corvo_kd5lite.ini", "[corvo\\KD-5lite\\user01]\r\nSwitch=1\r\nServerName=imap.example.org\r\n"
                                   "ID=alice\r\nProtocol=1\r\nAuth=1\r\nOAuthSource=3\r\nOAuthProvider=custom\r\n"
                                   "TokenUrl=https://id.example.org/token\r\nTokenCommand=" +
                                       command + "\r\n");
    ini_read_all();
    EXPECT_EQ(std::string(g_settings.user[1].TokenCommand), command);
    EXPECT_EQ(ini_check_key(Key::Password, 1), 0); // OAuth2: the password is not missing
    std::strcpy(g_settings.user[2].Switch, "1");
    EXPECT_EQ(ini_check_key(Key::Password, 2), -1); // a password account still needs one
    for (Key k : {Key::Auth, Key::OAuthSource, Key::OAuthProvider, Key::AuthUrl, Key::TokenUrl, Key::Scope,
                  Key::ClientId, Key::OnlineAccount, Key::TokenCommand}) {
        EXPECT_EQ(ini_check_key(k, 2), 0) << key_name(k);
        EXPECT_STREQ(key_field(k, 2).data, "") << key_name(k); // nothing filled in
    }
    ini_write_all();
    EXPECT_NE(dir.read("corvo_kd5lite.ini")
                  .find("Protocol=\r\nFolder=\r\nSecretStore=\r\nAuth=\r\nOAuthSource=\r\nOAuthProvider=\r\nAuthUrl=\r\nTokenUrl=\r\n"
                        "Scope=\r\nClientId=\r\nOnlineAccount=\r\nTokenCommand=\r\n"),
              std::string::npos);
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user01", "TokenCommand"), command);
    EXPECT_EQ(file_value(dir, "corvo\\KD-5lite\\user01", "TokenUrl"), "https://id.example.org/token");
}
