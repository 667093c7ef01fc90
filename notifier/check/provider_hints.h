// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// Mail providers known to refuse an account's ordinary password to a mail program, keyed by the domain of their
// server names, with what they want instead. nullptr for any other server.
const char* provider_hint(std::string_view host);
