// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/announcements.h"

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
