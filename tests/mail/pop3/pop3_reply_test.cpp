// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/sender_match.h"
#include "mail/net/server_name.h"
#include "mail/pop3/pop3_reply.h"
#include "tools/pop3server/pop3_message.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

TEST(Pop3Reply, PositiveMeansTheFirstThreeBytesAreOk) {
    EXPECT_TRUE(reply_ok("+OK\r\n"));
    EXPECT_TRUE(reply_ok("+OKAY"));
    EXPECT_FALSE(reply_ok("+Ok\r\n"));
    EXPECT_FALSE(reply_ok("-ERR\r\n"));
    EXPECT_FALSE(reply_ok(""));
    EXPECT_FALSE(reply_ok(" +OK"));
}

// Catches a match inside a longer word or a later word of the line, a case-sensitive match, and a listing whose
// last line is cut off or has no CR.
TEST(Pop3Reply, CapaListingOffersPipeliningOnlyAsALinesFirstWord) {
    struct Case {
        std::string listing;
        bool offered;
    } cases[] = {
        {"TOP\r\nUSER\r\nPIPELINING\r\nUIDL\r\n.\r\n", true},
        {"pipelining\r\n.\r\n", true},
        {"TOP\nPIPELINING\n.\n", true},
        {"TOP\r\nPIPELINING", true},
        {"PIPELINING extra words\r\n", true},
        {"TOP\r\nUSER\r\nUIDL\r\n.\r\n", false},
        {"PIPELINING2\r\n", false},
        {"X-PIPELINING\r\n", false},
        {"IMPLEMENTATION PIPELINING\r\n", false},
        {" PIPELINING\r\n", false},
        {std::string("PIPE\0LINING\r\n", 13), false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(capa_offers(c.listing, "PIPELINING"), c.offered) << c.listing;
    }
}

TEST(Pop3Reply, StatCountIsTheNumberAfterTheFirstSpace) {
    struct Case {
        const char* line;
        long long count;
    } cases[] = {
        {"+OK 5 20481\r\n", 5},
        {"+OK 0 0\r\n", 0},
        {"+OK\r\n", 0},                              // no space at all
        {"+OK  7 100\r\n", 7},                       // blanks before the number
        {"+OK five\r\n", 0},                         // no number there
        {"+OK -3 10\r\n", 0},                        // a count is never negative
        {"+OK 12abc\r\n", 12},                       // leading digits count
        {"+OK 10000000 1\r\n", 10000000},           // the most a check takes on
        {"+OK 10000001 1\r\n", 10000001},
        {"+OK 99999999999999999999 1\r\n", 10000001}, // clamped, not overflowed
    };
    for (const auto& c : cases) {
        EXPECT_EQ(stat_message_count(c.line), c.count) << c.line;
    }
}

TEST(Pop3Reply, TopBlockSizeIsTheOctetCountPlusFifteenWithin4096) {
    struct Case {
        const char* line; // as received, out-length is the bytes before the LF
        int size;
    } cases[] = {
        {"+OK 5\r\n", 20},
        {"+OK 1\r\n", 16},
        {"+OK 4080 octets\r\n", 4095},
        {"+OK 4081 octets\r\n", 4096},       // the sum reaches 4096
        {"+OK 5000 octets\r\n", 4096},       // announced beyond the buffer
        {"+OK 0 octets\r\n", 4096},          // sum 15
        {"+OK\r\n", 4096},                   // no count (RFC 1939 allows it)
        {"+OK 1\n", 4096},                   // six bytes with the LF: too short to carry a count
        {"+OK message follows\r\n", 4096},   // words, no number
        {"+OK -20 octets\r\n", 4096},        // a sign is no count
        {"+OK 2147483647 octets\r\n", 4096}, // no overflow when 15 is added
    };
    for (const auto& c : cases) {
        int out_length = static_cast<int>(std::string(c.line).find('\n'));
        EXPECT_EQ(top_block_size(c.line, out_length), c.size) << c.line;
    }
    EXPECT_EQ(top_block_size("+OK 9 octets", 1025), 24); // a cut line counts as long enough
}

TEST(SenderMatch, ExactAndPartialRulesOnHeaderBlocks) {
    const std::string addr = "taro@example.com";
    struct Case {
        std::string block;
        int condition;
        int hits;
    } cases[] = {
        {"From: Taro Yamada <taro@example.com>\r\n", kMatchExact, 1},                  // angle form only
        {"From: taro@example.com\r\n", kMatchExact, 1},                                // space form only
        {"From: Taro <taro@example.com>\r\nCc: taro@example.com\r\n", kMatchExact, 2}, // both forms
        {"From: <jirotaro@example.com>\r\n", kMatchExact, 0},                          // part of a longer address
        {"From: jirotaro@example.com\r\n", kMatchPartial, 1},
        {"From: Taro@Example.com\r\n", kMatchPartial, 0},                 // case matters
        {"Subject: mail for taro@example.com today\r\n", kMatchExact, 1}, // the whole block counts
        {"From: taro@example.com\r\n", 0, 0},                             // no condition
        {"From: taro@example.com\r\n", 3, 0},                             // unknown condition
        {std::string("X-Junk: ") + '\0' + "\xff\r\nFrom: <taro@example.com>\r\n", kMatchExact, 1}, // past a zero
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sender_hits(c.block, addr, c.condition), c.hits) << c.block << " / " << c.condition;
    }
    EXPECT_EQ(sender_hits("From: a@b\r\n", "", kMatchPartial), 0);
}

