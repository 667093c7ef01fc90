// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/pop3server/pop3_message.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

std::string make_message(const std::string& from, const std::string& to, const std::string& subject) {
    std::string m = "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject +
                    "\r\nDate: Mon, 7 Dec 2026 09:05:01 +0900\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: text/plain; charset=utf-8\r\n\r\n";
    for (int i = 1; i <= 12; ++i) {
        m += "Body line " + std::to_string(i) + ".\r\n";
    }
    return m;
}

std::string with_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            out += '\r';
        }
        out += text[i];
    }
    return out;
}

std::string top_of(std::string_view message, int lines) {
    std::string out;
    bool in_body = false;
    int body_lines = 0;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find("\r\n", start);
        std::size_t next = end == std::string_view::npos ? message.size() : end + 2;
        std::string_view line = message.substr(start, (end == std::string_view::npos ? message.size() : end) - start);
        if (in_body && body_lines++ >= lines) {
            break;
        }
        if (!line.empty() && line.front() == '.') {
            out += '.';
        }
        out.append(line);
        out += "\r\n";
        in_body = in_body || line.empty();
        start = next;
    }
    return out;
}

std::vector<std::string> unique_ids(const std::vector<std::string>& messages) {
    std::vector<std::string> ids;
    std::map<std::string, int> copies;
    for (const auto& m : messages) {
        std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
        for (unsigned char c : m) {
            hash = (hash ^ c) * 1099511628211ULL;
        }
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
        int copy = ++copies[hex];
        ids.push_back(copy == 1 ? hex : std::string(hex) + "." + std::to_string(copy));
    }
    return ids;
}

std::vector<std::string> read_maildir(const std::string& dir) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.is_regular_file(ec)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> messages;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        messages.push_back(with_crlf(text.str()));
    }
    return messages;
}

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        switch (c) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case 'x': {
            int value = 0;
            int used = 0;
            for (; used < 2 && i + 1 < text.size() && hex_value(text[i + 1]) >= 0; ++used, ++i) {
                value = value * 16 + hex_value(text[i + 1]);
            }
            if (used == 0) {
                out += "\\x";
            } else {
                out += static_cast<char>(value);
            }
            break;
        }
        default:
            out += c;
            break;
        }
    }
    return out;
}
