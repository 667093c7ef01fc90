// SPDX-License-Identifier: GPL-3.0-or-later
// The lamp simulator's input framing on byte strings: what it makes a command, what a malformed frame, and where
// it finds its footing again.

#include "tools/lampsim/command_feed.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The events of a byte string in one line: a command as its log text, a malformed frame as "?".
std::string events_of(const std::string& input) {
    CommandFeed feed;
    std::string events;
    for (char c : input) {
        switch (feed_byte(feed, static_cast<unsigned char>(c))) {
        case FeedEvent::command:
            events += command_text(feed.bytes) + " ";
            break;
        case FeedEvent::malformed:
            events += "? ";
            break;
        case FeedEvent::none:
            break;
        }
    }
    return events;
}

TEST(CommandFeed, FramesCommandsAndResynchronisesAfterBadInput) {
    struct Case {
        std::string input;
        std::string events;
    } cases[] = {
        {"ON1\r", "ON1 "},
        {"ON1\rOF1\rBEP\r", "ON1 OF1 BEP "},
        {"ON1", ""},                                     // no carriage return yet: nothing
        {"O\r", "? "},                                   // too early
        {"\r\r", "? ? "},                                // empty frames
        {"ON1X\rCLS\r", "? CLS "},                       // fourth byte: dropped up to the next CR, which ends the skip
        {"ON1XYZ\rOF2\r", "? OF2 "},                     // everything up to that CR is dropped
        {"ON1\n", "? "},                                 // a line feed is no carriage return
        {std::string("\0\0\0\r", 4), "... "},            // zeros are three characters like any other
        {"\xff\x80~\r", "..~ "},                         // bytes outside the printable range show as dots
        {"ZZZ\r", "ZZZ "},                               // unknown commands are still frames; the lamp refuses them
        {std::string(10000, 'A') + "\rON0\r", "? ON0 "}, // an endless line costs one malformed frame
    };
    for (const auto& c : cases) {
        EXPECT_EQ(events_of(c.input), c.events) << c.input.substr(0, 20);
    }
}

} // namespace