TEST(ServerNameSplit, PortForms) {
    struct Case {
        const char* text;
        ServerName::Error error;
        const char* host;
        int port;
    } cases[] = {
        {"mail.example.com", ServerName::Error::none, "mail.example.com", 0},
        {"127.0.0.1:1110", ServerName::Error::none, "127.0.0.1", 1110},
        {"[::1]:995", ServerName::Error::none, "::1", 995},
        {"[::1]", ServerName::Error::none, "::1", 0},
        {"::1", ServerName::Error::none, "::1", 0}, // an IPv6 address without brackets has no port
        {"host:", ServerName::Error::port, "host", 0},
        {"host:0", ServerName::Error::port, "host", 0},
        {"host:65536", ServerName::Error::port, "host", 0},
        {"host:11O", ServerName::Error::port, "host", 0},
        {":110", ServerName::Error::host, "", 110},
        {"[::1", ServerName::Error::host, "", 0},
        {"[]:110", ServerName::Error::host, "", 0},
        {"[::1]110", ServerName::Error::host, "", 0},
    };
    for (const auto& c : cases) {
        ServerName n = split_server_name(c.text);
        EXPECT_EQ(n.error, c.error) << c.text;
        if (c.error == ServerName::Error::none) {
            EXPECT_EQ(n.host, c.host) << c.text;
            EXPECT_EQ(n.port, c.port) << c.text;
        }
    }
}

// The test server's TOP answer is what the check's block rule is measured against.
TEST(TestServerMessages, TopTakesHeadersAndTheFirstBodyLinesDotStuffed) {
    std::string message = "From: a@b\r\nSubject: s\r\n\r\n1\r\n.dot\r\n3\r\n";
    EXPECT_EQ(top_of(message, 0), "From: a@b\r\nSubject: s\r\n\r\n");
    EXPECT_EQ(top_of(message, 2), "From: a@b\r\nSubject: s\r\n\r\n1\r\n..dot\r\n");
    EXPECT_EQ(top_of(message, 10), "From: a@b\r\nSubject: s\r\n\r\n1\r\n..dot\r\n3\r\n");
    EXPECT_EQ(unescape("+OK\\x00\\xFFz\\r\\n\\\\"), std::string("+OK\0\xffz\r\n\\", 9));
    EXPECT_EQ(with_crlf("a\nb\r\nc"), "a\r\nb\r\nc");
}

