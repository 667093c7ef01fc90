// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/server_candidate.h"

// Whether a candidate is a mail server that answers: a connection, for TLS a certificate valid for its host name,
// and the greeting. A candidate on the plain port with STARTTLS (IMAP) or STLS (POP3) must name it among its
// capabilities and take it up. Nothing is sent beyond CAPABILITY or CAPA and the command that starts TLS: no
// login, no secret.

enum class ServerAnswer {
    greeted,     // it answered as a mail server of its protocol, with TLS where the candidate has it
    unreachable, // no address, no connection, or it closed before its greeting
    no_greeting, // it answered, but not as a mail server of its protocol, or not in time
    no_tls,      // the TLS handshake failed, or STARTTLS/STLS is not offered or was refused
    untrusted,   // its certificate is not trusted or does not name the host
    stopped,     // the cancel signal was raised
};

struct ServerCheck {
    ServerAnswer answer = ServerAnswer::unreachable;
    int error = 0; // the error number of the step that failed
};

// Checks one candidate. Every wait ends within timeout_ms once connected, and every wait at all once the eventfd
// cancel_fd (-1: none) becomes readable. Safe to run on several threads at once.
ServerCheck check_server(const ServerCandidate& candidate, int timeout_ms, int cancel_fd);

const char* server_answer_name(ServerAnswer answer);
