// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile_text.h"

#include <vector>

namespace {

struct Line {
    std::string_view body; // without the line end
    std::size_t begin;     // offset of the line in the text
    std::size_t end;       // offset just past the line end
};

std::vector<Line> split_lines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::size_t stop = nl == std::string_view::npos ? text.size() : nl;
        std::size_t body_end = stop;
        if (body_end > pos && text[body_end - 1] == '\r') {
            --body_end;
        }
        std::size_t next = nl == std::string_view::npos ? text.size() : nl + 1;
        lines.push_back({text.substr(pos, body_end - pos), pos, next});
        pos = next;
    }
    return lines;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && is_blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The name of a section header line, or nothing when the line is not one.
std::optional<std::string_view> header_name(std::string_view body) {
    std::string_view t = trim(body);
    if (t.size() < 2 || t.front() != '[') {
        return std::nullopt;
    }
    std::size_t close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return trim(t.substr(1, close - 1));
}

// The key of an entry line, or nothing for comments, blank lines and lines without an equals sign.
std::optional<std::string_view> entry_key(std::string_view body) {
    std::string_view t = trim(body);
    if (t.empty() || t.front() == ';' || t.front() == '#') {
        return std::nullopt;
    }
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return trim(t.substr(0, eq));
}

std::string_view entry_value(std::string_view body) {
    std::string_view v = trim(body.substr(body.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

// Where the section's lines are: the header's index and one past its last line, or nothing.
struct SectionSpan {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionSpan> find_section(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = header_name(lines[i].body);
        if (!name || !same_name(*name, section)) {
            continue;
        }
        std::size_t j = i + 1;
        while (j < lines.size() && !header_name(lines[j].body)) {
            ++j;
        }
        return SectionSpan{i, j};
    }
    return std::nullopt;
}

std::optional<std::size_t> find_key(const std::vector<Line>& lines, SectionSpan span, std::string_view key) {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        auto k = entry_key(lines[i].body);
        if (k && same_name(*k, key)) {
            return i;
        }
    }
    return std::nullopt;
}

// Ends the last line of out when the text stopped in the middle of one. A text that stops after a CR has its
// line end half written: the LF completes it, where a CR LF would leave the CR in that line's value.
void finish_line(std::string& out) {
    if (out.empty() || out.back() == '\n') {
        return;
    }
    out += out.back() == '\r' ? "\n" : "\r\n";
}

// A value that the reading would change (blanks at its ends, which are trimmed, or a pair of quotes around it,
// which are taken off) goes into quotes of its own, so that it reads back as written: a list of quoted IMAP
// folder names, a scrambled password that happens to begin and end with a quote.
std::string entry_line(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    const bool blank_ends = !value.empty() && (is_blank(value.front()) || is_blank(value.back()));
    const bool quoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (blank_ends || quoted) {
        const char quote = quoted ? value.front() : '"';
        line.append(1, quote).append(value).append(1, quote);
    } else {
        line += value;
    }
    line += "\r\n";
    return line;
}

} // namespace

std::optional<std::string> profile_find(std::string_view text, std::string_view section, std::string_view key) {
    auto lines = split_lines(text);
    auto span = find_section(lines, trim(section));
    if (!span) {
        return std::nullopt;
    }
    auto at = find_key(lines, *span, trim(key));
    if (!at) {
        return std::nullopt;
    }
    return std::string(entry_value(lines[*at].body));
}

std::string profile_update(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value) {
    section = trim(section);
    key = trim(key);
    auto lines = split_lines(text);
    auto span = find_section(lines, section);
    std::string out;
    if (!span) {
        out = text;
        finish_line(out);
        out += "[";
        out += section;
        out += "]\r\n";
        out += entry_line(key, value);
        return out;
    }
    if (auto at = find_key(lines, *span, key)) {
        out = text.substr(0, lines[*at].begin);
        out += entry_line(key, value);
        out += text.substr(lines[*at].end);
        return out;
    }
    // Append after the last entry of the section, so blank lines and comments before the next section stay there.
    std::size_t after = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        if (entry_key(lines[i].body)) {
            after = i;
        }
    }
    std::size_t cut = lines[after].end;
    out = text.substr(0, cut);
    finish_line(out);
    out += entry_line(key, value);
    out += text.substr(cut);
    return out;
}
