// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fuzz/replay_server.h"

#include <string>

// What the targets that run a whole mail check share: the error log in a directory of the run's own (under TMPDIR,
// which scripts/fuzz.sh points into build-fuzz/), the timing record without pauses, account 0 pointed at the
// scripted server with its user name and password, and its settings from the first input byte: bit 0 an exact
// sender condition, bit 1 a partial one (so that both the count and the header path are read), bit 3 STARTTLS
// (STLS) required, which the scripted server cannot give: the password must then never leave.
ReplayServer& mail_fuzz_server();
void set_mail_fuzz_account(unsigned char choice);
bool mail_fuzz_requires_tls(unsigned char choice);

// After a run: what the client sent, and in logs what the run wrote to the error log (which is then cleared).
std::string mail_fuzz_finish(ReplayServer& server, std::string& logs);

// The account's password, which must reach the server only in its login command and never a log.
inline constexpr char kMailFuzzPassword[] = "Pw-8d1f0c";
