// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/announcements.h"

#include <gtest/gtest.h>

namespace {

// Catches one line per message beyond three, markup passed on from a subject, and a summary without the count.
TEST(NotificationText, SummaryCountsAndBodyListsAtMostThree) {
    Announcement a{0, "taro@example.org", 5, {}};
    EXPECT_EQ(notification_text(a).summary, "taro@example.org：5 封新邮件");
    EXPECT_EQ(notification_text(a).body, "");
    a.newest = {{"A", "one"}, {"B", "<b>two</b>"}, {"C&D", "three"}, {"E", "four"}};
    EXPECT_EQ(notification_text(a).body, "A：one\nB：&lt;b&gt;two&lt;/b&gt;\nC&amp;D：three\n……");
    a.newest.resize(1);
    EXPECT_EQ(notification_text(a).body, "A：one");
}

// The queue between the job thread and the window thread is bounded.
TEST(NotificationText, WaitingAnnouncementsAreBounded) {
    for (int i = 0; i < 100; ++i) {
        announce(Announcement{0, "x", i, {}});
    }
    EXPECT_EQ(take_announcements().size(), 30u);
    EXPECT_TRUE(take_announcements().empty());
}

} // namespace
