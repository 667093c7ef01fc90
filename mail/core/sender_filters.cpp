// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/sender_filters.h"

#include "mail/core/sender_match.h"

int SenderFilters::hits(std::string_view block) const {
    int total = 0;
    for (int i = 0; i < 3; ++i) {
        total += sender_hits(block, address[i], condition[i]);
    }
    return total;
}
