// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/folder_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;
using Kind = FolderChoice::Kind;

// The keys as a user, the tab or a hand edit leave them. Catches a name cut at a quote or a space, an unsound
// text taken for a list, and a repeated folder counted twice.
TEST(FolderChoice, ReadsTheKeys) {
    const struct Case {
        std::string folders;
        std::string folder;
        bool ok;
        Kind kind;
        Names names;
    } cases[] = {
        {"", "", true, Kind::one, {"INBOX"}},
        {"", "Work", true, Kind::one, {"Work"}},
        {"*", "Work", true, Kind::every, {}},
        {"\"INBOX\" \"Work\" \"Lists/Rust\"", "", true, Kind::list, {"INBOX", "Work", "Lists/Rust"}},
        {"\"Work\"", "Other", true, Kind::list, {"Work"}},
        {"\"say \\\"hi\\\"\" \"C:\\\\mail\"", "", true, Kind::list, {"say \"hi\"", "C:\\mail"}},
        {"\"\xe5\xb7\xa5\xe4\xbd\x9c\" \"Work\" \"Work\"", "", true, Kind::list, {"\xe5\xb7\xa5\xe4\xbd\x9c", "Work"}},
        {"\"Work\"  \"Lists\"", "", false, Kind::one, {"INBOX"}}, // two spaces
        {"\"Work\" ", "", false, Kind::one, {"INBOX"}},
        {"Work", "Old", false, Kind::one, {"Old"}}, // not quoted: Folder alone
        {"\"Work", "", false, Kind::one, {"INBOX"}},
        {"\"\"", "", false, Kind::one, {"INBOX"}},
        {"\"Work\\\"", "", false, Kind::one, {"INBOX"}}, // the closing quote escaped away
        {"**", "", false, Kind::one, {"INBOX"}},
    };
    for (const auto& c : cases) {
        FolderChoice choice;
        EXPECT_EQ(folder_choice(c.folders, c.folder, choice), c.ok) << c.folders;
        EXPECT_EQ(choice.kind, c.kind) << c.folders;
        EXPECT_EQ(choice.names, c.names) << c.folders;
    }
    // What the tab writes reads back the same, whatever the names hold.
    const Names names = {"INBOX", "a \"b\"", "c\\d", "\xe5\x9e\x83 x"};
    FolderChoice back;
    EXPECT_EQ(folders_text(names), "\"INBOX\" \"a \\\"b\\\"\" \"c\\\\d\" \"\xe5\x9e\x83 x\"");
    ASSERT_TRUE(folder_choice(folders_text(names), "", back));
    EXPECT_EQ(back.names, names);
}

TEST(FolderChoice, InboxComesFirstInAnyCase) {
    EXPECT_EQ(watch_order({"Work", "inbox", "Lists"}), (Names{"inbox", "Work", "Lists"}));
    EXPECT_EQ(watch_order({"Work", "Lists"}), (Names{"Work", "Lists"}));
    EXPECT_TRUE(is_inbox("InBox"));
    EXPECT_FALSE(is_inbox("INBOX/Work"));
}

