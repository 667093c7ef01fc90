#pragma once

// Checks one account (index 0 to 2) with the protocol its Protocol setting names: "0" or empty POP3, "1" IMAP.
// Any other value makes no connection: an error line and -1, as an unknown Security does. Results as pop3_check.
// With ids, also which messages make up the count, for the acknowledge.
struct CheckIds;
int mail_check(int index, CheckIds* ids = nullptr);
