// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// The sender conditions of an account (SpecialAddress1 to 3 with SpecialSearch1 to 3), as every mail check
// applies them to the header block of one message.
struct SenderFilters {
    std::string address[3];
    int condition[3] = {};

    // Whether any condition is set: the check then counts sender hits instead of messages.
    bool any() const { return condition[0] > 0 || condition[1] > 0 || condition[2] > 0; }
    // The hits of all three addresses in one block, in their order (up to 6).
    int hits(std::string_view block) const;
};
