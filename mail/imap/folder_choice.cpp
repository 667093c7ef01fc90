// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/folder_choice.h"

#include "mail/imap/imap_text.h"

#include <algorithm>
#include <cctype>

namespace {

bool same_ascii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// SPECIAL-USE attributes of folders that hold no new mail, or only mail that is in another folder as well.
constexpr std::string_view kSpecialUse[] = {"\\Junk", "\\Trash",   "\\Sent",     "\\Drafts",
                                            "\\All",  "\\Flagged", "\\Important"};
// Names that are no folder one can open: a level of the hierarchy only, or a name listed for its children.
constexpr std::string_view kUnselectable[] = {"\\Noselect", "\\NonExistent"};

// The usual names of those folders where the server does not flag them: the mail programs' English names and the
// Chinese ones of the big Chinese providers (QQ, 163, Sina, Aliyun). Compared with the last part of a folder's
// name, without case.
constexpr std::string_view kUsualNames[] = {
    "Junk",       "Junk E-mail",   "Junk Email",    "Junk Mail",        "Spam",   "Bulk Mail",
    "Trash",      "Deleted",       "Deleted Items", "Deleted Messages", "Bin",    "Sent",
    "Sent Items", "Sent Messages", "Sent Mail",     "Drafts",           "Draft",  "All Mail",
    "Starred",    "Flagged",       "Important",     "垃圾邮件",         "垃圾箱", "已删除",
    "已删除邮件", "已发送",        "已发送邮件",    "草稿箱",           "草稿",
};

template <std::size_t N> bool one_of(const std::string_view (&names)[N], std::string_view attribute) {
    return std::any_of(std::begin(names), std::end(names),
                       [attribute](std::string_view a) { return same_ascii(a, attribute); });
}

bool special_use(std::string_view attribute) {
    return one_of(kSpecialUse, attribute);
}

std::string_view last_part(const ServerFolder& folder) {
    std::string_view name = folder.name;
    if (!folder.delimiter.empty()) {
        const std::size_t at = name.rfind(folder.delimiter);
        if (at != std::string_view::npos) {
            name.remove_prefix(at + folder.delimiter.size());
        }
    }
    return name;
}

} // namespace

bool folder_choice(std::string_view folders, std::string_view folder, FolderChoice& choice) {
    choice = FolderChoice{};
    if (folders.empty()) {
        choice.names.emplace_back(folder.empty() ? "INBOX" : folder);
        return true;
    }
    if (folders == "*") {
        choice.kind = FolderChoice::Kind::every;
        return true;
    }
    choice.kind = FolderChoice::Kind::list;
    for (std::size_t pos = 0;;) {
        if (pos >= folders.size() || folders[pos] != '"') {
            break;
        }
        std::string name;
        std::size_t i = pos + 1;
        for (; i < folders.size() && folders[i] != '"'; ++i) {
            if (folders[i] == '\\' && ++i == folders.size()) {
                break;
            }
            name += folders[i];
        }
        if (i >= folders.size() || name.empty()) {
            break; // never closed, or an empty name, which no server has
        }
        if (std::find(choice.names.begin(), choice.names.end(), name) == choice.names.end()) {
            choice.names.push_back(std::move(name));
        }
        pos = i + 1;
        if (pos == folders.size()) {
            return true;
        }
        if (folders[pos] != ' ') {
            break;
        }
        ++pos;
    }
    choice = FolderChoice{};
    choice.names.emplace_back(folder.empty() ? "INBOX" : folder);
    return false;
}

std::string folders_text(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) {
            text += ' ';
        }
        imap_append_quoted(text, name);
    }
    return text;
}

bool is_inbox(std::string_view name) {
    return same_ascii(name, "INBOX");
}

std::vector<std::string> watch_order(std::vector<std::string> names) {
    std::stable_partition(names.begin(), names.end(), [](const std::string& n) { return is_inbox(n); });
    return names;
}

bool every_folder_takes(const ServerFolder& folder, bool flags_known) {
    for (const std::string& a : folder.attributes) {
        if (special_use(a) || one_of(kUnselectable, a)) {
            return false;
        }
    }
    if (flags_known || is_inbox(folder.name)) {
        return true;
    }
    const std::string_view last = last_part(folder);
    return !one_of(kUsualNames, last);
}

std::vector<std::string> every_folder(const std::vector<ServerFolder>& listing) {
    const bool flags_known = std::any_of(listing.begin(), listing.end(), [](const ServerFolder& f) {
        return std::any_of(f.attributes.begin(), f.attributes.end(), special_use);
    });
    std::vector<std::string> names;
    for (const ServerFolder& f : listing) {
        if (every_folder_takes(f, flags_known) && std::none_of(names.begin(), names.end(), [&f](const std::string& n) {
                return n == f.name || (is_inbox(n) && is_inbox(f.name));
            })) {
            names.push_back(is_inbox(f.name) ? "INBOX" : f.name);
        }
    }
    return watch_order(std::move(names));
}

std::vector<FolderWatch> folder_watches(std::size_t folders, bool notify, bool idle, std::size_t idle_links) {
    std::vector<FolderWatch> watches(folders, FolderWatch::interval);
    if (notify) {
        std::fill(watches.begin(), watches.end(), FolderWatch::notify);
        return watches;
    }
    if (idle) {
        std::fill_n(watches.begin(), std::min({folders, idle_links, kMaxIdleFolders}), FolderWatch::idle);
    }
    return watches;
}
