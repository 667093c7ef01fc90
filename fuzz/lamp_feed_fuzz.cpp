// SPDX-License-Identifier: GPL-3.0-or-later
// The lamp simulator's command feed on whatever arrives over the serial line.

#include "fuzz/fuzz_check.h"
#include "lamp/protocol.h"
#include "tools/lampsim/command_feed.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CommandFeed feed;
    bool led[kLedCount] = {};
    for (std::size_t i = 0; i < size; ++i) {
        const FeedEvent event = feed_byte(feed, data[i]);
        FUZZ_CHECK(feed.length >= 0 && feed.length <= 3);
        if (event != FeedEvent::command) {
            continue;
        }
        // A command is three characters that came right before this carriage return.
        FUZZ_CHECK(data[i] == '\r' && i >= 3);
        for (int k = 0; k < 3; ++k) {
            FUZZ_CHECK(feed.bytes[k] == data[i - 3 + k] && feed.bytes[k] != '\r');
        }
        FUZZ_CHECK(command_text(feed.bytes).size() == 3);
        const ParsedCommand cmd = parse_command(feed.bytes);
        if (cmd.op == LampOp::On || cmd.op == LampOp::Off) {
            FUZZ_CHECK(cmd.led >= 0 && cmd.led < kLedCount);
            led[cmd.led] = cmd.op == LampOp::On;
        } else {
            FUZZ_CHECK(cmd.led == -1);
        }
    }
    return 0;
}
