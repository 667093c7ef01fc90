// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/acknowledge_memory.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::string_view kHeader = "kd5lite acknowledged 1";

bool valid_id(std::string_view id) {
    return !id.empty() && id.size() <= kAckIdMax &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

// Settings values are single lines; a line break would end the value in the file.
bool valid_value(std::string_view value) {
    return value.find_first_of("\r\n") == std::string_view::npos;
}

bool parse_number(std::string_view text, long long& out) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && out >= 0;
}

void forget(AckMemory& memory, bool* changed) {
    if (memory.kind != AckMemory::Kind::none) {
        memory = AckMemory{};
        *changed = true;
    }
}

} // namespace

long long count_after_ack(AckMemory& memory, const AccountIdentity& identity, long long count, const CheckIds& ids,
                          bool* changed) {
    bool ignored = false;
    changed = changed != nullptr ? changed : &ignored;
    if (memory.kind == AckMemory::Kind::none) {
        return count;
    }
    if (!(memory.identity == identity) || (ids.known && memory.kind == AckMemory::Kind::ids &&
                                            memory.validity != ids.validity)) {
        forget(memory, changed); // another mailbox, or the folder was rebuilt: its UIDs are other messages now
        return count;
    }
    if (memory.kind == AckMemory::Kind::ids && ids.known) {
        long long left = 0;
        std::set<std::string> still;
        for (const CountedMessage& m : ids.messages) {
            if (memory.ids.contains(m.id)) {
                still.insert(m.id);
            } else {
                left += std::max(0, m.weight);
            }
        }
        if (still.size() != memory.ids.size()) {
            memory.ids = std::move(still);
            *changed = true;
        }
        if (memory.ids.empty()) {
            forget(memory, changed);
        }
        return left;
    }
    // By count: a server without UIDL, or a check that could not name its messages this time.
    if (memory.kind == AckMemory::Kind::count && count < memory.count) {
        memory.count = count; // fewer than then: mail was taken away, and what comes later counts from here
        *changed = true;
        if (memory.count == 0) {
            forget(memory, changed);
        }
    }
    long long acknowledged = memory.kind == AckMemory::Kind::count ? memory.count
                                                                    : static_cast<long long>(memory.ids.size());
    return std::max(0LL, count - acknowledged);
}

void acknowledge(AckMemory& memory, const AccountIdentity& identity, long long count, const CheckIds& ids) {
    memory = AckMemory{};
    if (count <= 0) {
        return;
    }
    memory.identity = identity;
    bool by_id = ids.known && ids.messages.size() <= kAckIdsMax &&
                 std::all_of(ids.messages.begin(), ids.messages.end(),
                             [](const CountedMessage& m) { return valid_id(m.id); });
    if (by_id) {
        memory.kind = AckMemory::Kind::ids;
        memory.validity = ids.validity;
        for (const CountedMessage& m : ids.messages) {
            memory.ids.insert(m.id);
        }
        if (memory.ids.empty()) {
            memory = AckMemory{};
        }
        return;
    }
    memory.kind = AckMemory::Kind::count;
    memory.count = count;
}

std::string ack_file_text(const AckMemory (&accounts)[3]) {
    std::string text = std::string(kHeader) + "\n";
    for (int i = 0; i < 3; ++i) {
        const AckMemory& m = accounts[i];
        if (m.kind == AckMemory::Kind::none || !valid_value(m.identity.server) || !valid_value(m.identity.user) ||
            !valid_value(m.identity.folder) || !valid_value(m.validity)) {
            continue;
        }
        text += "account " + std::to_string(i) + (m.kind == AckMemory::Kind::ids ? " ids\n" : " count\n");
        text += "server " + m.identity.server + "\n";
        text += "user " + m.identity.user + "\n";
        text += "folder " + m.identity.folder + "\n";
        text += "validity " + m.validity + "\n";
        text += "count " + std::to_string(m.count) + "\n";
        for (const std::string& id : m.ids) {
            text += "id " + id + "\n";
        }
        text += "end\n";
    }
    return text;
}

namespace {

// Reads one line from text at pos into line (without its LF); false at the end. A line without its LF is no line:
// a file cut short by a crash is refused rather than read half.
bool next_line(std::string_view text, std::size_t& pos, std::string_view& line) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
        return false;
    }
    line = text.substr(pos, end - pos);
    pos = end + 1;
    return true;
}

bool take_field(std::string_view line, std::string_view name, std::string& out) {
    if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ' ') {
        if (line == name) { // an empty value has no blank after the name either
            out.clear();
            return true;
        }
        return false;
    }
    out = std::string(line.substr(name.size() + 1));
    return valid_value(out);
}

bool parse_accounts(std::string_view text, AckMemory (&accounts)[3]) {
    std::size_t pos = 0;
    std::string_view line;
    if (!next_line(text, pos, line) || line != kHeader) {
        return false;
    }
    while (pos < text.size()) {
        if (!next_line(text, pos, line) || !line.starts_with("account ") || line.size() < 10) {
            return false;
        }
        int index = line[8] - '0';
        std::string_view kind = line.substr(9);
        if (index < 0 || index > 2 || accounts[index].kind != AckMemory::Kind::none ||
            (kind != " ids" && kind != " count")) {
            return false;
        }
        AckMemory m;
        m.kind = kind == " ids" ? AckMemory::Kind::ids : AckMemory::Kind::count;
        std::string number;
        for (auto [name, out] : {std::pair<std::string_view, std::string*>{"server", &m.identity.server},
                                 {"user", &m.identity.user},
                                 {"folder", &m.identity.folder},
                                 {"validity", &m.validity},
                                 {"count", &number}}) {
            if (!next_line(text, pos, line) || !take_field(line, name, *out)) {
                return false;
            }
        }
        if (!parse_number(number, m.count)) {
            return false;
        }
        while (next_line(text, pos, line) && line != "end") {
            std::string id;
            if (!take_field(line, "id", id) || !valid_id(id) || m.ids.size() >= kAckIdsMax) {
                return false;
            }
            m.ids.insert(std::move(id));
        }
        if (line != "end" || (m.kind == AckMemory::Kind::ids) == m.ids.empty()) {
            return false;
        }
        accounts[index] = std::move(m);
    }
    return true;
}

} // namespace

void ack_file_parse(std::string_view text, AckMemory (&accounts)[3]) {
    for (AckMemory& m : accounts) {
        m = AckMemory{};
    }
    if (!parse_accounts(text, accounts)) {
        for (AckMemory& m : accounts) {
            m = AckMemory{};
        }
    }
}
