// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reading an IMAP server's responses (RFC 3501 section 7; RFC 9051). Plain C++ without I/O: the mail code feeds it
// the bytes it received, in pieces of any size, and takes whole responses out. It never blocks and keeps a bounded
// amount of memory whatever the server sends: a line longer than kImapMaxLine is a protocol failure, and a literal
// keeps at most its first literal_limit bytes while the rest is read and dropped.

// One value of a data response: an atom (NIL, numbers, flags such as \Seen and section names such as
// BODY[HEADER] are atoms too), a quoted string, a literal or a parenthesised list.
struct ImapValue {
    enum class Kind { atom, quoted, literal, list };
    Kind kind = Kind::atom;
    std::string text;             // atom as sent; quoted string without its escapes; literal bytes (perhaps cut)
    std::vector<ImapValue> items; // list members
    bool cut = false;             // literal longer than the parser keeps: text holds its first bytes

    bool is_string() const { return kind == Kind::quoted || kind == Kind::literal; }
    // The atom as a number (a message sequence number, a count), or -1 when it is not one.
    std::int64_t number() const;
};

struct ImapResponse {
    enum class Kind {
        tagged,       // "tag OK/NO/BAD text"
        untagged,     // "* ..." status (OK, NO, BAD, BYE, PREAUTH) or data (CAPABILITY, SEARCH, n EXISTS, ...)
        continuation, // "+ text": the server waits for more of the command
    };
    Kind kind = Kind::untagged;
    std::string tag;          // tagged only
    std::int64_t number = -1; // "* n EXISTS", "* n FETCH (...)": n; -1 when the response has none
    std::string keyword;      // upper case: OK, NO, BAD, BYE, PREAUTH, CAPABILITY, SEARCH, EXISTS, FETCH, ...
    std::string code; // status responses: the response code inside [ ] ("READ-ONLY", "CAPABILITY IMAP4rev1 ...")
    std::string text; // status responses and continuations: the human-readable text after the code
    std::vector<ImapValue> data; // data responses: the values after the keyword
    bool malformed = false;      // the line did not follow the grammar; what could be read is kept

    bool is_status() const;
};

// Longest response line the parser holds, literals not counted: a SEARCH result of every message of a very large
// mailbox (half a million numbers of six digits) still fits.
inline constexpr std::size_t kImapMaxLine = 4 * 1024 * 1024;
// Most literals one response may carry.
inline constexpr std::size_t kImapMaxLiterals = 64;

class ImapParser {
public:
    enum class Result {
        response, // a whole response was taken out
        more,     // the bytes so far end inside a response: feed more
        failed,   // the server broke the protocol beyond repair (line too long, too many literals); stays failed
    };

    // literal_limit: bytes kept of each literal; a header block beyond it is cut there.
    explicit ImapParser(std::size_t literal_limit = 64 * 1024) : literal_limit_(literal_limit) {}

    void feed(std::string_view bytes);
    // Takes the next whole response out of the bytes fed so far.
    Result next(ImapResponse& response);

    // Whether bytes were fed that are not part of a response next() has given. After the answer to STARTTLS there
    // must be none: anything there came in clear before TLS and must not be taken as the server's (RFC 3501 6.2.1).
    bool holds_bytes() const { return started_ || consumed_ < input_.size(); }
    bool failed() const { return failed_; }
    // Bytes of the literal being read that have not come yet (0 outside a literal): the reader can take exactly
    // those, and then the rest of the line.
    std::uint64_t literal_left() const { return in_literal_ ? literal_left_ : 0; }

private:
    bool take_line_byte(char byte);
    bool end_of_line();
    void reset_response();

    std::size_t literal_limit_;
    std::string input_; // fed bytes, from consumed_ on not yet looked at
    std::size_t consumed_ = 0;
    std::vector<std::string> texts_; // the line's text around its literals: texts_.size() == literals_.size() + 1
    std::vector<ImapValue> literals_;
    std::size_t line_size_ = 0;      // text bytes of the current response so far
    std::uint64_t literal_left_ = 0; // bytes of the current literal still to come
    bool in_literal_ = false;
    bool started_ = false; // some byte of the current response has been taken
    bool failed_ = false;
};

// Reads one whole response line as the server sent it, CR LF and literals included (the table tests and the
// scripted server use it). Result as ImapParser::next on a parser fed exactly these bytes.
ImapParser::Result parse_imap_response(std::string_view bytes, ImapResponse& response);

// Whether a line's text (without its line end) ends by announcing a literal, "{123}" or "{123+}" as in RFC 7888:
// size is then its byte count and at where the announcement begins.
bool imap_literal_marker(std::string_view text, std::uint64_t& size, std::size_t& at);

// The message numbers of a SEARCH response ("* SEARCH 2 5 9"); numbers that are not positive are left out.
std::vector<std::uint32_t> search_numbers(const ImapResponse& response);

// The COUNT of an ESEARCH response (RFC 4731) to the command tagged tag: "* ESEARCH (TAG "k5") COUNT 3". False for
// any other response, one for another command, or one without a count.
bool esearch_count(const ImapResponse& response, std::string_view tag, std::uint32_t& count);

// The capability names of a CAPABILITY response, or of a status response whose code is [CAPABILITY ...], in
// upper case; empty for any other response.
std::vector<std::string> capability_names(const ImapResponse& response);

// The value after the item named name (compared without case) in a FETCH response's list: a string for
// "BODY[HEADER]", an atom for "UID" (a number is an atom in IMAP); nullptr when the response has no such item, or
// its value is NIL or a list.
const ImapValue* fetch_item(const ImapResponse& response, std::string_view name);

// The UID a FETCH response names (UID FETCH always does, RFC 3501 6.4.8), or 0 when it names none in 1 to 2^32-1.
std::uint32_t fetch_uid(const ImapResponse& response);

// One mailbox of a LIST response (RFC 3501 7.2.2, RFC 5258): "* LIST (\HasNoChildren \Junk) "/" Junk".
struct ListedMailbox {
    std::string name;                    // as sent: modified UTF-7, or UTF-8 once UTF8=ACCEPT is enabled
    std::string delimiter;               // the hierarchy delimiter; empty for NIL
    std::vector<std::string> attributes; // as sent, backslash included
    // Whether the mailbox carries the attribute (compared without case, "\Junk").
    bool has(std::string_view attribute) const;
};
bool list_mailbox(const ImapResponse& response, ListedMailbox& mailbox);

// A STATUS response (RFC 3501 7.2.4), as the STATUS command, LIST-STATUS (RFC 5819) and NOTIFY (RFC 5465) bring
// it: "* STATUS Work (MESSAGES 3 UIDNEXT 4 UNSEEN 3 HIGHESTMODSEQ 6)". An item the server left out is -1 (0 for
// HIGHESTMODSEQ, which is never 0 where CONDSTORE is, RFC 7162 3.1.2).
struct MailboxStatus {
    std::string name; // as sent
    std::int64_t messages = -1;
    std::int64_t unseen = -1;
    std::int64_t uidnext = -1;
    std::int64_t uidvalidity = -1;
    std::uint64_t highestmodseq = 0;
};
bool mailbox_status(const ImapResponse& response, MailboxStatus& status);

// Whether the response says the server gave up telling the changes one by one ("* OK [NOTIFICATIONOVERFLOW]",
// RFC 5465 5.8): every watched mailbox may have changed.
bool notification_overflow(const ImapResponse& response);
