// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/lampsim/command_feed.h"

FeedEvent feed_byte(CommandFeed& feed, unsigned char byte) {
    if (feed.skipping) {
        feed.skipping = byte != '\r';
        return FeedEvent::none;
    }
    if (byte == '\r') {
        bool whole = feed.length == 3;
        feed.length = 0;
        return whole ? FeedEvent::command : FeedEvent::malformed;
    }
    if (feed.length == 3) {
        // The fourth byte must be the carriage return; resynchronise at the next one.
        feed.length = 0;
        feed.skipping = true;
        return FeedEvent::malformed;
    }
    feed.bytes[feed.length++] = byte;
    return FeedEvent::none;
}

std::string command_text(const unsigned char* bytes) {
    std::string text;
    for (int i = 0; i < 3; ++i) {
        text += bytes[i] >= 0x20 && bytes[i] <= 0x7e ? static_cast<char>(bytes[i]) : '.';
    }
    return text;
}
