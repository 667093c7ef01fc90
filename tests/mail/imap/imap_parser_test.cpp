// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Kind = ImapResponse::Kind;
using Result = ImapParser::Result;

// Every response the parser gives for bytes fed in pieces of chunk bytes, and how it ended.
struct Parsed {
    std::vector<ImapResponse> responses;
    Result last = Result::more;
};

Parsed parse_in_pieces(const std::string& bytes, std::size_t chunk, std::size_t literal_limit = 64 * 1024) {
    ImapParser parser(literal_limit);
    Parsed out;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        parser.feed(std::string_view(bytes).substr(at, chunk));
        ImapResponse r;
        while ((out.last = parser.next(r)) == Result::response) {
            out.responses.push_back(r);
        }
        if (out.last == Result::failed) {
            break;
        }
    }
    return out;
}

ImapResponse one(const std::string& bytes) {
    ImapResponse r;
    EXPECT_EQ(parse_imap_response(bytes, r), Result::response) << bytes;
    return r;
}

TEST(ImapParser, LineKinds) {
    struct Case {
        std::string bytes;
        Kind kind;
        std::string tag;
        std::int64_t number;
        std::string keyword;
        std::string code;
        std::string text;
        bool malformed;
    } cases[] = {
        {"* OK [CAPABILITY IMAP4rev1 STARTTLS] ready\r\n", Kind::untagged, "", -1, "OK",
         "CAPABILITY IMAP4rev1 STARTTLS", "ready", false},
        {"a1 OK [READ-ONLY] EXAMINE completed\r\n", Kind::tagged, "a1", -1, "OK", "READ-ONLY", "EXAMINE completed",
         false},
        {"a2 no login failed\r\n", Kind::tagged, "a2", -1, "NO", "", "login failed", false}, // keywords in any case
        {"a3 BAD\r\n", Kind::tagged, "a3", -1, "BAD", "", "", false},
        {"* BYE server shutting down\r\n", Kind::untagged, "", -1, "BYE", "", "server shutting down", false},
        {"* PREAUTH welcome\r\n", Kind::untagged, "", -1, "PREAUTH", "", "welcome", false},
        {"* 23 EXISTS\r\n", Kind::untagged, "", 23, "EXISTS", "", "", false},
        {"* 4 expunge\r\n", Kind::untagged, "", 4, "EXPUNGE", "", "", false},
        {"* 0 RECENT\n", Kind::untagged, "", 0, "RECENT", "", "", false}, // a bare LF ends a line too
        {"+ idling\r\n", Kind::continuation, "", -1, "", "", "idling", false},
        {"+\r\n", Kind::continuation, "", -1, "", "", "", false},
        {"+ \r\n", Kind::continuation, "", -1, "", "", "", false},
        {"* OK [ALERT unclosed\r\n", Kind::untagged, "", -1, "OK", "", "[ALERT unclosed", true},
        {"a4 BYE odd\r\n", Kind::tagged, "a4", -1, "BYE", "", "odd", true}, // a tag ends only with OK, NO, BAD
        {"a5 FETCH (x)\r\n", Kind::tagged, "a5", -1, "FETCH", "", "", true},
        {"*\r\n", Kind::untagged, "", -1, "", "", "", true},
        {"\r\n", Kind::untagged, "", -1, "", "", "", true},
        {" OK\r\n", Kind::untagged, "", -1, "", "", "", true},
    };
    for (const auto& c : cases) {
        ImapResponse r = one(c.bytes);
        EXPECT_EQ(r.kind, c.kind) << c.bytes;
        EXPECT_EQ(r.tag, c.tag) << c.bytes;
        EXPECT_EQ(r.number, c.number) << c.bytes;
        EXPECT_EQ(r.keyword, c.keyword) << c.bytes;
        EXPECT_EQ(r.code, c.code) << c.bytes;
        EXPECT_EQ(r.text, c.text) << c.bytes;
        EXPECT_EQ(r.malformed, c.malformed) << c.bytes;
    }
}

