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
