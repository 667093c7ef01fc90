// SPDX-License-Identifier: GPL-3.0-or-later
// The sender and subject a notification shows, from header blocks as servers send them.

#include "mail/core/header_text.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

// Catches encoded words left undecoded, the space between two of them kept, a bad word decoded into garbage
// rather than left alone, and bytes that would break the UTF-8 of a D-Bus string.
TEST(HeaderText, DecodesEncodedWords) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text", "plain text"},
        {"=?UTF-8?B?5paw6YKu5Lu2?=", "新邮件"},
        {"=?utf-8?q?caf=C3=A9_au_lait?=", "café au lait"},
        {"=?ISO-8859-1?Q?Gr=FC=DFe?=", "Grüße"},
        {"=?GB2312?B?xOO6ww==?=", "你好"},
        {"=?GBK?B?xOO6ww==?=", "你好"},
        {"=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", "こんにちは"},
        {"=?UTF-8?B?5paw?= =?UTF-8?B?6YKu5Lu2?=", "新邮件"},         // white space between words dropped
        {"=?UTF-8?Q?a?=\t =?UTF-8?Q?b?=", "ab"},
        {"Re: =?UTF-8?Q?caf=C3=A9?= now", "Re: café now"},          // but kept next to plain text
        {"=?UTF-8*en?Q?hello?=", "hello"},                          // RFC 2231 language
        {"=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="},                     // unknown encoding: left alone
        {"=?no-such-charset?Q?abc?=", "=?no-such-charset?Q?abc?="}, // unknown charset
        {"=?UTF-8?Q?bad=ZZ?=", "=?UTF-8?Q?bad=ZZ?="},
        {"=?UTF-8?Q?cut=C?=", "=?UTF-8?Q?cut=C?="},
        {"=?UTF-8?B?not base64?=", "=?UTF-8?B?not base64?="},
        {"=?UTF-8?B?@@@@?=", "=?UTF-8?B?@@@@?="},
        {"=?UTF-8?Q?unclosed", "=?UTF-8?Q?unclosed"},
        {"=??Q?x?=", "=??Q?x?="},
        {"=?UTF-8?B?/w==?=", "ÿ"},       // a byte that is no UTF-8 inside a word: taken as Latin-1
        {std::string("caf\xe9"), "café"}, // raw Latin-1 from an old mailer
        {std::string("\xff\x87\xb2"), "ÿ\u0087²"}, // F5-FF never lead a sequence (found by the fuzzer)
        {std::string("\xc0\xaf"), "À¯"},              // nor C0, C1: an overlong slash
        // RFC 2047 2: at most 75 characters with the delimiters; a longer one is text.
        {"=?UTF-8?Q?" + std::string(63, 'a') + "?=", std::string(63, 'a')},
        {"=?UTF-8?Q?" + std::string(64, 'a') + "?=", "=?UTF-8?Q?" + std::string(64, 'a') + "?="},
        {"=?UTF-8?Q?a" + std::string(70, 'b') + " =?UTF-8?Q?c?=", "=?UTF-8?Q?a" + std::string(70, 'b') + " c"},
        {"=?UTF 8?Q?a?=", "=?UTF 8?Q?a?="}, // no white space in the charset either
        {"=?UTF-8?Q?=?UTF-8?Q?x?=", "=?UTF-8?Q?x"}, // the first "?=" ends the word: "=?UTF-8?Q?x" is Q text
    };
    for (const auto& [in, want] : cases) {
        EXPECT_EQ(decode_header_text(in), want) << in;
    }
}

// A header of encoded words that never end: the search for each word's end stops at its longest length, so the
// work grows with the header, not with its square (1.7 s for these 64 KB when every "=?" searched to the end).
// The bound is generous for a sanitizer build on a loaded machine; bench/header_text_bench measures the growth.
TEST(HeaderText, UnendedEncodedWordsDecodeInLinearTime) {
    std::string flood;
    while (flood.size() < 64 * 1024) {
        flood += "=?a?b?x";
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(decode_header_text(flood), flood);
    EXPECT_EQ(summarize_headers("Subject: " + flood + "\r\n").subject.size(), kSubjectChars + 3); // "…" is 3 bytes
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(HeaderText, TidiesAndCuts) {
    const struct {
        std::string in;
        std::size_t max;
        std::string want;
    } cases[] = {
        {"  a \t b\r\n c  ", 80, "a b c"},
        {"abcdef", 3, "abc…"},
        {"abc", 3, "abc"},
        {"新邮件来了", 2, "新邮…"},
        {"ab cd", 3, "ab…"},
        {std::string("a\0b", 3), 80, "a b"},
        {"a\xc2\x85" "b", 80, "a b"}, // C1 control
        {"a\xff" "b", 80, "ab"},      // not UTF-8: dropped
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tidy_text(c.in, c.max), c.want) << c.in;
    }
}

TEST(HeaderText, SummaryFromAHeaderBlock) {
    const struct {
        std::string block;
        std::string sender;
        std::string subject;
    } cases[] = {
        {"From: Taro <taro@example.org>\r\nSubject: Hello\r\n\r\n", "Taro", "Hello"},
        {"from: taro@example.org\r\nsubject: x\r\n", "taro@example.org", "x"},
        {"From: <taro@example.org>\r\n", "taro@example.org", "(无主题)"},
        {"From: \"Yamada, Taro\" <t@example.org>\r\nSubject: =?UTF-8?B?5paw6YKu5Lu2?=\r\n", "Yamada, Taro", "新邮件"},
        {"From: =?UTF-8?B?5byg5LiJ?= <zs@example.cn>\nSubject: a\n long\n\tsubject\n", "张三", "a long subject"},
        {"Subject: first\r\n\r\nSubject: in the body\r\n", "", "first"},
        {"X-Subject: no\r\nSubject: yes\r\n", "", "yes"},
        {"Subject: " + std::string(500, 'x') + "\r\n", "", std::string(80, 'x') + "…"},
        {"", "", "(无主题)"},
    };
    for (const auto& c : cases) {
        MessageSummary s = summarize_headers(c.block);
        EXPECT_EQ(s.sender, c.sender) << c.block;
        EXPECT_EQ(s.subject, c.subject) << c.block;
    }
}

} // namespace
