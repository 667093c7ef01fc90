// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/key_values.h"

#include "settings/settings.h"
#include "settings/settings_access.h"

#include <gtest/gtest.h>

namespace {

// One value as each coded key reads it. Catches a text compare ("01" and "1x" are 1), a blank or sign taken for a
// digit where a connection mode is read (" 1" must not be STLS), 0 or an unknown code read as a mode, and the
// readers drifting apart where the mail check and the tools must agree (the setup program's box alone looks at the
// first character).
TEST(KeyValues, EachCodedKeyReadsAValueAsTheMailCheckDoes) {
    using S = MailSecurity;
    using P = MailProtocol;
    using O = OAuthSource;
    constexpr CredentialKind pw = CredentialKind::password, oauth = CredentialKind::oauth2;
    struct Case {
        const char* text;
        S security;
        P protocol;
        CredentialKind auth;
        O source;
        bool watched, on, ticked, notify;
    } cases[] = {
        {"", S::plain, P::pop3, pw, O::unknown, false, false, false, true},
        {"0", S::plain, P::pop3, pw, O::unknown, false, false, false, false},
        {"00", S::plain, P::pop3, pw, O::unknown, false, false, false, true},
        {"1", S::stls, P::imap, oauth, O::browser, true, true, true, true},
        {"01", S::stls, P::imap, oauth, O::browser, true, true, false, true},
        {"1x", S::stls, P::imap, oauth, O::browser, true, true, true, true},
        {"10", S::unknown, P::unknown, pw, O::unknown, false, true, true, true},
        {" 1", S::unknown, P::unknown, oauth, O::browser, true, true, false, true},
        {"2", S::tls, P::unknown, pw, O::online_account, false, true, false, true},
        {"3", S::unknown, P::unknown, pw, O::token_command, false, true, false, true},
        {"9", S::unknown, P::unknown, pw, O::unknown, false, true, false, true},
        {"-1", S::unknown, P::unknown, pw, O::unknown, false, true, false, true},
        {"x", S::unknown, P::unknown, pw, O::unknown, false, false, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mail_security(c.text), c.security) << '"' << c.text << '"';
        EXPECT_EQ(mail_protocol(c.text), c.protocol) << '"' << c.text << '"';
        EXPECT_EQ(credential_kind(c.text), c.auth) << '"' << c.text << '"';
        EXPECT_EQ(oauth_source(c.text), c.source) << '"' << c.text << '"';
        EXPECT_EQ(switch_watched(c.text), c.watched) << '"' << c.text << '"';
        EXPECT_EQ(switch_on(c.text), c.on) << '"' << c.text << '"';
        EXPECT_EQ(switch_ticked(c.text), c.ticked) << '"' << c.text << '"';
        EXPECT_EQ(notify_on(c.text), c.notify) << '"' << c.text << '"';
    }
}

// The switch is the first character alone; the day marker the number after it.
TEST(KeyValues, LogSwitchAndDayMarker) {
    struct Case {
        const char* text;
        bool on;
        int day;
    } cases[] = {{"", false, 0}, {"107", true, 7}, {"007", false, 7},    {"131", true, 31},
                 {"1", true, 0}, {"1x", true, 0},  {" 107", false, 107}, {"x07", false, 7}};
    for (const Case& c : cases) {
        EXPECT_EQ(log_switch(c.text), c.on) << '"' << c.text << '"';
        EXPECT_EQ(log_day(c.text), c.day) << '"' << c.text << '"';
    }
}

// The readers take the key of the account asked for, from the record as it is now.
TEST(KeyValues, AccountReadersTakeTheirOwnAccountsKeys) {
    settings_clear();
    settings_set(Key::Protocol, "1", 2);
    settings_set(Key::Security, "2", 2);
    settings_set(Key::Auth, "1", 2);
    settings_set(Key::OAuthSource, "3", 2);
    settings_set(Key::Switch, "1", 2);
    settings_set(Key::Notify, "0", 2);
    settings_set(Key::HealthBlink, "0", 2);
    settings_set(Key::SpecialSearch2, "2", 2);
    settings_set(Key::SpecialSearch3, "1", 2);
    settings_set(Key::ErrorLog, "107");
    EXPECT_EQ(account_protocol(2), MailProtocol::imap);
    EXPECT_EQ(account_security(2), MailSecurity::tls);
    EXPECT_EQ(account_auth(2), CredentialKind::oauth2);
    EXPECT_EQ(account_oauth_source(2), OAuthSource::token_command);
    EXPECT_TRUE(account_watched(2));
    EXPECT_FALSE(account_notifies(2));
    EXPECT_FALSE(account_health_blinks(2));
    EXPECT_EQ(account_sender_condition(2, 0), 0);
    EXPECT_EQ(account_sender_condition(2, 1), 2);
    EXPECT_EQ(account_sender_condition(2, 2), 1);
    EXPECT_TRUE(log_switched_on(Key::ErrorLog));
    EXPECT_FALSE(log_switched_on(Key::StateLog));
    EXPECT_EQ(account_protocol(1), MailProtocol::pop3);
    EXPECT_FALSE(account_watched(1));
    EXPECT_TRUE(account_notifies(1));
    EXPECT_TRUE(account_health_blinks(1)); // empty, as a file from before the key: the blink is on

    // A negative or empty buzzer time means the wave files, as 0 does.
    for (const auto& [text, beeps] : {std::pair{"", 0}, {"3", 3}, {"2x", 2}, {"-2", 0}}) {
        settings_set(Key::BeepTime, text);
        EXPECT_EQ(beep_count(), beeps) << '"' << text << '"';
    }
    settings_clear();
}

} // namespace
