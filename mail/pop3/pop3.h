// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/probe_stage.h"

// Checks one account on its POP3 server with its plain password, in clear or over TLS as its security says; over
// TLS nothing of the account is sent before the server's certificate is trusted.
// Returns -1 when the check failed on the way, 0 for no mail or a negative answer, or the message count (the
// number of sender hits when the account has sender conditions).
// With ids, also names the counted messages by unique id (one UIDL when mail waits and no sender condition has
// asked for the listing already). With outcome, also how the check ended (mail/core/check_outcome.h): a refusal that
// gives 0 says so there.
struct CheckIds;
struct CheckOutcome;
int pop3_check(const Account& account, CheckIds* ids = nullptr, CheckOutcome* outcome = nullptr);

// Reaches the account's server as a check does (the name, the connection, TLS as its security says, the greeting)
// and with login_too also logs in, then says QUIT; each stage to report as it ends, the end as the outcome.
CheckOutcome pop3_probe(const Account& account, bool login_too, const ProbeReport& report);
// pop3_probe without the login, with TLS from the first byte on the port the account's security leads to.
CheckOutcome pop3_probe_tls(const Account& account, const ProbeReport& report);
