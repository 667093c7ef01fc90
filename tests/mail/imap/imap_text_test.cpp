// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ImapText, MailboxNamesInModifiedUtf7) {
    struct Case {
        std::string utf8;
        bool ok;
        std::string sent;
    } cases[] = {
        {"INBOX", true, "INBOX"},
        {"", true, ""},
        {"Tom & Jerry", true, "Tom &- Jerry"}, // "&" itself must be shifted
        {"Entw\xc3\xbcrfe", true, "Entw&APw-rfe"},
        {"~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", true,
         "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},    // RFC 3501's own example
        {"\xf0\x9f\x98\x80", true, "&2D3eAA-"}, // beyond U+FFFF: a surrogate pair
        {"a\tb", true, "a&AAk-b"},              // controls are shifted too
        {"\xff", false, ""},
        {"\xc0\xaf", false, ""},         // overlong
        {"\xed\xa0\x80", false, ""},     // a surrogate written as UTF-8
        {"ab\xe6\x97", false, ""},       // cut in the middle of a character
        {"\xf4\x90\x80\x80", false, ""}, // past U+10FFFF
    };
    for (const auto& c : cases) {
        std::string sent = "left over";
        EXPECT_EQ(mailbox_utf7(c.utf8, sent), c.ok) << c.utf8;
        EXPECT_EQ(sent, c.sent) << c.utf8;
    }
}

// What a server lists, back to UTF-8; everything mailbox_utf7 makes comes back as it was.
TEST(ImapText, MailboxNamesBackFromModifiedUtf7) {
    struct Case {
        std::string utf7;
        bool ok;
        std::string utf8;
    } cases[] = {
        {"INBOX", true, "INBOX"},
        {"Tom &- Jerry", true, "Tom & Jerry"},
        {"~peter/mail/&U,BTFw-/&ZeVnLIqe-", true,
         "~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},
        {"&V4NXPpCuTvY-", true, "\xe5\x9e\x83\xe5\x9c\xbe\xe9\x82\xae\xe4\xbb\xb6"}, // 垃圾邮件, as QQ lists it
        {"&2D3eAA-", true, "\xf0\x9f\x98\x80"},
        {"&AGE-", false, ""},     // "a" shifted: printable ASCII stands for itself
        {"&2D0-", false, ""},     // a high surrogate alone
        {"&3gA-", false, ""},     // a low surrogate alone
        {"&U,BTFw", false, ""},   // never closed
        {"&U,B-", false, ""},     // not a whole UTF-16 unit
        {"&U,BTF-", false, ""},   // bits left over that are not zero
        {"&U!BTFw-", false, ""},  // not base64
        {"tab\there", false, ""}, // a control byte is never sent as itself
        {"\xe5\x9e\x83", false, ""},
    };
    for (const auto& c : cases) {
        std::string out = "left over";
        EXPECT_EQ(mailbox_from_utf7(c.utf7, out), c.ok) << c.utf7;
        EXPECT_EQ(out, c.utf8) << c.utf7;
    }
    for (const std::string name :
         {"Entw\xc3\xbcrfe", "a&b&&c", "\xe5\xb7\xb2\xe5\x8f\x91\xe9\x80\x81/x", "\xf0\x9f\x98\x80&"}) {
        std::string sent;
        std::string back;
        ASSERT_TRUE(mailbox_utf7(name, sent)) << name;
        EXPECT_TRUE(mailbox_from_utf7(sent, back)) << sent;
        EXPECT_EQ(back, name);
    }
}

TEST(ImapText, ArgumentsQuotedWhenTheyCanBe) {
    struct Case {
        std::string text;
        ImapArgument form;
        std::string quoted;
    } cases[] = {
        {"taro", ImapArgument::quoted, "\"taro\""},
        {"", ImapArgument::quoted, "\"\""},
        {"pa\"ss\\word", ImapArgument::quoted, "\"pa\\\"ss\\\\word\""},
        {"with space", ImapArgument::quoted, "\"with space\""},
        {"p\xc3\xa4ss", ImapArgument::literal, ""},
        {"two\r\nlines", ImapArgument::literal, ""},
        {std::string("nul\0x", 5), ImapArgument::impossible, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(imap_argument_form(c.text), c.form) << c.text;
        if (c.form == ImapArgument::quoted) {
            std::string out = "LOGIN ";
            imap_append_quoted(out, c.text);
            EXPECT_EQ(out, "LOGIN " + c.quoted);
        }
    }
}

} // namespace
