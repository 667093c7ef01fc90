// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/uidl_listing.h"

#include <algorithm>

namespace {

// The longest listing line taken, line end excluded: a message number, a space and the longest id, with room for
// leading zeros and blanks.
constexpr std::size_t kLineMax = 96;

bool printable_id(std::string_view id) {
    return !id.empty() && id.size() <= kUidMax &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

// The message number at the start of line, or 0 when there is none; clamped above 10 digits.
long long leading_number(std::string_view& line) {
    long long n = 0;
    std::size_t i = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        n = n < 10000000000LL ? n * 10 + (line[i] - '0') : n;
    }
    line.remove_prefix(i);
    return n;
}

} // namespace

void UidList::add(std::string_view id) {
    entries_.push_back({static_cast<std::uint32_t>(ids_.size()), static_cast<std::uint8_t>(id.size()), kHitsUnknown});
    ids_.append(id);
}

bool UidList::index() {
    ids_.shrink_to_fit(); // the list is complete: what is kept is its bytes, not its growth
    entries_.shrink_to_fit();
    by_id_.resize(entries_.size());
    for (std::uint32_t i = 0; i < by_id_.size(); ++i) {
        by_id_[i] = i;
    }
    std::sort(by_id_.begin(), by_id_.end(), [this](std::uint32_t a, std::uint32_t b) { return id(a) < id(b); });
    return std::adjacent_find(by_id_.begin(), by_id_.end(),
                              [this](std::uint32_t a, std::uint32_t b) { return id(a) == id(b); }) == by_id_.end();
}

std::uint8_t UidList::find(std::string_view wanted) const {
    auto at = std::lower_bound(by_id_.begin(), by_id_.end(), wanted,
                               [this](std::uint32_t entry, std::string_view w) { return id(entry) < w; });
    return at != by_id_.end() && id(*at) == wanted ? hits(*at) : kHitsUnknown;
}

void UidList::learn_from(const UidList& known) {
    for (std::size_t i = 0; i < size(); ++i) {
        if (hits(i) == kHitsUnknown) {
            set_hits(i, known.find(id(i)));
        }
    }
}

std::size_t UidList::bytes() const {
    return ids_.capacity() + entries_.capacity() * sizeof(Entry) + by_id_.capacity() * sizeof(std::uint32_t);
}

UidlParser::UidlParser(long long count) : count_(count < 0 ? 0 : count) {
    byte_limit_ = (count_ + 1) * static_cast<long long>(kLineMax + 2);
}

UidlParser::State UidlParser::feed(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size() && state_ == State::reading; ++i) {
        if (++bytes_ > byte_limit_) {
            state_ = State::unusable; // more than count lines can hold: a listing that does not end
            break;
        }
        char c = bytes[i];
        if (c == '\n') {
            take_line(line_);
            line_.clear();
            line_cut_ = false;
        } else if (line_.size() < kLineMax) {
            line_ += c;
        } else {
            line_cut_ = true;
        }
    }
    return state_;
}

void UidlParser::take_line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    // Blanks after the id are no part of it (an id has none); some servers pad their lines.
    while (!line.empty() && line.back() == ' ') {
        line.remove_suffix(1);
    }
    if (line == "." && !line_cut_) {
        bool whole = !malformed_ && static_cast<long long>(list_.size()) == count_;
        state_ = whole && list_.index() ? State::complete : State::unusable;
        if (state_ == State::unusable) {
            list_ = UidList{};
        }
        return;
    }
    if (malformed_) {
        return; // only the end line matters now
    }
    long long n = leading_number(line);
    std::size_t blanks = line.find_first_not_of(' ');
    std::string_view id = blanks == std::string_view::npos || blanks == 0 ? std::string_view{} : line.substr(blanks);
    if (line_cut_ || n != static_cast<long long>(list_.size()) + 1 || n > count_ || !printable_id(id)) {
        malformed_ = true;
        list_ = UidList{};
        return;
    }
    list_.add(id);
}
