// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/probe_stage.h"

#include "logging/log_text.h"

#include <algorithm>
#include <cctype>

namespace {

// More of a first line than any greeting needs is not shown: a server may send megabytes on one line.
constexpr std::size_t kShownGreeting = 1024;

bool starts_with_word(std::string_view line, std::string_view word) {
    if (line.size() < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) {
            return false;
        }
    }
    // The word ends there: "+OKAY" is no "+OK".
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\r' ||
           line[word.size()] == '\n';
}

} // namespace

ProbeStage resolve_stage(const MailConnection& connection) {
    ProbeStage stage;
    stage.step = CheckStep::resolve;
    stage.host = connection.host();
    for (const sockaddr_storage& address : connection.addresses()) {
        stage.addresses.push_back(numeric_host(address));
        stage.port = address_port(address);
    }
    return stage;
}

ProbeStage connect_stage(const MailConnection& connection) {
    ProbeStage stage;
    stage.step = CheckStep::connect;
    sockaddr_storage local{};
    sockaddr_storage peer{};
    if (connection.endpoints(local, peer)) {
        stage.peer = numeric_host(peer);
    }
    return stage;
}

ProbeStage tls_stage(const MailConnection& connection, bool ok, int error) {
    ProbeStage stage;
    stage.step = CheckStep::tls;
    stage.ok = ok;
    stage.encrypted = connection.is_tls();
    // A refused certificate is shown as well: the diagnosis offers its fingerprint for a pin.
    if (connection.tls_peer(stage.certificate) && !ok) {
        stage.refusal = tls_refusal_reason(error);
        stage.other_host = tls_refused_for_name(error);
    }
    return stage;
}

ProbeStage greeting_stage(std::string_view line, bool ok) {
    ProbeStage stage;
    stage.step = CheckStep::greeting;
    stage.ok = ok;
    stage.speaks = greeting_protocol(line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    stage.greeting = log_safe_text(line.substr(0, std::min(line.size(), kShownGreeting)));
    return stage;
}

MailProtocol greeting_protocol(std::string_view line) {
    // POP3's status indicators are upper case (RFC 1939 3); IMAP's atoms are not case-sensitive.
    if (line.starts_with("+OK") || line.starts_with("-ERR")) {
        return starts_with_word(line, line[0] == '+' ? "+OK" : "-ERR") ? MailProtocol::pop3 : MailProtocol::unknown;
    }
    for (std::string_view word : {"* OK", "* PREAUTH", "* BYE"}) {
        if (starts_with_word(line, word)) {
            return MailProtocol::imap;
        }
    }
    return MailProtocol::unknown;
}
