// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/announcements.h"
#include "notifier/folder_text.h"

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

// An account of several folders names each message's folder before it, cleaned and escaped like the rest.
TEST(NotificationText, RowsOfSeveralFoldersBeginWithTheirFolder) {
    Announcement a{0, "taro@example.org", 2, {{"Taro", "Report", "Work"}, {"Hana", "Hi", "<Lists>"}}};
    EXPECT_EQ(notification_text(a).body, "Work · Taro：Report\n&lt;Lists&gt; · Hana：Hi");
    EXPECT_EQ(folder_label("Li\x01sts/\xe5\xb7\xa5\xe4\xbd\x9c"), "Li sts/\xe5\xb7\xa5\xe4\xbd\x9c");
    EXPECT_EQ(folder_label(std::string(40, 'x')), std::string(30, 'x') + "\xe2\x80\xa6");
}

// The tray's line of folders: each with its count, the long ones cut, at most kTipFolders.
TEST(NotificationText, TheTipsFolderLineCountsEachFolder) {
    EXPECT_EQ(folder_counts_text({}), "");
    EXPECT_EQ(folder_counts_text({{"INBOX", 1, "NOTIFY"}, {"Work", 2, "NOTIFY"}, {"Lists/Rust", 0, ""}}),
              "INBOX 1，Work 2，Lists/Rust 0");
    std::vector<FolderTally> many(kTipFolders + 2, FolderTally{"F", 1, "IDLE"});
    const std::string text = folder_counts_text(many);
    EXPECT_EQ(text.substr(text.size() - std::string("，……").size()), "，……");
    std::size_t shown = 0;
    for (std::size_t at = text.find("F 1"); at != std::string::npos; at = text.find("F 1", at + 1)) {
        ++shown;
    }
    EXPECT_EQ(shown, kTipFolders);
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
