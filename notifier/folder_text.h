// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_ids.h"

#include <string>
#include <vector>

// How the tray and the notification name the folders of an IMAP account that watches several. Pure.

// The tray tip's line of the folders, each with its count: "INBOX 1，Work 2，Lists/Rust 0"; at most kTipFolders of
// them, then "……". Empty for an account of one folder (folders empty).
inline constexpr std::size_t kTipFolders = 8;
std::string folder_counts_text(const std::vector<FolderTally>& folders);

// A folder's name as a notification row or the tip shows it: no control characters, cut to a short length.
std::string folder_label(const std::string& name);
