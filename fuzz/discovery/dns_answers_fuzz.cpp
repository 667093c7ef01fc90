// SPDX-License-Identifier: GPL-3.0-or-later
// A domain's SRV and MX answers, as its name server (or anyone on the way) may give them: the records' order, the
// servers they name, and the provider behind the exchangers.

#include "discovery/provider_servers.h"
#include "discovery/srv_records.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Reads the input as records: a kind (the four SRV services, or MX), priority or preference, weight, port and a
// target of up to 255 bytes; the rest of each byte's bits pick the weighted choices.
struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool more() const { return at < size; }
    unsigned byte() { return at < size ? data[at++] : 0; }
    int number() { return static_cast<int>(byte() << 8 | byte()); }
    std::string text() {
        const std::size_t length = byte();
        std::string out;
        for (std::size_t i = 0; i < length && more(); ++i) {
            out += static_cast<char>(byte());
        }
        return out;
    }
};

bool valid(const ServerCandidate& c) {
    return !c.host.empty() && host_name(c.host) == c.host && c.port > 0 && c.port <= 65535 &&
           c.security >= kSecurityClear && c.security <= kSecurityTls;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    SrvAnswers answers;
    std::vector<SrvRecord>* services[] = {&answers.imaps, &answers.imap, &answers.pop3s, &answers.pop3};
    std::vector<MxRecord> exchangers;
    while (in.more()) {
        const unsigned kind = in.byte() % 5;
        const int priority = in.number();
        const int weight = in.number();
        const int port = in.number();
        std::string target = in.text();
        if (kind == 4) {
            exchangers.push_back(MxRecord{std::move(target), priority});
        } else {
            services[kind]->push_back(SrvRecord{std::move(target), port, priority, weight});
        }
    }
    std::size_t draws = 0;
    const SrvPick pick = [&](unsigned limit) {
        return limit == 0 || size == 0 ? 0u : (data[draws++ % size] * 257u) % (limit + 1);
    };

    const std::vector<SrvRecord> ordered = srv_order(answers.imap, pick);
    FUZZ_CHECK(ordered.size() <= answers.imap.size());
    for (std::size_t i = 1; i < ordered.size(); ++i) {
        FUZZ_CHECK(ordered[i - 1].priority <= ordered[i].priority);
    }
    for (bool prefer_imap : {true, false}) {
        const std::vector<ServerCandidate> servers = srv_candidates(answers, prefer_imap, pick);
        bool clear_seen = false;
        for (const ServerCandidate& c : servers) {
            FUZZ_CHECK(valid(c));
            FUZZ_CHECK(!clear_seen || c.security == kSecurityClear); // nothing encrypted after one in clear
            clear_seen = clear_seen || c.security == kSecurityClear;
        }
    }
    if (const MailProvider* provider = hosting_provider(exchangers)) {
        const std::vector<ServerCandidate> servers = hosted_candidates(*provider, true);
        FUZZ_CHECK(!servers.empty());
        for (const ServerCandidate& c : servers) {
            FUZZ_CHECK(valid(c) && c.security == kSecurityTls && c.source == ServerSource::mx);
        }
    }
    return 0;
}
