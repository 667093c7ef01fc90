// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log_text.h"

#include <gtest/gtest.h>

namespace {

// What a server sends must neither break the log line, nor hide itself, nor turn the rest of the line around.
TEST(LogText, ServerTextStaysOnItsLineAndShowsWhatItIs) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"plain text", "-ERR mailbox locked", "-ERR mailbox locked"},
        {"CR LF and a forged line", "-ERR x\r\n12/07 09:05:01 fake", "-ERR x\\x0D\\x0A12/07 09:05:01 fake"},
        {"C0, NUL and DEL", std::string("a\0\x01\x1b[31m\x7f", 9), "a\\x00\\x01\\x1B[31m\\x7F"},
        {"backslash is escaped too", "a\\x0D", "a\\\\x0D"},
        {"C1: NEL and CSI",
         "a\xc2\x85"
         "b\xc2\x9b",
         "a\\u0085b\\u009B"},
        {"line and paragraph separators",
         "a\xe2\x80\xa8"
         "b\xe2\x80\xa9",
         "a\\u2028b\\u2029"},
        {"bidi overrides",
         "\xe2\x80\xaa\xe2\x80\xae"
         "cba\xe2\x81\xa6\xe2\x81\xa9",
         "\\u202A\\u202Ecba\\u2066\\u2069"},
        {"letters around them stay", "\xe2\x80\xa9\xe2\x80\xad", "\\u2029\\u202D"},
        {"Chinese and Japanese text stays", "受信(select)異常 无条件", "受信(select)異常 无条件"},
        {"four-byte character stays", "\xf0\x9f\x93\xa7", "\xf0\x9f\x93\xa7"},
        {"stray continuation byte", "a\x80z", "a\\x80z"},
        {"overlong slash", "\xc0\xaf", "\\xC0\\xAF"},
        {"overlong three bytes", "\xe0\x80\xaf", "\\xE0\\x80\\xAF"},
        {"surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {"cut sequence at the end", "ab\xe2\x80", "ab\\xE2\\x80"},
        {"cut sequence before ASCII", "\xe2\x80z", "\\xE2\\x80z"},
        {"Latin-1 bytes", "caf\xe9", "caf\\xE9"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(log_safe_text(c.bytes), c.shown) << c.name;
    }
}

} // namespace
