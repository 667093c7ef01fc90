// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// Sender conditions of an account (SpecialSearch1 to 3): 1 exact match, 2 partial match; any other value is no
// condition.
inline constexpr int kMatchExact = 1;
inline constexpr int kMatchPartial = 2;

// Hits of one address in the header block of one message, byte for byte (case matters):
// exact: one for a space followed by the address, one more for the address in angle brackets;
// partial: one for the address anywhere. An empty address has no hits.
int sender_hits(std::string_view block, std::string_view address, int condition);
