// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/announcements.h"
#include "notifier/folder_text.h"

#include <gtest/gtest.h>

namespace {

Announcement with(int fresh, int count, std::vector<NewMessage> newest) {
    Announcement a;
    a.label = "taro@example.org";
    a.fresh = fresh;
    a.count = count;
    a.newest = std::move(newest);
    return a;
}

// Catches a summary that counts what waits rather than what is new, markup passed on from a subject or escaped
// for a server that shows it as it is, a row per message beyond three, and "……" that never shows.
TEST(NotificationText, SummaryCountsTheNewAndTheBodyListsAtMostThree) {
    const std::vector<NewMessage> four = {{"A", "one"}, {"B", "<b>two</b>"}, {"R&D Team", "Q&A"}, {"E", "four"}};
    const struct {
        const char* what;
        Announcement a;
        bool markup;
        const char* summary;
        const char* body;
    } rows[] = {
        {"one new, nothing else waits", with(1, 1, {{"A", "one"}}), true, "taro@example.org：1 封新邮件", "A：one"},
        {"one new of three", with(1, 3, {{"A", "one"}}), true, "taro@example.org：1 封新邮件（共 3 封）", "A：one"},
        {"no headers", with(5, 5, {}), true, "taro@example.org：5 封新邮件", ""},
        {"markup", with(3, 3, {four[1], four[2]}), true, "taro@example.org：3 封新邮件",
         "B：&lt;b&gt;two&lt;/b&gt;\nR&amp;D Team：Q&amp;A\n……"},
        {"plain text", with(2, 2, {four[1], four[2]}), false, "taro@example.org：2 封新邮件",
         "B：<b>two</b>\nR&D Team：Q&A"},
        {"more than three", with(7, 9, four), false, "taro@example.org：7 封新邮件（共 9 封）",
         "A：one\nB：<b>two</b>\nR&D Team：Q&A\n……"},
        {"exactly three", with(3, 3, {four[0], four[1], four[3]}), false, "taro@example.org：3 封新邮件",
         "A：one\nB：<b>two</b>\nE：four"},
    };
    for (const auto& r : rows) {
        NotificationText t = notification_text(r.a, r.markup);
        EXPECT_EQ(t.summary, r.summary) << r.what;
        EXPECT_EQ(t.body, r.body) << r.what;
    }
}

// An account of several folders names each message's folder before it, cleaned, and escaped where markup is read.
TEST(NotificationText, RowsOfSeveralFoldersBeginWithTheirFolder) {
    const Announcement a = with(2, 2, {{"Taro", "Report", "Work"}, {"Hana", "Hi", "<Lists>"}});
    EXPECT_EQ(notification_text(a, true).body, "Work · Taro：Report\n&lt;Lists&gt; · Hana：Hi");
    EXPECT_EQ(notification_text(a, false).body, "Work · Taro：Report\n<Lists> · Hana：Hi");
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
    take_announcements();
    for (int i = 0; i < 100; ++i) {
        announce(with(1, i, {}));
    }
    EXPECT_EQ(take_announcements().size(), 30u);
    EXPECT_TRUE(take_announcements().empty());
}

} // namespace