// "Every folder" over the listings real servers give: Gmail's SPECIAL-USE folders, a Dovecot with the Debian
// defaults, a server that flags nothing (Courier-style names under INBOX.), a Chinese provider. Catches a folder
// that repeats others watched (Gmail's All Mail counts every message twice), Junk or Trash lighting the LED, a
// folder that cannot be opened, and a real folder left out for a name that only looks like one.
TEST(FolderChoice, EveryFolderLeavesOutThoseThatRepeatOrHoldNoNewMail) {
    const struct Case {
        const char* server;
        std::vector<ServerFolder> listing;
        Names watched;
    } cases[] = {
        {"Gmail",
         {{"INBOX", "/", {"\\HasNoChildren"}},
          {"Work", "/", {"\\HasNoChildren"}},
          {"[Gmail]", "/", {"\\HasChildren", "\\Noselect"}},
          {"[Gmail]/All Mail", "/", {"\\All", "\\HasNoChildren"}},
          {"[Gmail]/Drafts", "/", {"\\Drafts", "\\HasNoChildren"}},
          {"[Gmail]/Important", "/", {"\\HasNoChildren", "\\Important"}},
          {"[Gmail]/Sent Mail", "/", {"\\HasNoChildren", "\\Sent"}},
          {"[Gmail]/Spam", "/", {"\\HasNoChildren", "\\Junk"}},
          {"[Gmail]/Starred", "/", {"\\Flagged", "\\HasNoChildren"}},
          {"[Gmail]/Trash", "/", {"\\HasNoChildren", "\\Trash"}}},
         {"INBOX", "Work"}},
        {"Dovecot with special_use set",
         {{"Junk", "/", {"\\Junk"}},
          {"Lists", "/", {"\\NonExistent"}},
          {"Lists/Rust", "/", {}},
          {"Trash", "/", {"\\TRASH"}},
          {"Sent", "/", {"\\Sent"}},
          {"Drafts", "/", {"\\Drafts"}},
          {"INBOX", "/", {}}},
         {"INBOX", "Lists/Rust"}},
        {"flags SPECIAL-USE for some: names count for nothing",
         {{"INBOX", "/", {}}, {"Spam", "/", {}}, {"Trash", "/", {"\\Trash"}}},
         {"INBOX", "Spam"}},
        {"no SPECIAL-USE: the usual names",
         {{"INBOX", ".", {}},
          {"INBOX.Sent Items", ".", {}},
          {"INBOX.Deleted Messages", ".", {}},
          {"INBOX.Junk E-mail", ".", {}},
          {"INBOX.drafts", ".", {}},
          {"INBOX.Sent reports", ".", {}}, // only a name that is the usual one
          {"INBOX.Projects.Trash talk", ".", {}},
          {"Archive", ".", {}}},
         {"INBOX", "INBOX.Sent reports", "INBOX.Projects.Trash talk", "Archive"}},
        {"a Chinese provider without SPECIAL-USE",
         {{"INBOX", "/", {}},
          {"\xe5\x9e\x83\xe5\x9c\xbe\xe9\x82\xae\xe4\xbb\xb6", "/", {}}, // 垃圾邮件
          {"\xe5\xb7\xb2\xe5\x88\xa0\xe9\x99\xa4", "/", {}},             // 已删除
          {"\xe5\xb7\xb2\xe5\x8f\x91\xe9\x80\x81", "/", {}},             // 已发送
          {"\xe8\x8d\x89\xe7\xa8\xbf\xe7\xae\xb1", "/", {}},             // 草稿箱
          {"\xe5\xb7\xa5\xe4\xbd\x9c", "/", {}}},                        // 工作
         {"INBOX", "\xe5\xb7\xa5\xe4\xbd\x9c"}},
        {"INBOX listed twice, in another case, and last",
         {{"Work", "/", {}}, {"inbox", "/", {}}, {"INBOX", "/", {}}},
         {"INBOX", "Work"}},
        {"nothing to open", {{"INBOX", "/", {"\\Noselect"}}}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(every_folder(c.listing), c.watched) << c.server;
    }
}

TEST(FolderChoice, NotifyWatchesAllElseIdleTheFirstThree) {
    using W = FolderWatch;
    const struct Case {
        std::size_t folders;
        bool notify;
        bool idle;
        std::size_t idle_links;
        std::vector<W> watches;
    } cases[] = {
        {5, true, true, 3, {W::notify, W::notify, W::notify, W::notify, W::notify}},
        {5, false, true, 3, {W::idle, W::idle, W::idle, W::interval, W::interval}},
        {5, false, true, 2, {W::idle, W::idle, W::interval, W::interval, W::interval}}, // a connection refused
        {5, false, true, 9, {W::idle, W::idle, W::idle, W::interval, W::interval}},
        {2, false, true, 3, {W::idle, W::idle}},
        {2, false, false, 3, {W::interval, W::interval}},
        {0, true, true, 3, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(folder_watches(c.folders, c.notify, c.idle, c.idle_links), c.watches)
            << c.folders << " " << c.notify << " " << c.idle << " " << c.idle_links;
    }
}

} // namespace
