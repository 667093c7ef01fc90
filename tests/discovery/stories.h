// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/discovery/test_domain.h"
#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_server.h"

#include <memory>
#include <string>
#include <vector>

// What the discovery stories set up inside their namespace: the autoconfig file a domain publishes, and the
// scripted mail servers at the addresses its names point to.

// An autoconfig file with the incoming servers given and an outgoing one (which must be passed over).
inline std::string autoconfig_file(const std::string& incoming) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<clientConfig version=\"1.1\">\n"
           "  <emailProvider id=\"example.test\">\n    <domain>example.test</domain>\n"
           "    <displayName>Example</displayName>\n" +
           incoming +
           "    <outgoingServer type=\"smtp\"><hostname>smtp.example.test</hostname><port>465</port>"
           "<socketType>SSL</socketType><username>%EMAILADDRESS%</username></outgoingServer>\n"
           "  </emailProvider>\n</clientConfig>\n";
}

inline std::string incoming_server(const std::string& type, const std::string& host, int port,
                                   const std::string& socket_type, const std::string& user = "%EMAILADDRESS%") {
    return "    <incomingServer type=\"" + type + "\"><hostname>" + host + "</hostname><port>" + std::to_string(port) +
           "</port><socketType>" + socket_type + "</socketType><username>" + user +
           "</username><authentication>password-cleartext</authentication></incomingServer>\n";
}

// The scripted servers of one story, each on its loopback address and the port of its kind.
class MailServers {
public:
    // IMAP with TLS from the first byte (security 2), STARTTLS (1) or in clear (0), on 993 or 143.
    ImapServer& imap(const std::string& address, int security, const TestAuthority::Issued& certificate = {}) {
        ImapScript script;
        script.tls = security == 2 ? ImapTls::implicit : security == 1 ? ImapTls::starttls : ImapTls::none;
        script.certificate_file = certificate.certificate_file;
        script.key_file = certificate.key_file;
        imap_.push_back(std::make_unique<ImapServer>(std::map<std::string, ImapMailbox>{}, script));
        started_ = imap_.back()->start(address, security == 2 ? 993 : 143) && started_;
        error_ += imap_.back()->error();
        return *imap_.back();
    }

    // POP3 with STLS on 110 (security 1) or TLS from the first byte on 995 (2).
    Pop3Server& pop3(const std::string& address, int security, const TestAuthority::Issued& certificate) {
        Pop3Script script;
        script.tls = security == 2 ? Pop3Tls::implicit : Pop3Tls::stls;
        script.capabilities = "TOP\r\nUSER\r\nUIDL\r\nSTLS\r\n";
        script.certificate_file = certificate.certificate_file;
        script.key_file = certificate.key_file;
        pop3_.push_back(std::make_unique<Pop3Server>(std::map<std::string, Pop3Mailbox>{}, script));
        started_ = pop3_.back()->start(address, security == 2 ? 995 : 110) && started_;
        error_ += pop3_.back()->error();
        return *pop3_.back();
    }

    bool started() const { return started_; }
    const std::string& error() const { return error_; }

private:
    std::vector<std::unique_ptr<ImapServer>> imap_;
    std::vector<std::unique_ptr<Pop3Server>> pop3_;
    bool started_ = true;
    std::string error_;
};
