// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/announced_memory.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

constexpr std::string_view kHeader = "kd5lite announced 1";

// An id the memory can hold: RFC 1939's unique-id, 1 to 70 visible ASCII characters, so that a blank separates
// two of them in the file.
bool usable_id(std::string_view id) {
    return !id.empty() && id.size() <= kAckIdMax &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

bool by_id_possible(const CheckIds& ids) {
    return ids.known && ids.messages.size() <= kAckIdsMax &&
           std::all_of(ids.messages.begin(), ids.messages.end(),
                       [](const CountedMessage& m) { return usable_id(m.id); });
}

bool single_line(std::string_view value) {
    return value.find_first_of("\r\n") == std::string_view::npos;
}

long long remembered_count(const AnnouncedMemory& m) {
    return m.by_id ? static_cast<long long>(m.ids.size()) : m.count;
}

} // namespace

bool was_announced(const AnnouncedMemory& memory, const AccountIdentity& identity, std::string_view validity,
                   std::string_view id) {
    return memory.by_id && memory.identity == identity && memory.validity == validity &&
           memory.ids.contains(std::string(id));
}

FreshMail take_check(AnnouncedMemory& memory, const AccountIdentity& identity, long long count, const CheckIds& ids,
                     bool* changed) {
    FreshMail fresh;
    AnnouncedMemory next;
    next.identity = identity;
    const bool same_mailbox = memory.identity == identity;
    if (by_id_possible(ids)) {
        next.by_id = true;
        next.validity = ids.validity;
        std::vector<std::string> unknown; // in the check's order: oldest first
        for (const CountedMessage& m : ids.messages) {
            next.ids.insert(m.id);
            if (!was_announced(memory, identity, ids.validity, m.id)) {
                unknown.push_back(m.id);
            }
        }
        fresh.by_id = true;
        if (same_mailbox && !memory.by_id) {
            // Counted until now: only the rise is news, and the newest messages are the ones that rose.
            const long long rise = std::max(0LL, static_cast<long long>(next.ids.size()) - memory.count);
            const auto keep = std::min<long long>(rise, static_cast<long long>(unknown.size()));
            unknown.erase(unknown.begin(), unknown.end() - static_cast<std::ptrdiff_t>(keep));
        }
        fresh.ids.insert(unknown.begin(), unknown.end());
        fresh.count = static_cast<long long>(fresh.ids.size());
    } else {
        next.count = std::max(0LL, count);
        fresh.count = same_mailbox ? std::max(0LL, next.count - remembered_count(memory)) : next.count;
    }
    if (changed != nullptr) {
        *changed = !(next == memory);
    }
    memory = std::move(next);
    return fresh;
}

std::string announced_file_text(const AnnouncedMemory (&accounts)[3]) {
    std::string text = std::string(kHeader) + "\n";
    for (int i = 0; i < 3; ++i) {
        const AnnouncedMemory& m = accounts[i];
        if (m == AnnouncedMemory{} || !single_line(m.identity.server) || !single_line(m.identity.user) || !single_line(m.identity.folder) ||
            !single_line(m.validity) || m.ids.size() > kAckIdsMax ||
            !std::all_of(m.ids.begin(), m.ids.end(), usable_id)) {
            continue; // nothing to keep, or another check fills it again
        }
        text += "account " + std::to_string(i) + (m.by_id ? " ids\n" : " count\n");
        text += "server " + m.identity.server + "\n";
        text += "user " + m.identity.user + "\n";
        text += "folder " + m.identity.folder + "\n";
        text += "validity " + m.validity + "\n";
        text += "count " + std::to_string(m.count) + "\n";
        text += "ids";
        for (const std::string& id : m.ids) {
            text += " " + id;
        }
        text += "\nend\n";
    }
    return text;
}

namespace {

// One line without its LF; false at the end. A last line without its LF was cut short by a crash: no line.
bool next_line(std::string_view text, std::size_t& pos, std::string_view& line) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
        return false;
    }
    line = text.substr(pos, end - pos);
    pos = end + 1;
    return true;
}

// "name value", or "name" alone for an empty value.
bool field(std::string_view line, std::string_view name, std::string_view& value) {
    if (line == name) {
        value = {};
        return true;
    }
    if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ' ') {
        return false;
    }
    value = line.substr(name.size() + 1);
    return single_line(value);
}

bool parse_ids(std::string_view value, std::set<std::string>& ids) {
    while (!value.empty()) {
        const std::size_t blank = value.find(' ');
        const std::string_view id = value.substr(0, blank);
        if (!usable_id(id) || ids.size() >= kAckIdsMax || !ids.insert(std::string(id)).second) {
            return false;
        }
        value = blank == std::string_view::npos ? std::string_view() : value.substr(blank + 1);
    }
    return true;
}

bool parse_account(std::string_view text, std::size_t& pos, AnnouncedMemory (&accounts)[3], bool (&seen)[3]) {
    std::string_view line;
    if (!next_line(text, pos, line) || line.size() < 10 || !line.starts_with("account ")) {
        return false;
    }
    const int index = line[8] - '0';
    const std::string_view kind = line.substr(9);
    if (index < 0 || index > 2 || seen[index] || (kind != " ids" && kind != " count")) {
        return false;
    }
    AnnouncedMemory m;
    m.by_id = kind == " ids";
    std::string_view server, user, folder, validity, count, ids;
    for (auto [name, out] : {std::pair<std::string_view, std::string_view*>{"server", &server},
                             {"user", &user},
                             {"folder", &folder},
                             {"validity", &validity},
                             {"count", &count},
                             {"ids", &ids}}) {
        if (!next_line(text, pos, line) || !field(line, name, *out)) {
            return false;
        }
    }
    m.identity = {std::string(server), std::string(user), std::string(folder)};
    m.validity = std::string(validity);
    auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), m.count);
    if (error != std::errc() || end != count.data() + count.size() || m.count < 0 || !parse_ids(ids, m.ids) ||
        (!m.by_id && !m.ids.empty()) || !next_line(text, pos, line) || line != "end") {
        return false;
    }
    accounts[index] = std::move(m);
    seen[index] = true;
    return true;
}

} // namespace

void announced_file_parse(std::string_view text, AnnouncedMemory (&accounts)[3]) {
    for (AnnouncedMemory& m : accounts) {
        m = AnnouncedMemory{};
    }
    std::size_t pos = 0;
    std::string_view line;
    bool seen[3] = {false, false, false};
    bool ok = next_line(text, pos, line) && line == kHeader;
    while (ok && pos < text.size()) {
        ok = parse_account(text, pos, accounts, seen);
    }
    if (!ok) {
        for (AnnouncedMemory& m : accounts) {
            m = AnnouncedMemory{};
        }
    }
}