TEST(ImapParser, ValuesOfDataResponses) {
    ImapResponse r = one("* LIST (\\HasNoChildren \\Marked) \"/\" \"a \\\"b\\\\\" NIL\r\n");
    ASSERT_FALSE(r.malformed);
    ASSERT_EQ(r.data.size(), 4u);
    EXPECT_EQ(r.data[0].kind, ImapValue::Kind::list);
    ASSERT_EQ(r.data[0].items.size(), 2u);
    EXPECT_EQ(r.data[0].items[1].text, "\\Marked");
    EXPECT_EQ(r.data[1].kind, ImapValue::Kind::quoted);
    EXPECT_EQ(r.data[2].text, "a \"b\\"); // escapes taken out
    EXPECT_EQ(r.data[3].kind, ImapValue::Kind::atom);
    EXPECT_EQ(r.data[3].text, "NIL");

    // A section keeps its spaces and parentheses; the list right after the keyword needs no space.
    r = one("* 7 FETCH(BODY[HEADER.FIELDS (FROM TO)] \"x\" FLAGS ())\r\n");
    ASSERT_FALSE(r.malformed);
    ASSERT_EQ(r.data.size(), 1u);
    ASSERT_EQ(r.data[0].items.size(), 4u);
    EXPECT_EQ(r.data[0].items[0].text, "BODY[HEADER.FIELDS (FROM TO)]");
    EXPECT_TRUE(r.data[0].items[3].items.empty());

    const char* broken[] = {
        "* LIST (a (b) \"/\" x\r\n",     // a list never closed
        "* LIST a) b\r\n",               // closed, never opened
        "* LIST \"open\r\n",             // a quoted string never closed
        "* LIST \"ends in \\\"\r\n",     // the closing quote escaped
        "* 1 FETCH (BODY[HEADER x)\r\n", // a section never closed
    };
    for (const char* line : broken) {
        EXPECT_TRUE(one(line).malformed) << line;
    }
    std::string deep = "* X " + std::string(100, '(') + std::string(100, ')') + "\r\n";
    EXPECT_TRUE(one(deep).malformed); // nesting is bounded, not recursed without end
}

TEST(ImapParser, SearchAndCapabilityHelpers) {
    struct Case {
        std::string bytes;
        std::vector<std::uint32_t> numbers;
    } searches[] = {
        {"* SEARCH 2 5 9\r\n", {2, 5, 9}},
        {"* SEARCH\r\n", {}},
        {"* search 1 0 -3 x 4294967295 4294967296 7\r\n", {1, 4294967295u, 7}},
        {"* SEARCH 1 2 (MODSEQ 917162500)\r\n", {1, 2}},
        {"* 3 EXISTS\r\n", {}},
    };
    for (const auto& c : searches) {
        EXPECT_EQ(search_numbers(one(c.bytes)), c.numbers) << c.bytes;
    }

    using Names = std::vector<std::string>;
    EXPECT_EQ(capability_names(one("* CAPABILITY IMAP4rev1 starttls AUTH=PLAIN\r\n")),
              (Names{"IMAP4REV1", "STARTTLS", "AUTH=PLAIN"}));
    EXPECT_EQ(capability_names(one("* OK [CAPABILITY IMAP4rev1 SASL-IR  IDLE] hi\r\n")),
              (Names{"IMAP4REV1", "SASL-IR", "IDLE"}));
    EXPECT_EQ(capability_names(one("a1 OK [CAPABILITY IMAP4rev1 LOGINDISABLED] done\r\n")),
              (Names{"IMAP4REV1", "LOGINDISABLED"}));
    EXPECT_TRUE(capability_names(one("* OK [READ-ONLY] x\r\n")).empty());
    EXPECT_TRUE(capability_names(one("+ CAPABILITY IMAP4rev1\r\n")).empty());
}

// The count of an ESEARCH answer counts only for the command that asked: its tag names it.
TEST(ImapParser, EsearchCountOfOurCommandOnly) {
    struct Case {
        std::string bytes;
        bool found;
        std::uint32_t count;
    } cases[] = {
        {"* ESEARCH (TAG \"k5\") COUNT 3\r\n", true, 3},
        {"* ESEARCH (TAG \"k5\") UID COUNT 200000\r\n", true, 200000},
        {"* ESEARCH (tag \"k5\") MIN 2 count 0\r\n", true, 0},
        {"* ESEARCH (TAG \"k4\") COUNT 3\r\n", false, 0},  // another command's
        {"* ESEARCH COUNT 3\r\n", false, 0},              // no correlator: nobody's
        {"* ESEARCH (TAG \"k5\") MIN 2\r\n", false, 0},    // no count
        {"* ESEARCH (TAG \"k5\") COUNT x\r\n", false, 0},
        {"* ESEARCH (TAG \"k5\") COUNT 4294967296\r\n", false, 0},
        {"* ESEARCH (TAG \"k5\") COUNT\r\n", false, 0},
        {"* SEARCH 1 2 3\r\n", false, 0},
        {"k5 OK [ESEARCH] done\r\n", false, 0},
    };
    for (const auto& c : cases) {
        std::uint32_t count = 0;
        EXPECT_EQ(esearch_count(one(c.bytes), "k5", count), c.found) << c.bytes;
        EXPECT_EQ(count, c.count) << c.bytes;
    }
}

