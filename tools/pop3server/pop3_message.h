// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Mail messages for the POP3 server's maildrops.

// A message from the given From: text (a bare address or a display name with the address in angle brackets),
// to the given recipient, with a subject and twelve body lines; CR LF line ends.
std::string make_message(const std::string& from, const std::string& to, const std::string& subject);

// The text with every line ending in CR LF (a lone LF becomes CR LF).
std::string with_crlf(std::string_view text);

// What TOP n lines sends before the terminating ".": the headers, the blank line and the first lines of the body,
// dot-stuffed (RFC 1939).
std::string top_of(std::string_view message, int lines);

// A unique id (RFC 1939 UIDL) for each message: 16 hex digits from its bytes, with ".2", ".3", ... for further
// copies of the same bytes, so that a message keeps its id while others come and go.
std::vector<std::string> unique_ids(const std::vector<std::string>& messages);

// The files of a directory, sorted by name, each read as one message.
std::vector<std::string> read_maildir(const std::string& dir);

// C escapes in a command-line text: \r \n \t \\ \0 and \xHH give their bytes.
std::string unescape(std::string_view text);
