// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/imap/imap_parser.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Which folders of an IMAP account are watched, from its keys Folder and Folders, and which of a server's folders
// "every folder" takes. Plain C++, tested by tables.

struct FolderChoice {
    enum class Kind {
        one,   // Folders empty: Folder alone, INBOX when that is empty too
        list,  // the folders Folders names
        every, // "*": every folder the server lists but those that repeat others or hold no new mail
    };
    Kind kind = Kind::one;
    std::vector<std::string> names; // one and list: the names in UTF-8, in the order given, each once
};

// The choice the keys hold. Folders is "" (Folder alone), "*", or names as IMAP quoted strings separated by one
// space: "INBOX" "Work" "Lists/Rust", a backslash before a quote or backslash inside. False for any other text
// (a hand-edited key): the caller then watches Folder alone, as an empty Folders does, and says so.
bool folder_choice(std::string_view folders, std::string_view folder, FolderChoice& choice);

// The Folders text of a list of names (UTF-8), as folder_choice reads it back.
std::string folders_text(const std::vector<std::string>& names);

// Whether a name is INBOX, whose name is the same in any case (RFC 3501 5.1).
bool is_inbox(std::string_view name);

// The folders in the order push takes them up: INBOX first, then the others as given.
std::vector<std::string> watch_order(std::vector<std::string> names);

// One folder of the server's LIST, as "every folder" looks at it.
struct ServerFolder {
    std::string name;      // UTF-8 (decoded from modified UTF-7 where the server sent that)
    std::string delimiter; // the hierarchy delimiter; empty for none
    std::vector<std::string> attributes;
};

// Whether "every folder" takes a folder: not one that cannot be opened (\Noselect, \NonExistent), not one whose
// SPECIAL-USE (RFC 6154, RFC 8457) says it holds no new mail (\Junk, \Trash, \Sent, \Drafts) or repeats others
// (\All, \Flagged, \Important); and where the server flags none of its folders so (without SPECIAL-USE), not one
// whose last name holds such a folder's usual name in English or Chinese. flags_known: some folder of the listing
// carries a SPECIAL-USE attribute.
bool every_folder_takes(const ServerFolder& folder, bool flags_known);

// The folders "every folder" watches of a whole listing, INBOX first.
std::vector<std::string> every_folder(const std::vector<ServerFolder>& listing);

// How one watched folder learns of its changes.
enum class FolderWatch {
    notify,   // the one NOTIFY connection (RFC 5465) watches it
    idle,     // an IDLE connection of its own (RFC 2177)
    interval, // counted at each interval pass
};

// How many IDLE connections push opens for an account at most: with the user's own mail programs they stay well
// within the servers' per-user limits (Gmail 15, Dovecot 10 per user and address).
inline constexpr std::size_t kMaxIdleFolders = 3;

// How each of the folders (in watch order) is watched: all by NOTIFY where the server offers it, else IDLE on the
// first idle_links (at most kMaxIdleFolders) and the rest at the interval; all at the interval without IDLE.
std::vector<FolderWatch> folder_watches(std::size_t folders, bool notify, bool idle, std::size_t idle_links);
