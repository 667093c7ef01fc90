#include "notifier/check.h"

#include "mail/pop3.h"
#include "mail/server_name.h"
#include "mail/tcp_client.h"
#include "mail/tls_link.h"
#include "mail/tls_settings.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <vector>

namespace {

constexpr const char* kColour[kAccountCount] = {"red", "green", "yellow"};

std::string topic_of(int index) {
    return "account " + std::to_string(index + 1) + " (" + kColour[index] + ")";
}

// What the report needs of a mail protocol beside the mail library's own check: how to ask a server on the plain
// port for TLS. Each protocol has its row; the account's settings choose it.
struct MailProtocol {
    const char* name;
    bool (*ask_for_tls)(); // after connecting: true when the server agreed to start TLS now
    int (*check)(int index);
};

// One reply line of the server into line; false when none came.
bool receive_line(std::string& line) {
    constexpr int kCapacity = 1024;
    char buffer[kCapacity + kRecvLineSlack + 1] = {};
    int length = kCapacity;
    if (c_recv_socket(buffer, &length, '\n') != 0) {
        return false;
    }
    line = buffer;
    return true;
}

// RFC 2595: after the greeting, STLS and its "+OK".
bool pop3_ask_for_tls() {
    std::string line;
    constexpr char kStls[] = "STLS\r\n";
    return receive_line(line) && line.starts_with("+OK") && c_send_socket(kStls, sizeof kStls - 1) == 0 &&
           receive_line(line) && line.starts_with("+OK");
}

const MailProtocol kPop3 = {"POP3", pop3_ask_for_tls, pop3_check};

const MailProtocol& protocol_of(int) {
    return kPop3;
}

// Every address of the server's name, as the system's resolver gives them; the check connects to the first.
bool look_up(CheckReport& report, const std::string& topic, const std::string& server, MailSecurity security,
             std::string& first) {
    ServerName name = split_server_name(server);
    if (name.error == ServerName::Error::port) {
        report.fail(topic, "the port after ':' in " + server +
                               " is not a number from 1 to 65535 (kd5lite_ap, "
                               "账户 tab)");
        return false;
    }
    int port = name.port;
    if (port == 0) {
        const servent* entry = getservbyname(mail_service(security), "tcp");
        port = entry != nullptr ? ntohs(static_cast<uint16_t>(entry->s_port)) : 0;
    }
    if (port == 0) {
        report.fail(topic, std::string("no port in ") + server + " and the system knows no " +
                               mail_service(security) + " service: install netbase, or write host:port");
        return false;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = name.numeric ? AI_NUMERICHOST : 0;
    addrinfo* list = nullptr;
    int rc =
        name.error == ServerName::Error::host ? EAI_NONAME : getaddrinfo(name.host.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        report.fail(topic, "cannot look up " + name.host + " (" + gai_strerror(rc) +
                               "): check the server name (kd5lite_ap, 账户 tab) and the network");
        return false;
    }
    std::string addresses;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        char text[NI_MAXHOST] = {};
        getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
        if (first.empty()) {
            first = text;
        }
        addresses += (addresses.empty() ? "" : ", ") + std::string(text);
    }
    freeaddrinfo(list);
    report.ok(topic, name.host + " is " + addresses + "; port " + std::to_string(port));
    return true;
}

// The verifier's words for an untrusted certificate, from the error-log line that names its fingerprint.
void report_refused_certificate(CheckReport& report, const std::string& topic, int code, const std::string& line) {
    std::size_t at = line.find("sha256:");
    std::string fingerprint = at == std::string::npos ? "" : line.substr(at + 7);
    report.fail(topic, "certificate not trusted (" + tls_refusal_reason(code) + "), sha256 " + fingerprint +
                           ": if the server is yours, pin this fingerprint (kd5lite_op, 安全 tab)");
}

// TLS as the check will have it, on the connection just made.
bool start_tls(CheckReport& report, const std::string& topic, const MailProtocol& protocol, MailSecurity security,
               int index, CapturedErrors& errors) {
    if (security == MailSecurity::plain) {
        report.warn(topic, "no TLS: user name and password cross the network in clear (kd5lite_op, 安全 tab)");
        return true;
    }
    if (security == MailSecurity::stls && !protocol.ask_for_tls()) {
        report.fail(topic, std::string("the server refused to start TLS") +
                               (errors.last().empty() ? "" : " (" + errors.last() + ")") +
                               ": choose 2.SSL/TLS (kd5lite_op, 安全 tab), or ask the provider");
        return false;
    }
    if (c_start_tls(settings_get(Key::TlsFingerprint, index).c_str()) != 0) {
        int code = errno;
        std::string line = errors.last();
        if (line.find("not trusted") != std::string::npos) {
            report_refused_certificate(report, topic, code, line);
        } else {
            report.fail(topic, line + ": the server does not speak TLS on this port, or too old a version");
        }
        return false;
    }
    TlsPeer peer;
    c_tls_peer(peer);
    report.ok(topic, peer.protocol + ", " + peer.subject + ", sha256 " + peer.fingerprint +
                         (peer.pinned ? ", pinned" : ", trusted by the system"));
    return true;
}

// The name lookup, the connection and TLS; the connection is closed again before the real check.
bool reach_server(CheckReport& report, const std::string& topic, const MailProtocol& protocol, int index) {
    const std::string server = settings_get(Key::ServerName, index);
    const MailSecurity security = mail_security(settings_get(Key::Security, index).c_str());
    if (security == MailSecurity::unknown) {
        report.fail(topic, "the Security setting is neither 0, 1 nor 2: choose one (kd5lite_op, 安全 tab)");
        return false;
    }
    std::string first;
    if (!look_up(report, topic, server, security, first)) {
        return false;
    }
    CapturedErrors errors;
    if (c_make_socket_for(server.c_str(), mail_service(security)) != 0 || c_connect_socket() != 0) {
        report.fail(topic, "cannot connect to " + first + ": " + errors.last());
        c_close_socket();
        return false;
    }
    report.ok(topic, "TCP connection to " + first);
    bool ok = start_tls(report, topic, protocol, security, index, errors);
    c_close_socket();
    return ok;
}

std::string hint_for(const std::string& line) {
    if (line.find("Contents abnormality") != std::string::npos && line.find("[a password]") != std::string::npos) {
        return "the server refused the password: type it again (kd5lite_ap, 账户 tab)";
    }
    if (line.find("Contents abnormality") != std::string::npos && line.find("[a user name]") != std::string::npos) {
        return "the server refused the user name: correct the ID (kd5lite_ap, 账户 tab)";
    }
    return "see the README's table of error-log lines";
}

bool has_filters(int index) {
    const Key searches[] = {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3};
    for (Key k : searches) {
        if (settings_number(k, index) > 0) {
            return true;
        }
    }
    return false;
}

// The check itself, as the next pass runs it: login and the count it gives.
void run_account_check(CheckReport& report, const std::string& topic, const MailProtocol& protocol, int index) {
    CapturedErrors errors;
    int count = protocol.check(index);
    std::string line = errors.last();
    if (!line.empty()) {
        report.fail(topic, line + ": " + hint_for(line));
    } else if (count < 0) {
        report.fail(topic, std::string(protocol.name) + " check failed");
    } else {
        report.ok(topic, std::string(protocol.name) + " login accepted; count " + std::to_string(count) +
                             (has_filters(index) ? " (sender hits)" : " (messages waiting)"));
    }
}

void check_account(CheckReport& report, int index) {
    const std::string topic = topic_of(index);
    const Key needed[] = {Key::ServerName, Key::ID, Key::Password};
    for (Key k : needed) {
        if (settings_get(k, index).empty()) {
            report.fail(topic, std::string("switched on but no ") + key_name(k) + " set (kd5lite_ap, 账户 tab)");
            return;
        }
    }
    const MailProtocol& protocol = protocol_of(index);
    if (reach_server(report, topic, protocol, index)) {
        run_account_check(report, topic, protocol, index);
    }
}

} // namespace

void check_accounts(CheckReport& report) {
    bool any = false;
    for (int i = 0; i < kAccountCount; ++i) {
        if (settings_number(Key::Switch, i) == 1) {
            any = true;
            check_account(report, i);
        }
    }
    if (!any) {
        report.fail("accounts", "none switched on: enter one in kd5lite_ap, 账户 tab");
    }
}
