// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/probe_stage.h"

#include <vector>

// Checks one account on its IMAP server, as its security, fingerprint and folder say: the unseen messages of the
// folder, or with sender conditions the sender hits in their headers. The folder is examined read-only and headers
// are fetched with BODY.PEEK, so a check never changes a message's flags.
// Returns -1 when the check failed on the way, 0 for no unseen mail or a refusal, or the count.
// With ids, also names the counted messages by UID within the folder's UIDVALIDITY (one FETCH (UID) when unseen
// mail waits). With outcome, also how the check ended (mail/core/check_outcome.h): a refusal that gives 0 says so there.
struct CheckIds;
struct CheckOutcome;
int imap_check(const Account& account, CheckIds* ids = nullptr, CheckOutcome* outcome = nullptr);

// Reaches the account's server as a check does (the name, the connection, TLS as its security says, the greeting
// and the capabilities) and with login_too also logs in, then says LOGOUT; each stage to report as it ends, the
// end as the outcome.
CheckOutcome imap_probe(const Account& account, bool login_too, const ProbeReport& report);
// imap_probe without the login, with TLS from the first byte on the port the account's security leads to.
CheckOutcome imap_probe_tls(const Account& account, const ProbeReport& report);

// The server's folders for the option program's choice: logs in as a check does, LIST "" "*" (with the SPECIAL-USE
// attributes where offered), names decoded to UTF-8. cancel_fd (an eventfd, -1: none) ends every wait at once.
// 0, or -1 when it failed on the way (its line written, how it ended in *outcome).
struct ServerFolder;
int imap_list_folders(const Account& account, std::vector<ServerFolder>& folders, CheckOutcome* outcome = nullptr,
                      int cancel_fd = -1);
