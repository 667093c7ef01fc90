// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Reading the POP3 server's status lines. A line is the receive buffer as c_recv_socket left it: the bytes as
// received, line end included, then zeros.

// A positive status: the line begins with "+OK".
bool reply_ok(const char* line);

// The most messages a check takes on: a STAT reply with more is refused as malformed.
inline constexpr long long kStatCountMax = 10000000;

// The message count of a STAT reply ("+OK 5 20481" gives 5): the decimal number after the first space, or 0
// when there is none there. A larger number than kStatCountMax comes back as kStatCountMax + 1.
long long stat_message_count(const char* line);

// Bytes to take for the header block that follows a TOP status line of out-length out_length: the octet count
// after the first space plus 15, or 4096 when the line is shorter than 7 bytes with its line feed or when that sum
// is 15 or less or 4096 or more. POP3 servers may omit the octet count after +OK (RFC 1939).
int top_block_size(const char* line, int out_length);

inline constexpr int kTopBlockMax = 4096;

// The bytes of a TOP reply after its status line, taken piece by piece however they arrive (TCP segments, TLS
// records), up to its terminating line: a line that holds only "." (RFC 1939; a body line beginning with "." comes
// dot-stuffed as ".."). The first kTopKeepMax bytes are kept for the sender match, the rest only counted.
inline constexpr std::size_t kTopKeepMax = 64 * 1024;

struct TopReply {
    enum class At { line_start, mid_line, dot, dot_cr };
    At at = At::line_start;
    bool done = false;     // the terminating line has been taken
    std::string kept;      // the reply's first bytes, the terminating line included when it falls within them
    std::size_t total = 0; // bytes taken in all
};

// Takes the piece into the reply and returns how many of its bytes belong to it: all of them, or those up to the
// terminating line's end, after which done is set and nothing more is taken.
std::size_t top_reply_take(TopReply& reply, std::string_view piece);

// Whether a CAPA listing (RFC 2449: the lines after "+OK", up to its terminating line) names the capability: a line
// whose first word is it, in any case. A line cut off at the end of the listing counts as well.
bool capa_offers(std::string_view listing, std::string_view capability);

// The SASL mechanisms a CAPA listing names (RFC 2449, RFC 5034): the words after "SASL" on its SASL line, upper
// case; none when there is no such line.
std::vector<std::string> capa_sasl_mechanisms(std::string_view listing);

// Whether "AUTH mechanism initial-response" fits the 255 octets RFC 5034 4 allows a client's AUTH line, line end
// included; a longer response goes after the server's empty challenge instead.
bool auth_fits_one_line(std::size_t mechanism_length, std::size_t response_length);
