// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// The sender and subject of a message as a notification shows them, from its header block as a server sent it:
// pure, for any bytes. Header fields are unfolded (RFC 5322 2.2.3) and encoded words decoded (RFC 2047); the
// result is valid UTF-8 without control characters, cut to a length that fits a notification line.

// Decodes the encoded words "=?charset?B?...?=" and "=?charset?Q?...?=" of an unstructured header value; white
// space between two adjacent encoded words is dropped (RFC 2047 6.2). An encoded word that cannot be decoded
// (unknown charset, bad encoding) stays as it is. Bytes that are not valid UTF-8 outside encoded words are taken
// as Latin-1, as old mailers send them.
std::string decode_header_text(std::string_view value);

// The unfolded value of the first field of this name (case-insensitive) in the block; empty when there is none.
std::string header_field(std::string_view block, std::string_view name);

// Cuts UTF-8 text to at most max_chars characters, with "…" at the end when it was cut; control characters
// become spaces, and runs of white space one space.
std::string tidy_text(std::string_view text, std::size_t max_chars);

struct MessageSummary {
    std::string sender;  // the display name of From, else its address
    std::string subject; // "(无主题)" when the message has none
};

inline constexpr std::size_t kSenderChars = 40;
inline constexpr std::size_t kSubjectChars = 80;

MessageSummary summarize_headers(std::string_view block);
