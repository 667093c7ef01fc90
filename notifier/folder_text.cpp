// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/folder_text.h"

#include "mail/core/header_text.h"

namespace {

constexpr std::size_t kFolderChars = 30;

} // namespace

std::string folder_label(const std::string& name) {
    return tidy_text(name, kFolderChars);
}

std::string folder_counts_text(const std::vector<FolderTally>& folders) {
    std::string text;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (i == kTipFolders) {
            text += "，……";
            break;
        }
        text.append(i == 0 ? "" : "，").append(folder_label(folders[i].name)).append(" ");
        text += std::to_string(folders[i].count);
    }
    return text;
}
