// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lamp/protocol.h"

#include <string>

// The lamp's input framing, without a pseudo-terminal: bytes in, commands and malformed frames out. Three
// characters and a carriage return make a command; a carriage return too early or a fourth byte that is not one
// makes a malformed frame, and after a fourth byte the input up to the next carriage return is dropped.

struct CommandFeed {
    unsigned char bytes[kCommandSize - 1] = {}; // the command's three characters once feed_byte returned command
    int length = 0;
    bool skipping = false;
};

enum class FeedEvent { none, command, malformed };

FeedEvent feed_byte(CommandFeed& feed, unsigned char byte);

// A command's three characters as the command log shows them: bytes outside ' '..'~' become '.'.
std::string command_text(const unsigned char* bytes);
