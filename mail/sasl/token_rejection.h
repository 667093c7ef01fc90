// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The logins note an OAuth2 token the server refused; the check then asks its source for a new one and tries once
// more. One flag per account index (0 to 2), shared by the check and the IDLE watchers of that account.
void note_token_rejected(int index);
bool take_token_rejected(int index);
