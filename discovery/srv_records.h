// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/server_candidate.h"

#include <functional>
#include <string>
#include <vector>

// What a domain's SRV records for mail (RFC 6186) say, as a DNS answer gives them. Plain C++, tested by tables.

struct SrvRecord {
    std::string target; // as the answer has it, trailing dot or not
    int port = 0;
    int priority = 0;
    int weight = 0;
};

// Gives a number from 0 to limit, both included: the chance of RFC 2782's weighted choice.
using SrvPick = std::function<unsigned(unsigned limit)>;

// The records in the order to try them (RFC 2782): the lowest priority first; within one priority a weighted
// random order, a record of weight 0 with a small chance only. A target of "." means the service is decidedly not
// offered: empty when it is the only record; a record without a usable target or with port 0 is left out.
std::vector<SrvRecord> srv_order(std::vector<SrvRecord> records, const SrvPick& pick);

// The answers for the four services of one domain.
struct SrvAnswers {
    std::vector<SrvRecord> imaps; // _imaps._tcp: TLS from the first byte (RFC 8314)
    std::vector<SrvRecord> imap;  // _imap._tcp: STARTTLS, or in clear as the last resort
    std::vector<SrvRecord> pop3s; // _pop3s._tcp
    std::vector<SrvRecord> pop3;  // _pop3._tcp: STLS, or in clear
};

// The servers the answers name, each service in its srv_order, then ordered by order_candidates.
std::vector<ServerCandidate> srv_candidates(const SrvAnswers& answers, bool prefer_imap, const SrvPick& pick);
