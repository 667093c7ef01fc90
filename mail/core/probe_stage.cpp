// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/probe_stage.h"

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
    }
    return stage;
}
