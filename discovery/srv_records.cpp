// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/srv_records.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>

namespace {

// More than any answer of a real domain holds; the sums of weights stay far from overflowing.
constexpr std::size_t kRecordLimit = 64;

bool not_offered(const std::vector<SrvRecord>& records) {
    return records.size() == 1 && (records[0].target == "." || records[0].target.empty());
}

// RFC 2782: within one priority, those of weight 0 first, then each pick takes the first record whose running
// sum of weights reaches a random number from 0 to the sum.
void weighted_order(std::vector<SrvRecord>& group, const SrvPick& pick, std::vector<SrvRecord>& out) {
    std::stable_partition(group.begin(), group.end(), [](const SrvRecord& r) { return r.weight == 0; });
    while (!group.empty()) {
        unsigned total = 0;
        for (const SrvRecord& r : group) {
            total += static_cast<unsigned>(r.weight);
        }
        const unsigned chosen = std::min(pick(total), total);
        unsigned sum = 0;
        auto it = group.begin();
        for (; it != group.end(); ++it) {
            sum += static_cast<unsigned>(it->weight);
            if (sum >= chosen) {
                break;
            }
        }
        if (it == group.end()) {
            it = group.end() - 1;
        }
        out.push_back(std::move(*it));
        group.erase(it);
    }
}

void add_service(const std::vector<SrvRecord>& records, bool imap, std::initializer_list<int> securities,
                 const SrvPick& pick, std::vector<ServerCandidate>& out) {
    for (const SrvRecord& r : srv_order(records, pick)) {
        for (int security : securities) {
            ServerCandidate c;
            c.imap = imap;
            c.host = host_name(r.target);
            c.port = r.port;
            c.security = security;
            c.source = ServerSource::srv;
            out.push_back(std::move(c));
        }
    }
}

} // namespace

std::vector<SrvRecord> srv_order(std::vector<SrvRecord> records, const SrvPick& pick) {
    std::vector<SrvRecord> out;
    if (not_offered(records)) {
        return out;
    }
    std::erase_if(records, [](const SrvRecord& r) {
        return r.port <= 0 || r.port > 65535 || r.weight < 0 || r.weight > 65535 || host_name(r.target).empty();
    });
    if (records.size() > kRecordLimit) {
        records.resize(kRecordLimit);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const SrvRecord& a, const SrvRecord& b) { return a.priority < b.priority; });
    for (auto first = records.begin(); first != records.end();) {
        auto last =
            std::find_if(first, records.end(), [first](const SrvRecord& r) { return r.priority != first->priority; });
        std::vector<SrvRecord> group(std::make_move_iterator(first), std::make_move_iterator(last));
        weighted_order(group, pick, out);
        first = last;
    }
    return out;
}

std::vector<ServerCandidate> srv_candidates(const SrvAnswers& answers, bool prefer_imap, const SrvPick& pick) {
    std::vector<ServerCandidate> out;
    add_service(answers.imaps, true, {kSecurityTls}, pick, out);
    add_service(answers.imap, true, {kSecurityStartTls, kSecurityClear}, pick, out);
    add_service(answers.pop3s, false, {kSecurityTls}, pick, out);
    add_service(answers.pop3, false, {kSecurityStartTls, kSecurityClear}, pick, out);
    order_candidates(out, prefer_imap);
    return out;
}