// The reply ends at a line holding only ".", wherever the pieces cut it, and never at a dot-stuffed line or a
// dot inside a line; bytes after the end are not the reply's.
TEST(Pop3Reply, TopReplyEndsAtItsDotLineOverAnyPieces) {
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        bool done;
        std::size_t taken_of_last; // bytes of the last piece that belong to the reply
    } cases[] = {
        {"one piece", {"From: a@b.c\r\n\r\nbody\r\n.\r\n"}, true, 24},
        {"end cut after the dot", {"From: a@b.c\r\n.", "\r\n"}, true, 2},
        {"end cut after the CR", {"From: a@b.c\r\n.\r", "\n"}, true, 1},
        {"end cut before the dot", {"From: a@b.c\r\n", ".\r\n"}, true, 3},
        {"empty reply", {".\r\n"}, true, 3},
        {"bare LF line ends", {"From: a@b.c\n.\n"}, true, 14},
        {"dot-stuffed line is no end", {"x\r\n..\r\n.x\r\n"}, false, 11},
        {"dot inside a line is no end", {"a.\r\nb .\r\n"}, false, 9},
        {"dot line cut by a CR inside", {"x\r\n.\r\r\n"}, false, 7},
        {"next reply not taken", {"a\r\n.\r\n+OK 1 2\r\n"}, true, 6},
        {"nothing yet", {""}, false, 0},
    };
    for (const auto& c : cases) {
        TopReply reply;
        std::size_t taken = 0;
        std::string all;
        for (const auto& piece : c.pieces) {
            taken = top_reply_take(reply, piece);
            all += piece.substr(0, taken);
        }
        EXPECT_EQ(reply.done, c.done) << c.name;
        EXPECT_EQ(taken, c.taken_of_last) << c.name;
        EXPECT_EQ(reply.kept, all) << c.name;
        EXPECT_EQ(reply.total, all.size()) << c.name;
    }
}

// Headers of any size are taken to the end; the first 64 KB are kept for the match and the rest only counted.
TEST(Pop3Reply, TopReplyKeepsItsFirst64KilobytesOnly) {
    TopReply reply;
    const std::string line = std::string(998, 'h') + "\r\n";
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(top_reply_take(reply, line), line.size());
    }
    EXPECT_EQ(top_reply_take(reply, ".\r\n"), 3u);
    EXPECT_TRUE(reply.done);
    EXPECT_EQ(reply.kept.size(), kTopKeepMax);
    EXPECT_EQ(reply.total, 100 * line.size() + 3);
    EXPECT_EQ(top_reply_take(reply, "more"), 0u);
}

// The SASL line of a CAPA listing (RFC 2449, 5034) and the AUTH line's limit: catches a mechanism missed for its
// case or its place in the line, a word taken from another capability, and a 256-octet AUTH line sent whole.
TEST(Pop3Reply, SaslMechanismsOfTheCapabilityListing) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(capa_sasl_mechanisms("TOP\r\nUSER\r\nSASL PLAIN XOAUTH2 oauthbearer\r\nUIDL\r\n.\r\n"),
              (Names{"PLAIN", "XOAUTH2", "OAUTHBEARER"}));
    EXPECT_EQ(capa_sasl_mechanisms("SASL  XOAUTH2\n.\n"), Names{"XOAUTH2"});
    EXPECT_EQ(capa_sasl_mechanisms("TOP\r\nIMPLEMENTATION SASL XOAUTH2\r\n.\r\n"), Names{});
    EXPECT_EQ(capa_sasl_mechanisms("SASLX XOAUTH2\r\n"), Names{});
    EXPECT_EQ(capa_sasl_mechanisms(""), Names{});
    EXPECT_TRUE(auth_fits_one_line(11, 255 - 19));  // "AUTH OAUTHBEARER " + response + CRLF = 255
    EXPECT_FALSE(auth_fits_one_line(11, 255 - 18)); // 256
}

} // namespace
