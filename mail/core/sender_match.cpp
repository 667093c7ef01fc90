// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/sender_match.h"

#include <string>

namespace {

bool contains(std::string_view block, const std::string& what) {
    return block.find(what) != std::string_view::npos;
}

} // namespace

int sender_hits(std::string_view block, std::string_view address, int condition) {
    if (address.empty()) {
        return 0;
    }
    std::string bare(address);
    switch (condition) {
    case kMatchExact:
        return (contains(block, " " + bare) ? 1 : 0) + (contains(block, "<" + bare + ">") ? 1 : 0);
    case kMatchPartial:
        return contains(block, bare) ? 1 : 0;
    default:
        return 0;
    }
}
