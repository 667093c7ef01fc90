// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_outcome.h"
#include "mail/core/probe_stage.h"

// A probe of the server an account reads its mail from, for the diagnosis (kd5lite --check): the stages a check
// goes through before it counts, by the account's protocol, security and server name exactly as the check takes
// them. The name is looked up (resolve), the connection made (connect), TLS started from the first byte or after
// the greeting with STARTTLS or STLS as the security says (tls; for an account without TLS a tls stage with
// nothing encrypted), the greeting read (greeting, over IMAP with the capabilities), and with login the account
// logged in (login, over IMAP with the capabilities it brings). Each stage that worked goes to report as it ends,
// in the order they happen, and a TLS stage that failed goes there too, with the refused certificate. The probe
// then says goodbye (QUIT, LOGOUT) and returns how it ended, as a check's outcome: ok, or the step and kind of the
// failure with the error line it wrote. An OAuth2 account's credential must hold its access token (sign_account)
// when login is asked for.
CheckOutcome mail_probe(const Account& account, bool login, const ProbeReport& report);

// A try of the port the account's server name leads to (by its protocol and security, as mail_probe takes it) with
// TLS from the first byte, whatever the security says, and the greeting under it; no login. For a server that stays
// silent in clear: a tls stage that shows a certificate, trusted or not, says that the port wants TLS.
CheckOutcome mail_probe_tls(const Account& account, const ProbeReport& report);