// A FETCH answer carries the header block as a literal of exactly n bytes, which holds CR LF of its own; the
// split points cover a cut inside the marker, inside the CR LF after it and inside the literal.
TEST(ImapParser, FetchHeaderLiteralsWhateverTheReadsSplit) {
    const std::string header = "From: Taro <taro@example.com>\r\nSubject: {5}\r\n\r\n";
    const std::string bytes = "* 3 FETCH (UID 9 BODY[HEADER] {" + std::to_string(header.size()) + "}\r\n" + header +
                              " FLAGS (\\Recent))\r\n* 4 FETCH (BODY[HEADER] {0}\r\n)\r\na7 OK done\r\n";
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{33}, bytes.size()}) {
        Parsed p = parse_in_pieces(bytes, chunk);
        ASSERT_EQ(p.responses.size(), 3u) << chunk;
        EXPECT_EQ(p.last, Result::more);
        const ImapResponse& r = p.responses[0];
        EXPECT_FALSE(r.malformed);
        EXPECT_EQ(r.number, 3);
        const ImapValue* block = fetch_item(r, "body[header]");
        ASSERT_NE(block, nullptr) << chunk;
        EXPECT_EQ(block->kind, ImapValue::Kind::literal);
        EXPECT_EQ(block->text, header);
        EXPECT_FALSE(block->cut);
        ASSERT_NE(fetch_item(p.responses[1], "BODY[HEADER]"), nullptr);
        EXPECT_EQ(fetch_item(p.responses[1], "BODY[HEADER]")->text, "");
        EXPECT_EQ(p.responses[2].tag, "a7");
    }
    EXPECT_EQ(fetch_item(one("* 1 FETCH (BODY[HEADER] NIL)\r\n"), "BODY[HEADER]"), nullptr);
    EXPECT_EQ(fetch_item(one("* 1 FETCH (UID 5)\r\n"), "BODY[HEADER]"), nullptr);
    EXPECT_EQ(fetch_item(one("* 1 FETCH (BODY[HEADER])\r\n"), "BODY[HEADER]"), nullptr);
    // LITERAL+ form of the marker, and a quoted header block
    EXPECT_EQ(fetch_item(one("* 1 FETCH (BODY[HEADER] {3+}\r\na\r\n)\r\n"), "BODY[HEADER]")->text, "a\r\n");
    EXPECT_EQ(fetch_item(one("* 1 FETCH (BODY[HEADER] \"X: y\")\r\n"), "BODY[HEADER]")->text, "X: y");
}

// A UID is an atom, as every number in IMAP: read from whatever item order and case the server uses, and nothing
// out of range taken for one.
TEST(ImapParser, UidsAreReadFromTheirAtoms) {
    const struct Case {
        std::string bytes;
        std::uint32_t uid;
    } cases[] = {
        {"* 3 FETCH (UID 9)\r\n", 9},
        {"* 3 FETCH (FLAGS (\\Seen) uid 4294967295 BODY[HEADER] {0}\r\n)\r\n", 4294967295u},
        {"* 3 FETCH (UID 4294967296)\r\n", 0},
        {"* 3 FETCH (UID 0)\r\n", 0},
        {"* 3 FETCH (UID \"9\")\r\n", 0}, // a string is no number
        {"* 3 FETCH (UID x9)\r\n", 0},
        {"* 3 FETCH (UID)\r\n", 0},
        {"* 3 FETCH (UID NIL)\r\n", 0},
        {"* 3 STATUS (UID 9)\r\n", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fetch_uid(one(c.bytes)), c.uid) << c.bytes;
    }
    ASSERT_NE(fetch_item(one("* 1 FETCH (UID 5)\r\n"), "uid"), nullptr);
    EXPECT_EQ(fetch_item(one("* 1 FETCH (UID 5)\r\n"), "uid")->kind, ImapValue::Kind::atom);
}

