// SPDX-License-Identifier: GPL-3.0-or-later
// What the monitor has told of already, and its state file.

#include "notifier/announced_memory.h"

#include <gtest/gtest.h>

namespace {

const AccountIdentity kTaro{"pop.example.org", "taro", "0/"};
const AccountIdentity kHana{"pop.example.org", "hana", "0/"};

CheckIds named(std::vector<std::string> ids, std::string validity = "") {
    CheckIds c;
    c.known = true;
    c.validity = std::move(validity);
    for (std::string& id : ids) {
        c.messages.push_back({std::move(id), 1});
    }
    return c;
}

CheckIds counted_only() {
    return CheckIds{};
}

// One account's checks in a row, each with what it must find new. Catches mail announced again at every check,
// mail that left the server still remembered (so that it would never be news again), another mailbox taken for
// the same one, a folder rebuilt (UIDVALIDITY) taken as the same messages, and a count that does not move on.
TEST(AnnouncedMemory, EachCheckTellsWhatIsNew) {
    const struct {
        const char* what;
        AccountIdentity identity;
        CheckIds ids;
        long long count;
        long long fresh;
        std::set<std::string> fresh_ids;
    } steps[] = {
        {"first check: all of it", kTaro, named({"a", "b"}), 2, 2, {"a", "b"}},
        {"the same again: nothing", kTaro, named({"a", "b"}), 2, 0, {}},
        {"one more", kTaro, named({"a", "b", "c"}), 3, 1, {"c"}},
        {"one read elsewhere", kTaro, named({"a", "c"}), 2, 0, {}},
        {"it comes back: news again", kTaro, named({"a", "b", "c"}), 3, 1, {"b"}},
        {"another mailbox", kHana, named({"a", "b", "c"}), 3, 3, {"a", "b", "c"}},
        {"by count now", kHana, counted_only(), 3, 0, {}},
        {"the count rose", kHana, counted_only(), 5, 2, {}},
        {"the count fell", kHana, counted_only(), 1, 0, {}},
        {"and rose from there", kHana, counted_only(), 2, 1, {}},
        {"named again: only the rise, the newest", kHana, named({"p", "q", "r"}), 3, 1, {"r"}},
        {"a folder with a validity", kHana, named({"7", "8"}, "100"), 2, 2, {"7", "8"}},
        {"the folder rebuilt", kHana, named({"7", "8"}, "200"), 2, 2, {"7", "8"}},
        {"emptied", kHana, named({}, "200"), 0, 0, {}},
        {"the same UIDs: news after the empty folder", kHana, named({"7"}, "200"), 1, 1, {"7"}},
    };
    AnnouncedMemory memory;
    for (const auto& s : steps) {
        bool changed = false;
        FreshMail fresh = take_check(memory, s.identity, s.count, s.ids, &changed);
        EXPECT_EQ(fresh.count, s.fresh) << s.what;
        EXPECT_EQ(fresh.ids, s.fresh_ids) << s.what;
        for (const CountedMessage& m : s.ids.messages) {
            EXPECT_TRUE(was_announced(memory, s.identity, s.ids.validity, m.id)) << s.what << " " << m.id;
        }
    }
}

// An id the file cannot hold, or more of them than the bound, go by count: no id is ever half remembered.
TEST(AnnouncedMemory, IdsBeyondItsBoundsGoByCount) {
    for (const CheckIds& ids : {named({"ok", "with space"}), named({std::string(kAckIdMax + 1, 'x')})}) {
        AnnouncedMemory memory;
        FreshMail fresh = take_check(memory, kTaro, 2, ids, nullptr);
        EXPECT_FALSE(memory.by_id);
        EXPECT_EQ(fresh.count, 2);
    }
    std::vector<std::string> many;
    for (std::size_t i = 0; i <= kAckIdsMax; ++i) {
        many.push_back(std::to_string(i));
    }
    AnnouncedMemory memory;
    EXPECT_EQ(take_check(memory, kTaro, static_cast<long long>(many.size()), named(many), nullptr).count,
              static_cast<long long>(many.size()));
    EXPECT_FALSE(memory.by_id);
    bool changed = true;
    EXPECT_EQ(take_check(memory, kTaro, static_cast<long long>(many.size()), named(many), &changed).count, 0);
    EXPECT_FALSE(changed); // nothing to write at the next pass
}

TEST(AnnouncedMemory, FileRoundTrip) {
    AnnouncedMemory accounts[3];
    take_check(accounts[0], kTaro, 2, named({"UID1", "UID2"}, ""), nullptr);
    take_check(accounts[2], {"imap.example.org", "hana", "1/Work"}, 4, counted_only(), nullptr);
    take_check(accounts[1], {"imap.example.org", "jiro", "1/"}, 0, named({}, "9"), nullptr);
    AnnouncedMemory back[3];
    announced_file_parse(announced_file_text(accounts), back);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i], accounts[i]) << i;
    }
}

// Anything but the file as written reads as no memory at all: mail told of twice, never mail left untold.
TEST(AnnouncedMemory, ABrokenFileIsNoMemory) {
    AnnouncedMemory accounts[3];
    take_check(accounts[0], kTaro, 2, named({"a", "b"}), nullptr);
    const std::string good = announced_file_text(accounts);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string broken[] = {
        "",
        "kd5lite announced 2\n",
        good.substr(0, good.size() - 1),       // cut short: the last line has no LF
        good + good.substr(good.find("account")), // the account twice
        replaced("account 0", "account 3"),
        replaced("count 0", "count -1"),
        replaced("count 0", "count x"),
        replaced("ids a b", "ids a  b"),      // an empty id
        replaced("ids a b", "ids a a"),       // the same id twice
        replaced(" ids\n", " count\n"),       // ids in a memory by count
        replaced("user taro", "name taro"),
        replaced("end\n", "fin\n"),
    };
    for (const std::string& text : broken) {
        AnnouncedMemory back[3];
        back[0].count = 99;
        announced_file_parse(text, back);
        for (const AnnouncedMemory& m : back) {
            EXPECT_EQ(m, AnnouncedMemory{}) << text;
        }
    }
}

} // namespace
