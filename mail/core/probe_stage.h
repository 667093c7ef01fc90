// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_outcome.h"
#include "mail/net/mail_connection.h"
#include "mail/net/tls_link.h"
#include "settings/key_values.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What one stage of a probe of a mail server found (mail_probe.h), for the diagnosis: where the name led, which
// address took the connection, what the server said first, what TLS showed of it, and what it offers.
struct ProbeStage {
    CheckStep step = CheckStep::none; // resolve, connect, greeting, tls or login
    // false only for a TLS stage that failed (certificate and refusal say what was refused) and for a first line
    // that is no greeting of the account's protocol (greeting and speaks say what came instead)
    bool ok = true;
    // resolve: the host as the server name writes it, the port, and every address in the order connect tries them.
    std::string host{};
    int port = 0;
    std::vector<std::string> addresses{};
    // connect: the address that took the connection.
    std::string peer{};
    // greeting: the server's first line, without its line end and made safe for a log or a terminal, and the
    // protocol whose greeting it is (another one's when the port serves the other protocol).
    std::string greeting{};
    MailProtocol speaks = MailProtocol::unknown;
    // tls: whether the connection is encrypted now (false for an account without TLS), what the certificate shows
    // (also of one refused: protocol empty then), and why the verifier refused it.
    bool encrypted = false;
    TlsPeer certificate{};
    std::string refusal{};
    bool other_host = false; // a failed TLS stage: the certificate is trusted, but for other names than the host
    // greeting, tls and login over IMAP: the capabilities the server names at the end of the stage (upper case).
    std::vector<std::string> capabilities{};
};

using ProbeReport = std::function<void(const ProbeStage&)>;

// The stages as a connection shows them: its name's addresses after resolve, its peer after connect, and its TLS
// after start_tls (ok: it worked; error: errno of a start_tls that failed).
ProbeStage resolve_stage(const MailConnection& connection);
ProbeStage connect_stage(const MailConnection& connection);
ProbeStage tls_stage(const MailConnection& connection, bool ok, int error);
// The greeting stage of a first line as it came (its line end, if any, included); ok: the protocol took it.
ProbeStage greeting_stage(std::string_view line, bool ok);

// The protocol whose greeting a server's first line is: "+OK" or "-ERR" is POP3's (RFC 1939), "* OK", "* PREAUTH"
// or "* BYE" IMAP's (RFC 3501 7.1, any case); unknown for anything else. Pure.
MailProtocol greeting_protocol(std::string_view line);
