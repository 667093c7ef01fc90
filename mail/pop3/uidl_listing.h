// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The unique-id listing of a maildrop (UIDL without an argument, RFC 1939) and the sender hits of each message,
// kept compact: the id's bytes and 12 bytes of bookkeeping, at most 82 bytes per message.

inline constexpr std::uint8_t kHitsUnknown = 0xff; // the message's headers have not been read
inline constexpr std::size_t kUidMax = 70;         // a unique id is 1 to 70 characters 0x21 to 0x7E (RFC 1939)

// Messages 1 to size() of a maildrop by unique id, each with its hits.
class UidList {
public:
    std::size_t size() const { return entries_.size(); }
    std::string_view id(std::size_t i) const { return {ids_.data() + entries_[i].offset, entries_[i].length}; }
    std::uint8_t hits(std::size_t i) const { return entries_[i].hits; }
    void set_hits(std::size_t i, std::uint8_t hits) { entries_[i].hits = hits; }

    // Appends the next message, its hits unknown. The id must be 1 to kUidMax bytes.
    void add(std::string_view id);
    // Builds the lookup by id; false when two messages share an id, which hits by id could not tell apart.
    bool index();
    // The hits of the message with this id, or kHitsUnknown (after index()).
    std::uint8_t find(std::string_view id) const;
    // Fills the hits of every message still unknown here from known (indexed), by id.
    void learn_from(const UidList& known);
    std::size_t bytes() const;

private:
    struct Entry {
        std::uint32_t offset; // of the id in ids_
        std::uint8_t length;
        std::uint8_t hits;
    };
    std::string ids_; // every id, one after the other
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> by_id_; // entry numbers sorted by id
};

// Reads a UIDL listing as it arrives, in pieces of any size: lines "n id" for n = 1, 2, ... count in this order,
// then "." alone. Memory stays within the ids of count messages and one line, whatever the server sends, and
// reading stops after the bytes that count lines can take.
class UidlParser {
public:
    enum class State {
        reading,  // give it more
        complete, // every message 1 to count once, each id unique
        unusable, // the listing ended but is not that, or it is too long
    };

    explicit UidlParser(long long count);
    // Takes bytes up to the end line; what comes after it is no part of the listing and is left alone, as the
    // TOP reply reader leaves what follows its terminating line.
    State feed(std::string_view bytes);
    State state() const { return state_; }
    // The messages of a complete listing.
    UidList& list() { return list_; }

private:
    void take_line(std::string_view line);

    long long count_;
    long long byte_limit_;
    long long bytes_ = 0;
    std::string line_; // the line being received, at most kLineMax bytes
    bool line_cut_ = false;
    bool malformed_ = false;
    State state_ = State::reading;
    UidList list_;
};
