#pragma once

// Checks one account (index 0 to 2) on its POP3 server with the plain password held in the settings record, in
// clear or over TLS as its Security setting says; over TLS nothing of the account is sent before the server's
// certificate is trusted.
// Returns -1 when the check failed on the way, 0 for no mail or a negative answer, or the message count (the
// number of sender hits when the account has sender conditions).
// With ids, also names the counted messages by unique id (one UIDL when mail waits and no sender condition has
// asked for the listing already).
struct CheckIds;
int pop3_check(int index, CheckIds* ids = nullptr);