// LIST as Gmail, Dovecot and Exchange send it, and what is no mailbox.
TEST(ImapParser, ListResponsesGiveNameDelimiterAndAttributes) {
    const struct Case {
        std::string bytes;
        bool ok;
        std::string name;
        std::string delimiter;
        std::vector<std::string> attributes;
    } cases[] = {
        {"* LIST (\\HasNoChildren) \"/\" \"INBOX\"\r\n", true, "INBOX", "/", {"\\HasNoChildren"}},
        {"* LIST (\\All \\HasNoChildren) \"/\" \"[Gmail]/All Mail\"\r\n",
         true,
         "[Gmail]/All Mail",
         "/",
         {"\\All", "\\HasNoChildren"}},
        {"* LIST (\\Junk) \"/\" Junk\r\n", true, "Junk", "/", {"\\Junk"}},
        {"* LIST () \".\" INBOX.Lists.Rust\r\n", true, "INBOX.Lists.Rust", ".", {}},
        {"* LIST (\\Noselect) NIL \"\"\r\n", false, "", "", {}}, // the empty name: no folder
        {"* LIST (\\HasNoChildren) NIL Public\r\n", true, "Public", "", {"\\HasNoChildren"}}, // no hierarchy
        {"* LIST () \"/\" {8}\r\nTo\"do/\\x (\"CHILDINFO\" (\"SUBSCRIBED\"))\r\n", true, "To\"do/\\x", "/", {}},
        {"* LIST () \"/\" \"&ZeVnLIqe-\"\r\n", true, "&ZeVnLIqe-", "/", {}}, // decoded by the session, not here
        {"* LIST \\Junk \"/\" Junk\r\n", false, "", "", {}},                 // attributes not in a list
        {"* LIST () \"//\" Junk\r\n", false, "", "", {}},                    // a delimiter is one character
        {"* LIST () \"/\"\r\n", false, "", "", {}},                          // no name
        {"* LIST (\"\\Junk\") \"/\" Junk\r\n", false, "", "", {}},           // an attribute is an atom
        {"* LSUB () \"/\" Junk\r\n", false, "", "", {}},
    };
    for (const Case& c : cases) {
        ListedMailbox m;
        EXPECT_EQ(list_mailbox(one(c.bytes), m), c.ok) << c.bytes;
        if (c.ok) {
            EXPECT_EQ(m.name, c.name) << c.bytes;
            EXPECT_EQ(m.delimiter, c.delimiter) << c.bytes;
            EXPECT_EQ(m.attributes, c.attributes) << c.bytes;
        }
    }
    ListedMailbox junk;
    ASSERT_TRUE(list_mailbox(one("* LIST (\\junk \\HasNoChildren) \"/\" Spam\r\n"), junk));
    EXPECT_TRUE(junk.has("\\Junk"));
    EXPECT_FALSE(junk.has("\\Trash"));
}

// STATUS as the STATUS command, LIST-STATUS and NOTIFY bring it; an item left out stays unknown.
TEST(ImapParser, StatusResponsesGiveTheirItems) {
    const struct Case {
        std::string bytes;
        bool ok;
        std::string name;
        std::int64_t messages, unseen, uidnext, uidvalidity;
        std::uint64_t modseq;
    } cases[] = {
        {"* STATUS Work (MESSAGES 3 UIDNEXT 4 UIDVALIDITY 1796717096 UNSEEN 3 HIGHESTMODSEQ 6)\r\n", true, "Work", 3, 3,
         4, 1796717096, 6},
        {"* STATUS Work (UNSEEN 0 HIGHESTMODSEQ 7)\r\n", true, "Work", -1, 0, -1, -1, 7}, // Dovecot's FlagChange
        {"* STATUS \"Lists/Rust\" (unseen 2 messages 9)\r\n", true, "Lists/Rust", 9, 2, -1, -1, 0},
        {"* STATUS INBOX (HIGHESTMODSEQ 9223372036854775807)\r\n", true, "INBOX", -1, -1, -1, -1,
         9223372036854775807ULL},
        {"* STATUS INBOX (HIGHESTMODSEQ 9223372036854775808)\r\n", true, "INBOX", -1, -1, -1, -1, 0}, // past 63 bits
        {"* STATUS INBOX (UNSEEN 4294967296 SIZE 77)\r\n", true, "INBOX", -1, -1, -1, -1, 0},         // out of range
        {"* STATUS INBOX ()\r\n", true, "INBOX", -1, -1, -1, -1, 0},
        {"* STATUS INBOX (UNSEEN)\r\n", false, "", -1, -1, -1, -1, 0},
        {"* STATUS INBOX UNSEEN 3\r\n", false, "", -1, -1, -1, -1, 0},
        {"* STATUS (UNSEEN 3)\r\n", false, "", -1, -1, -1, -1, 0},
        {"* STATUS NIL (UNSEEN 3)\r\n", false, "", -1, -1, -1, -1, 0},
        {"* STATUS INBOX ((UNSEEN) 3)\r\n", false, "", -1, -1, -1, -1, 0},
        {"k4 OK [UNSEEN 3] STATUS done\r\n", false, "", -1, -1, -1, -1, 0},
    };
    for (const Case& c : cases) {
        MailboxStatus st;
        EXPECT_EQ(mailbox_status(one(c.bytes), st), c.ok) << c.bytes;
        EXPECT_EQ(st.name, c.name) << c.bytes;
        EXPECT_EQ(st.messages, c.messages) << c.bytes;
        EXPECT_EQ(st.unseen, c.unseen) << c.bytes;
        EXPECT_EQ(st.uidnext, c.uidnext) << c.bytes;
        EXPECT_EQ(st.uidvalidity, c.uidvalidity) << c.bytes;
        EXPECT_EQ(st.highestmodseq, c.modseq) << c.bytes;
    }
    EXPECT_TRUE(notification_overflow(one("* OK [NOTIFICATIONOVERFLOW] ...A mistake...\r\n")));
    EXPECT_FALSE(notification_overflow(one("* OK Still here\r\n")));
    EXPECT_FALSE(notification_overflow(one("* 1 FETCH (FLAGS (NOTIFICATIONOVERFLOW))\r\n")));
}

