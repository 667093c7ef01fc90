// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/mail_providers.h"
#include "discovery/server_candidate.h"

#include <string>
#include <vector>

// The servers of the providers we know, as candidates: a provider of the table found by the address's domain, and
// one that hosts the domain, found by its mail exchangers. Plain C++, tested by tables.

// The row's IMAP and POP3 servers (TLS from the first byte), ordered by order_candidates; source table.
std::vector<ServerCandidate> table_candidates(const MailProvider& provider, bool prefer_imap);

struct MxRecord {
    std::string host;
    int preference = 0;
};

// The provider that runs the domain's mail: the one of the first exchanger, the lowest preference first (RFC 5321
// 5.1), that a provider of the hosting table runs. nullptr when none does.
const MailProvider* hosting_provider(std::vector<MxRecord> records);

// The hosting provider's servers, ordered by order_candidates; source mx, named for the provider.
std::vector<ServerCandidate> hosted_candidates(const MailProvider& provider, bool prefer_imap);
