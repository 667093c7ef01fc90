// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Texts the IMAP check puts into its commands. Plain C++, tested by tables.

// A mailbox name (UTF-8, as the Folder setting holds it) in modified UTF-7 (RFC 3501 5.1.3): printable ASCII stands
// for itself except "&", which becomes "&-"; every other run of characters is UTF-16 in base64 with "," for "/",
// between "&" and "-". False when the name is not valid UTF-8.
bool mailbox_utf7(std::string_view utf8, std::string& out);

// The other way: a mailbox name as a server lists it in modified UTF-7, in UTF-8 for the screen and the settings.
// False, out empty, when the name is not sound modified UTF-7 (a shifted run that is not UTF-16 in base64, a lone
// surrogate, printable ASCII shifted, a run never closed): the caller shows such a name as the server sent it.
bool mailbox_from_utf7(std::string_view utf7, std::string& out);

// How a string argument goes to the server (RFC 3501 4.3): quoted when it can, else as a literal. A literal
// carries any byte but NUL and CR LF; one that holds NUL cannot be sent at all.
enum class ImapArgument { quoted, literal, impossible };
ImapArgument imap_argument_form(std::string_view text);

// Appends the text as a quoted string: between double quotes, with a backslash before each quote and backslash.
// Appends in place, so that a password leaves no copy in a temporary string.
void imap_append_quoted(std::string& out, std::string_view text);
