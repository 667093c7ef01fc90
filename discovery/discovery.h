// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/server_candidate.h"
#include "mail/net/cancel_signal.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// The search of an address's mail server that 按地址填写 and kd5lite --discover run. The sources, in order: the
// provider table; the domain's autoconfig file over verified https (autoconfig.DOMAIN, then DOMAIN/.well-known),
// a redirect to another host refused; its SRV records (RFC 6186); its mail exchangers, when a provider that hosts
// domains runs them; the usual names. The first source whose server answers (server_check.h) gives the result; a
// server that answers only in clear is kept until every source was asked for one with TLS. The table's rows are
// taken without a connection, as they always were. Every lookup and check has its deadline from the timing record,
// the whole search discovery_total_ms; no service of anyone but the domain's own is asked.

enum class DiscoveryEnd {
    found,      // server holds the result
    nothing,    // every source was asked; none gave a server that answers
    timed_out,  // the whole search ran out of time first
    stopped,    // the stop was raised
    no_address, // the address has no domain that could be looked up
};

struct DiscoveryResult {
    DiscoveryEnd end = DiscoveryEnd::nothing;
    std::string domain;
    ServerCandidate server; // with found
};

// Ends a search from another thread (the page's cancel, the window going away). Raised, it stays raised.
class DiscoveryStop {
public:
    void stop() {
        stopped_ = true;
        signal_.raise();
    }
    bool stopped() const { return stopped_; }
    int fd() const { return signal_.fd(); }

private:
    std::atomic<bool> stopped_{false};
    CancelSignal signal_;
};

// What the search is doing now, in the words of the 连接 tab's progress line; called on the search's thread.
using DiscoveryProgress = std::function<void(const std::string& line)>;

// Searches the server of address, preferring IMAP or POP3 but taking the other when the domain offers only that.
// Blocks the calling thread, which needs a QCoreApplication and runs event loops of its own meanwhile. A found
// result is kept for the rest of the process and given again at once; nothing is written anywhere.
DiscoveryResult discover_server(const std::string& address, bool prefer_imap, const DiscoveryStop& stop,
                                const DiscoveryProgress& progress = {});

// What the domain publishes now for the protocol (its autoconfig file, SRV records and hosting provider), looked up
// as discover_server does but without connecting to any server, for kd5lite --check.
struct PublishedServers {
    std::string domain;
    std::vector<ServerCandidate> servers; // in the order of the sources
};
PublishedServers published_servers(const std::string& address, bool imap, const DiscoveryStop& stop);

// Forgets the results kept (tests).
void forget_discoveries();
