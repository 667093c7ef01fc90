#pragma once

#include <string_view>

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
