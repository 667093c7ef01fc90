// SPDX-License-Identifier: GPL-3.0-or-later
// What one account's checks in a row make of its notification: when it comes, is replaced, goes; what a restart
// remembers; how it sounds.

#include "notifier/announcements.h"

#include "lamp/quiet.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

namespace {

using Kind = Announcement::Kind;

CheckIds pop3_check(std::vector<std::pair<std::string, std::string>> newest, std::vector<std::string> waiting) {
    CheckIds c;
    c.known = true;
    for (std::string& id : waiting) {
        c.messages.push_back({std::move(id), 1});
    }
    for (auto& [id, subject] : newest) {
        c.newest_headers.push_back("From: Taro <taro@example.org>\r\nSubject: " + subject + "\r\n\r\n");
        c.newest_ids.push_back(id);
    }
    return c;
}

class News : public ::testing::Test {
protected:
    void SetUp() override {
        announcements_reset_for_test();
        account_.index = 1;
        account_.server = "pop.example.org";
        account_.user = "taro";
        settings_put(Key::BeepTime, "2");
    }
    void TearDown() override {
        announcements_reset_for_test();
        set_notification_sounds(false);
    }

    std::vector<Announcement> check(int count, const CheckIds& ids) {
        news_after_check(account_, count, ids);
        return take_announcements();
    }

    TempCorvo dir_;
    Account account_;
};

// Catches a second notification beside the first, a count of what waits instead of what is new, mail told of
// again, and a notification left standing when its mail was read elsewhere or the mailbox emptied.
TEST_F(News, OneNotificationThatIsReplacedAndGoesWithItsMail) {
    ASSERT_EQ(check(1, pop3_check({{"old", "old"}}, {"old"})).size(), 1u);
    forget_standing_notification(1); // the user dismissed it; the mail stays on the server

    auto a = check(3, pop3_check({{"u2", "two"}, {"u1", "one"}}, {"old", "u1", "u2"}));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].kind, Kind::new_mail);
    EXPECT_EQ(a[0].account, 1);
    EXPECT_EQ(a[0].label, "taro@pop.example.org");
    EXPECT_EQ(a[0].fresh, 2);
    EXPECT_EQ(a[0].count, 3);
    ASSERT_EQ(a[0].newest.size(), 2u);
    EXPECT_EQ(a[0].newest[0].subject, "two");

    EXPECT_TRUE(check(3, pop3_check({}, {"old", "u1", "u2"})).empty()); // nothing new: nothing said

    a = check(4, pop3_check({{"u3", "three"}}, {"old", "u1", "u2", "u3"}));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].kind, Kind::new_mail);
    EXPECT_EQ(a[0].fresh, 3) << "the standing notification adds the new one to what it told of";
    ASSERT_EQ(a[0].newest.size(), 3u);
    EXPECT_EQ(a[0].newest[0].subject, "three");
    EXPECT_EQ(a[0].newest[2].subject, "one");

    EXPECT_TRUE(check(2, pop3_check({}, {"old", "u2"})).empty()); // two of them read elsewhere: one is left
    a = check(1, pop3_check({}, {"old"}));                        // ... and that one too
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].kind, Kind::withdrawn);
    EXPECT_EQ(a[0].account, 1);

    a = check(2, pop3_check({{"u10", "ten"}}, {"old", "u10"}));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].fresh, 1);
    a = check(0, pop3_check({}, {}));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].kind, Kind::withdrawn);
}

// A restart (a new process reads the state file) and an outage (checks that fail are not taken in) tell nothing
// twice; a notification the user dismissed is not added to.
TEST_F(News, ARestartAnOutageOrADismissalTellNothingTwice) {
    ASSERT_EQ(check(2, pop3_check({{"u2", "two"}}, {"u1", "u2"})).size(), 1u);
    announcements_reset_for_test(); // what a new process knows: the state file
    EXPECT_TRUE(check(2, pop3_check({}, {"u1", "u2"})).empty());
    EXPECT_TRUE(dir_.read("corvo_kd5lite.announced").find("ids u1 u2") != std::string::npos)
        << dir_.read("corvo_kd5lite.announced");

    forget_standing_notification(1);
    auto a = check(3, pop3_check({{"u3", "three"}}, {"u1", "u2", "u3"}));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].fresh, 1);
    EXPECT_EQ(a[0].count, 3);
}

// The user's "no notification" still remembers, and tells the bus and the hook alone, so switching it on later
// does not bring old mail up.
TEST_F(News, AnAccountWithoutNotificationsRemembersAll) {
    settings_put(Key::Notify, "0", 1);
    const std::vector<Announcement> lamp_only = check(2, pop3_check({{"u2", "two"}}, {"u1", "u2"}));
    ASSERT_EQ(lamp_only.size(), 1u); // for the bus and the hook
    EXPECT_FALSE(lamp_only[0].desktop);
    EXPECT_EQ(lamp_only[0].fresh, 2); // both are new at the first check
    settings_put(Key::Notify, "1", 1);
    EXPECT_TRUE(check(2, pop3_check({}, {"u1", "u2"})).empty());
    const std::vector<Announcement> shown = check(3, pop3_check({{"u3", "x"}}, {"u1", "u2", "u3"}));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].desktop);
    EXPECT_EQ(shown[0].fresh, 1); // the one it did not tell the desktop of is not new now
}

// Who sounds: the buzzer or the wave while they announce, the notification server where it plays sounds, else the
// lamp's own theme sound; nothing while quiet. Catches two sounds for one mail and a silent lamp left silent.
TEST_F(News, TheSoundGoesOneWayOnly) {
    const struct {
        const char* what;
        const char* beep_time;
        const char* wave;
        bool server_sounds;
        bool snoozed;
        bool by_notification;
        bool quiet;
    } rows[] = {
        {"buzzer", "2", "", true, false, false, false},
        {"wave file", "0", "/sounds/green.wav", true, false, false, false},
        {"theme, server plays it", "0", "", true, false, true, false},
        {"theme, server without sound", "0", "", false, false, false, false},
        {"quiet", "0", "", true, true, false, true},
    };
    int n = 0;
    for (const auto& r : rows) {
        settings_put(Key::BeepTime, r.beep_time);
        settings_put(Key::SoundFile, r.wave, 1);
        set_notification_sounds(r.server_sounds);
        quiet_snooze(r.snoozed ? std::time(nullptr) + 3600 : 0);
        ++n;
        std::vector<std::string> waiting;
        for (int k = 0; k < n; ++k) {
            waiting.push_back("m" + std::to_string(k));
        }
        auto a = check(n, pop3_check({{waiting.back(), "x"}}, waiting));
        ASSERT_EQ(a.size(), 1u) << r.what;
        EXPECT_EQ(a[0].sound_by_notification, r.by_notification) << r.what;
        EXPECT_EQ(a[0].quiet, r.quiet) << r.what;
        // The lamp asks once: it plays the theme's sound itself unless the notification carries it.
        EXPECT_EQ(theme_sound_taken(1), r.by_notification) << r.what;
        EXPECT_FALSE(theme_sound_taken(1)) << r.what;
    }
    quiet_snooze(0);
}

} // namespace
