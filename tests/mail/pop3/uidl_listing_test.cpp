// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/uidl_listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using State = UidlParser::State;

// The ids of a complete listing, or {"<unusable>"} / {"<reading>"}.
std::vector<std::string> parsed(const std::string& listing, long long count, std::size_t piece = 0) {
    UidlParser parser(count);
    if (piece == 0) {
        parser.feed(listing);
    }
    for (std::size_t at = 0; piece > 0 && at < listing.size(); at += piece) {
        parser.feed(std::string_view(listing).substr(at, piece));
    }
    if (parser.state() != State::complete) {
        return {parser.state() == State::unusable ? "<unusable>" : "<reading>"};
    }
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < parser.list().size(); ++i) {
        ids.push_back(std::string(parser.list().id(i)));
    }
    return ids;
}

const std::vector<std::string> kUnusable = {"<unusable>"};
const std::vector<std::string> kReading = {"<reading>"};

TEST(UidlListing, LinesNumberedOneToCountThenTheEndLine) {
    const std::string id70(70, 'z');
    struct Case {
        const char* name;
        std::string listing;
        long long count;
        std::vector<std::string> ids;
    } cases[] = {
        {"two messages",
         "1 whqtswO00WBw418f9t5JxYwZ\r\n2 QhdPYR:00WBw1Ph7x7\r\n.\r\n",
         2,
         {"whqtswO00WBw418f9t5JxYwZ", "QhdPYR:00WBw1Ph7x7"}},
        {"empty maildrop", ".\r\n", 0, {}},
        {"bare line feeds", "1 a\n2 b\n.\n", 2, {"a", "b"}},
        {"blanks and leading zeros before the id", "01   a\r\n002 b\r\n.\r\n", 2, {"a", "b"}},
        {"70 characters, the longest id", "1 " + id70 + "\r\n.\r\n", 1, {id70}},
        {"every printable character",
         "1 !~\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}\r\n.\r\n",
         1,
         {"!~\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}"}},
        {"71 characters", "1 " + id70 + "z\r\n.\r\n", 1, kUnusable},
        {"a blank inside the id", "1 a b\r\n.\r\n", 1, kUnusable},
        {"trailing blanks", "1 a  \r\n.\r\n", 1, {"a"}},
        {"a tab after the id", "1 a\t\r\n.\r\n", 1, kUnusable},
        {"a control byte", "1 a\x01\r\n.\r\n", 1, kUnusable},
        {"a byte above 0x7e", "1 a\xc3\xa9\r\n.\r\n", 1, kUnusable},
        {"no id", "1\r\n.\r\n", 1, kUnusable},
        {"no number", "a\r\n.\r\n", 1, kUnusable},
        {"no blank after the number", "1a\r\n.\r\n", 1, kUnusable},
        {"a sign", "+1 a\r\n.\r\n", 1, kUnusable},
        {"fewer messages than STAT counted", "1 a\r\n.\r\n", 2, kUnusable},
        {"more messages than STAT counted", "1 a\r\n2 b\r\n.\r\n", 1, kUnusable},
        {"a message left out", "1 a\r\n3 c\r\n.\r\n", 2, kUnusable},
        {"out of order", "2 b\r\n1 a\r\n.\r\n", 2, kUnusable},
        {"a message twice", "1 a\r\n1 a\r\n.\r\n", 1, kUnusable},
        {"two messages, one id", "1 a\r\n2 a\r\n.\r\n", 2, kUnusable},
        {"an empty line", "1 a\r\n\r\n.\r\n", 1, kUnusable},
        {"a dot-stuffed line", "1 a\r\n..\r\n.\r\n", 1, kUnusable},
        {"bytes after the end line are not taken", "1 a\r\n.\r\n+OK\r\n", 1, {"a"}},
        {"no end line yet", "1 a\r\n2 b\r\n", 2, kReading},
        {"end line not finished", "1 a\r\n.", 1, kReading},
        {"a line cut at the limit, then an end", "1 " + std::string(200, 'x') + "\r\n.\r\n", 1, kUnusable},
        {"an end line that is part of a long line", std::string(96, 'x') + ".\r\n", 0, kUnusable},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parsed(c.listing, c.count), c.ids) << c.name;
        // However the bytes arrive, the result is the same.
        for (std::size_t piece : {1u, 2u, 3u, 7u}) {
            EXPECT_EQ(parsed(c.listing, c.count, piece), c.ids) << c.name << " in pieces of " << piece;
        }
    }
}

// A server that sends without end must not hold the check or its memory: reading stops after what count lines can
// take, having stored nothing of a line beyond its limit.
TEST(UidlListing, EndlessListingsStopAtTheBytesCountLinesCanTake) {
    struct Case {
        const char* name;
        std::string chunk;
    } cases[] = {
        {"one line without end", std::string(4096, 'x')},
        {"valid lines past the count", "1 a\r\n"},
        {"empty lines", "\r\n"},
    };
    for (const auto& c : cases) {
        UidlParser parser(3);
        long long fed = 0;
        while (parser.feed(c.chunk) == State::reading && fed < 100000000) {
            fed += static_cast<long long>(c.chunk.size());
        }
        EXPECT_EQ(parser.state(), State::unusable) << c.name;
        EXPECT_LE(fed, 4 * 98) << c.name;
        EXPECT_EQ(parser.list().size(), 0u) << c.name;
    }
}

// The memory of an account stays under 100 bytes per message even with the longest ids.
TEST(UidlListing, MemoryStaysUnderAHundredBytesPerMessage) {
    const int count = 20000;
    std::string listing;
    for (int n = 1; n <= count; ++n) {
        std::string id = std::to_string(n) + std::string(70 - std::to_string(n).size(), '.');
        listing += std::to_string(n) + " " + id + "\r\n";
    }
    listing += ".\r\n";
    UidlParser parser(count);
    ASSERT_EQ(parser.feed(listing), State::complete);
    EXPECT_LE(parser.list().bytes(), 100u * count);
}

} // namespace