TEST(ImapParser, WaitsForTheRestAndHoldsNothingAfterAWholeResponse) {
    ImapParser parser;
    ImapResponse r;
    EXPECT_FALSE(parser.holds_bytes());
    parser.feed("a1 OK begin TLS now\r");
    EXPECT_EQ(parser.next(r), Result::more);
    EXPECT_TRUE(parser.holds_bytes());
    parser.feed("\n");
    EXPECT_EQ(parser.next(r), Result::response);
    EXPECT_FALSE(parser.holds_bytes());
    // Bytes a server slipped in after its answer to STARTTLS stay visible to the caller.
    parser.feed("a1 OK begin TLS now\r\n* OK injected\r\n");
    EXPECT_EQ(parser.next(r), Result::response);
    EXPECT_TRUE(parser.holds_bytes());
    // A literal announced but not yet come: the response is not whole.
    parser.feed("* 1 FETCH (BODY[HEADER] {10}\r\nabc");
    EXPECT_EQ(parser.next(r), Result::response); // the injected line
    EXPECT_EQ(parser.next(r), Result::more);
    EXPECT_TRUE(parser.holds_bytes());
}

// What a broken or hostile server sends must not make the parser hold more than its bounds.
TEST(ImapParser, EndlessLinesAndLiteralsStayBounded) {
    // A literal far beyond the limit: its first bytes are kept, the rest is read and dropped.
    std::string big(5000, 'x');
    Parsed p = parse_in_pieces("* 1 FETCH (BODY[HEADER] {5000}\r\n" + big + ")\r\n", 512, 100);
    ASSERT_EQ(p.responses.size(), 1u);
    const ImapValue* block = fetch_item(p.responses[0], "BODY[HEADER]");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->text.size(), 100u);
    EXPECT_TRUE(block->cut);

    // A literal that announces more than any server has: still reading, nothing kept beyond the limit.
    ImapParser endless(100);
    ImapResponse r;
    endless.feed("* 1 FETCH (BODY[HEADER] {9999999999999999999}\r\n");
    for (int i = 0; i < 1000; ++i) {
        endless.feed(std::string(4096, 'y'));
        ASSERT_EQ(endless.next(r), Result::more);
    }
    // A count of more than 19 digits is no literal: the line goes on as text.
    EXPECT_EQ(parse_in_pieces("* OK {99999999999999999999}\r\n", 64).responses.size(), 1u);

    // A line without end fails once it passes the line limit, and stays failed.
    ImapParser line;
    Result last = Result::more;
    for (std::size_t fed = 0; fed <= kImapMaxLine + 4096 && last == Result::more; fed += 4096) {
        line.feed(std::string(4096, 'z'));
        last = line.next(r);
    }
    EXPECT_EQ(last, Result::failed);
    line.feed("a1 OK\r\n");
    EXPECT_EQ(line.next(r), Result::failed);

    // Literal after literal in one response: bounded in number.
    std::string many = "* 1 FETCH (";
    for (std::size_t i = 0; i <= kImapMaxLiterals; ++i) {
        many += "X {1}\r\na ";
    }
    EXPECT_EQ(parse_in_pieces(many + ")\r\n", 100).last, Result::failed);
}

} // namespace
