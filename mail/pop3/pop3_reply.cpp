// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/pop3_reply.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// The decimal number after the first space of the line, blanks allowed before it, clamped to limit. A sign or
// any other character there gives 0: a count or an octet count is never negative.
long long number_after_space(const char* line, long long limit) {
    const char* space = std::strchr(line, ' ');
    if (space == nullptr) {
        return 0;
    }
    const char* p = space;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit) {
            return limit;
        }
    }
    return value;
}

} // namespace

bool reply_ok(const char* line) {
    return std::strncmp(line, "+OK", 3) == 0;
}

long long stat_message_count(const char* line) {
    return number_after_space(line, kStatCountMax + 1);
}

int top_block_size(const char* line, int out_length) {
    if (out_length + 1 < 7) {
        return kTopBlockMax;
    }
    long long size = number_after_space(line, kTopBlockMax) + 15;
    return size <= 15 || size >= kTopBlockMax ? kTopBlockMax : static_cast<int>(size);
}

std::size_t top_reply_take(TopReply& reply, std::string_view piece) {
    using At = TopReply::At;
    std::size_t taken = 0;
    while (taken < piece.size() && !reply.done) {
        const char byte = piece[taken++];
        if (reply.at == At::line_start) {
            reply.at = byte == '.' ? At::dot : byte == '\n' ? At::line_start : At::mid_line;
        } else if (reply.at == At::mid_line) {
            reply.at = byte == '\n' ? At::line_start : At::mid_line;
        } else {
            // After the dot a CR may come first; a bare LF ends the reply as well, for servers that send no CR.
            reply.done = byte == '\n';
            reply.at = reply.at == At::dot && byte == '\r' ? At::dot_cr : At::mid_line;
        }
    }
    std::size_t keep = std::min(taken, kTopKeepMax - std::min(kTopKeepMax, reply.kept.size()));
    reply.kept.append(piece.substr(0, keep));
    reply.total += taken;
    return taken;
}

bool capa_offers(std::string_view listing, std::string_view capability) {
    while (!listing.empty()) {
        const std::size_t end = std::min(listing.find('\n'), listing.size());
        std::string_view line = listing.substr(0, end);
        listing.remove_prefix(std::min(end + 1, listing.size()));
        const std::size_t word_end = std::min(line.find_first_of(" \t\r"), line.size());
        const std::string_view word = line.substr(0, word_end);
        if (word.size() == capability.size() &&
            std::equal(word.begin(), word.end(), capability.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
            })) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> capa_sasl_mechanisms(std::string_view listing) {
    std::vector<std::string> names;
    while (!listing.empty()) {
        const std::size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing = end == std::string_view::npos ? std::string_view() : listing.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        std::vector<std::string> words;
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t start = line.find_first_not_of(' ', at);
            if (start == std::string_view::npos) {
                break;
            }
            const std::size_t stop = std::min(line.find(' ', start), line.size());
            std::string word(line.substr(start, stop - start));
            for (char& ch : word) {
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            }
            words.push_back(std::move(word));
            at = stop;
        }
        if (!words.empty() && words.front() == "SASL") {
            names.assign(words.begin() + 1, words.end());
            return names;
        }
    }
    return names;
}

bool auth_fits_one_line(std::size_t mechanism_length, std::size_t response_length) {
    return 5 + mechanism_length + 1 + response_length + 2 <= 255;
}
