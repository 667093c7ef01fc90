// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check.h"

#include "credentials/mail_providers.h"
#include "mail/account_settings.h"
#include "mail/imap/imap_session.h"
#include "mail/mail_check.h"
#include "mail/net/mail_connection.h"
#include "mail/net/server_name.h"
#include "mail/net/tls_link.h"
#include "mail/net/tls_settings.h"
#include "mail/sasl/access_token.h"
#include "notifier/check/provider_hints.h"
#include "platform/secret.h"
#include "platform/text.h"
#include "platform/timing.h"
#include "push/folder_report.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/refresh_token.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <algorithm>
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

// What the report needs of a mail protocol beside the mail library's own check (mail_check): the port of a server
// name written without one, and how to ask a server on the plain port for TLS. The account's Protocol chooses.
struct MailProtocol {
    const char* name;
    const char* counted; // what the count counts without sender conditions
    int (*port)(MailSecurity security);
    bool (*ask_for_tls)(MailConnection& connection); // after connecting: true when the server agreed
};

constexpr int kLineLimit = 1024;

int service_port(const char* service) {
    const servent* entry = getservbyname(service, "tcp");
    return entry != nullptr ? ntohs(static_cast<uint16_t>(entry->s_port)) : 0;
}

int pop3_port(MailSecurity security) {
    return service_port(mail_service(security));
}

// RFC 2595: after the greeting, STLS and its "+OK".
bool pop3_ask_for_tls(MailConnection& connection) {
    const int wait = MailConnection::receive_budget_ms();
    std::string greeting, answer;
    constexpr char kStls[] = "STLS\r\n";
    return connection.receive_line(greeting, kLineLimit, wait) == 0 && greeting.starts_with("+OK") &&
           connection.send(kStls, sizeof kStls - 1) == 0 && connection.receive_line(answer, kLineLimit, wait) == 0 &&
           answer.starts_with("+OK");
}

// IMAP's own ports: 993 for TLS from the first byte (RFC 8314), else 143.
int imap_port(MailSecurity security) {
    return security == MailSecurity::tls ? 993 : 143;
}

// RFC 3501: after the greeting, STARTTLS and its tagged OK; untagged lines before it (capabilities) do not count.
bool imap_ask_for_tls(MailConnection& connection) {
    const int wait = MailConnection::receive_budget_ms();
    std::string line;
    constexpr char kStartTls[] = "c1 STARTTLS\r\n";
    if (connection.receive_line(line, kLineLimit, wait) != 0 || !line.starts_with("* OK") ||
        connection.send(kStartTls, sizeof kStartTls - 1) != 0) {
        return false;
    }
    do {
        line.clear();
        if (connection.receive_line(line, kLineLimit, wait) != 0) {
            return false;
        }
    } while (line.starts_with("* "));
    return line.starts_with("c1 OK");
}

const MailProtocol kPop3 = {"POP3", "messages waiting", pop3_port, pop3_ask_for_tls};
const MailProtocol kImap = {"IMAP", "unseen messages", imap_port, imap_ask_for_tls};

// The account's protocol as mail_check reads it; nullptr for a value that names none.
const MailProtocol* protocol_of(int index) {
    switch (account_protocol(index)) {
    case ::MailProtocol::pop3:
        return &kPop3;
    case ::MailProtocol::imap:
        return &kImap;
    default:
        return nullptr;
    }
}

// Every address of the server's name, as the system's resolver gives them; the check tries them in this order.
bool look_up(CheckReport& report, const std::string& topic, const std::string& server, int default_port) {
    ServerName name = split_server_name(server);
    if (name.error == ServerName::Error::port) {
        report.fail(topic, "the port after ':' in " + server +
                               " is not a number from 1 to 65535 (kd5lite_ap, "
                               "账户 tab)");
        return false;
    }
    const int port = name.port != 0 ? name.port : default_port;
    if (port == 0) {
        report.fail(topic, "no port in " + server +
                               " and the system knows no mail service port: install netbase, "
                               "or write host:port");
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
        addresses += (addresses.empty() ? "" : ", ") + std::string(text);
    }
    freeaddrinfo(list);
    report.ok(topic, name.host + " is " + addresses + "; port " + std::to_string(port));
    return true;
}

// The protocol, the certificate's subject and fingerprint.
std::string describe(const TlsPeer& peer) {
    return peer.protocol + ", " + peer.subject + ", sha256 " + peer.fingerprint;
}

// TLS as the check will have it, on the connection just made.
bool start_tls(CheckReport& report, const std::string& topic, MailConnection& connection, const MailProtocol& protocol,
               MailSecurity security, int index, CapturedErrors& errors) {
    if (security == MailSecurity::plain) {
        report.warn(topic, "no TLS: user name and password cross the network in clear (kd5lite_op, 连接 tab)");
        return true;
    }
    if (security == MailSecurity::stls && !protocol.ask_for_tls(connection)) {
        report.fail(topic, std::string("the server refused to start TLS") +
                               (errors.last().empty() ? "" : " (" + errors.last() + ")") +
                               ": choose 2.SSL/TLS (kd5lite_op, 连接 tab), or ask the provider");
        return false;
    }
    TlsPeer peer;
    if (connection.start_tls(settings_get(Key::TlsFingerprint, index).c_str()) != 0) {
        const int code = errno; // the verifier's, for a refused certificate
        if (connection.tls_peer(peer)) {
            report.fail(topic, describe(peer) + ", not trusted (" + tls_refusal_reason(code) +
                                   "): if the server is yours, pin this fingerprint (kd5lite_op, 连接 tab)");
        } else {
            report.fail(topic, errors.last() + ": the server does not speak TLS on this port, or too old a version");
        }
        return false;
    }
    connection.tls_peer(peer);
    report.ok(topic, describe(peer) + (peer.pinned ? ", pinned" : ", trusted by the system"));
    return true;
}

// The name lookup, the connection and TLS to where the account reads its mail; the connection is closed again
// before the real check.
bool reach_server(CheckReport& report, const std::string& topic, const MailProtocol& protocol, const Account& account) {
    const std::string& server = account.server;
    const MailSecurity security = account.security;
    const int index = account.index;
    if (security == MailSecurity::unknown) {
        report.fail(topic, "the Security setting is neither 0, 1 nor 2: choose one (kd5lite_op, 连接 tab)");
        return false;
    }
    const int default_port = protocol.port(security);
    if (!look_up(report, topic, server, default_port)) {
        return false;
    }
    CapturedErrors errors;
    MailConnection connection;
    if (connection.resolve(server.c_str(), default_port) != 0 || connection.connect() != 0) {
        report.fail(topic, "cannot connect: " + errors.last());
        return false;
    }
    report.ok(topic, "TCP connection to " + connection.host());
    return start_tls(report, topic, connection, protocol, security, index, errors);
}

// An OAuth2 account whose token comes from the desktop's online accounts, which also say where its mail is.
bool online_source(int index) {
    return account_auth(index) == CredentialKind::oauth2 && account_oauth_source(index) == OAuthSource::online_account;
}

// What the provider of the account's address wants instead of the mailbox password, from the provider table.
std::string secret_hint(int index) {
    const MailProvider* p = mail_provider_for(settings_get(Key::ID, index));
    if (p == nullptr) {
        return "";
    }
    switch (p->secret) {
    case ProviderSecret::oauth2:
        return "; " + std::string(p->name) + " takes OAuth2: choose it and sign in (kd5lite_op, 连接 tab, 登录…)";
    case ProviderSecret::app_password:
        return "; " + std::string(p->name) + " wants an app password made in the account's security settings";
    case ProviderSecret::authorization_code:
        return "; " + std::string(p->name) + " wants the authorization code (授权码) from its web mail settings";
    }
    return "";
}

// What a failed check's error-log line means, in plain words first. A refused login is told as such, with what
// the provider wants instead of the web password when it is known; the log line itself numbers the account from 0
// and is left out. Anything else keeps its log line, for the error-log table of docs/troubleshooting.md.
std::string explain_failure(const std::string& line, int index) {
    if (online_source(index) && line.find("refused the OAuth2 token") != std::string::npos) {
        return line + ": sign in there again (the desktop's Settings → Online Accounts)";
    }
    if (line.find("sign in again") != std::string::npos || line.find("not signed in") != std::string::npos ||
        line.find("refused the OAuth2 token") != std::string::npos) {
        return line + ": sign in again (kd5lite_op, 连接 tab, 登录…)";
    }
    if (line.find("token command") != std::string::npos) {
        return line + ": run the account's TokenCommand in a terminal to see why (kd5lite_op, 连接 tab)";
    }
    if (line.find("OAuth2 is refused without TLS") != std::string::npos) {
        return line + ": choose Security 1 or 2 for the account (kd5lite_op, 连接 tab)";
    }
    const bool refused = line.find("Contents abnormality") != std::string::npos;
    std::string plain;
    if (refused && (line.find("[a password]") != std::string::npos || line.find("[a login]") != std::string::npos)) {
        plain = "the server refused the login: check the ID and type the password again (kd5lite_ap, 账户 tab)" +
                secret_hint(index);
    } else if (refused && line.find("[a user name]") != std::string::npos) {
        plain = "the server refused the user name: correct the ID (kd5lite_ap, 账户 tab)";
    } else {
        return "the check failed: " + line + " (see the table of error-log lines in docs/troubleshooting.md)";
    }
    const std::string host = split_server_name(settings_get(Key::ServerName, index)).host;
    const char* hint = provider_hint(host);
    if (hint != nullptr && secret_hint(index).empty()) {
        plain += "; " + host + ": " + hint;
    }
    return plain;
}

bool has_filters(int index) {
    return read_account(index).filters.any();
}

// The check itself, as the next pass runs it: login and the count it gives; whether it worked.
bool run_account_check(CheckReport& report, const std::string& topic, const MailProtocol& protocol, int index) {
    CapturedErrors errors;
    int count = mail_check(index);
    std::string line = errors.last();
    if (!line.empty()) {
        report.fail(topic, explain_failure(line, index));
        return false;
    }
    if (count < 0) {
        report.fail(topic, std::string(protocol.name) + " check failed");
        return false;
    }
    report.ok(topic, std::string(protocol.name) + " login accepted; count " + std::to_string(count) + " (" +
                         (has_filters(index) ? "sender hits" : protocol.counted) + ")");
    return true;
}

// Whether the push can watch an IMAP account: its server must offer IDLE once logged in; and where the account
// watches several folders, each with its count and how it is watched. A connection of its own, as the watcher
// makes one; a failure here has been reported by the check before.
void report_push(CheckReport& report, const std::string& topic, int index) {
    CapturedErrors errors;
    Account account;
    if (read_account(index, account) != 0 || sign_account(account) != 0) {
        return;
    }
    std::vector<FolderReport> folders;
    if (folder_report(account, folders) != 0) {
        return;
    }
    const bool idle = std::any_of(folders.begin(), folders.end(),
                                  [](const FolderReport& f) { return f.watch != FolderWatch::interval; });
    if (!account.folders.empty()) {
        for (const FolderReport& f : folders) {
            const std::string line = "folder " + folder_report_line(f, account.filters.any());
            f.missing ? report.warn(topic, line) : report.info(topic, line);
        }
    }
    if (idle) {
        report.ok(topic, "push: the server offers IDLE; while monitoring runs, a change reaches the LED at once");
    } else {
        report.info(topic, "no push: the server does not offer IDLE; the interval alone brings the checks "
                           "(IntervalTimer, kd5lite_ap)");
    }
}

std::string keyring_hint(SecretResult result) {
    switch (result) {
    case SecretResult::locked: return "unlock it (log in to the desktop, or open its keyring manager)";
    case SecretResult::not_found: return "it holds no password for this account: type it again (kd5lite_ap, 账户 tab)";
    case SecretResult::no_service:
        return "run kd5lite --check in the desktop session, where the keyring runs; or type the password again in "
               "kd5lite_ap without a keyring to keep it in the settings file";
    case SecretResult::timed_out: return "restart the keyring daemon, or log out and in again";
    default: return "see the keyring's own log (journalctl --user)";
    }
}

// Where the password lives and whether the check can read it, as the next pass will.
bool check_password(CheckReport& report, const std::string& topic, int index) {
    if (!password_in_keyring(index)) {
        if (settings_get(Key::Password, index).empty()) {
            report.fail(topic, "switched on but no Password set (kd5lite_ap, 账户 tab)");
            return false;
        }
        report.info(topic, "password in the settings file, scrambled (anyone who reads the file can undo that): "
                           "with a desktop keyring running, 应用 on kd5lite_ap's 账户 tab moves it there");
        return true;
    }
    const SecretKey key = account_secret_key(index);
    std::string secret;
    std::string reason;
    const SecretResult result = secret_lookup(key, secret, SecretUnlock::never, timing().keyring_wait_ms, &reason);
    wipe_secret(secret);
    if (result != SecretResult::ok) {
        report.fail(topic, "password in the desktop keyring (" + secret_label(key) + "), not readable: " +
                               secret_result_text(result) + (reason.empty() ? "" : " (" + reason + ")") + ": " +
                               keyring_hint(result));
        return false;
    }
    report.ok(topic, "password in the desktop keyring (" + secret_label(key) + "), readable");
    return true;
}

// What to do about a refresh token the keyring did not give: a missing one wants a new sign-in.
std::string token_hint(SecretResult result) {
    switch (result) {
    case SecretResult::not_found: return "sign in again (kd5lite_op, 连接 tab, 登录…)";
    case SecretResult::no_service: return "run kd5lite --check in the desktop session, where the keyring runs";
    default: return keyring_hint(result);
    }
}

// Where an account signed in with the browser keeps its refresh token, and whether the check can read it, as the
// next pass will. The token itself is the browser source's business; this only names its place.
bool check_refresh_token(CheckReport& report, const std::string& topic, int index) {
    std::string token;
    TokenRead read;
    const int rc = refresh_token_load(index, token, SecretUnlock::never, timing().keyring_wait_ms, &read);
    wipe_secret(token);
    const SecretKey key = account_secret_key(index, SecretKind::refresh_token);
    switch (read.place) {
    case TokenPlace::file:
        report.info(topic,
                    "refresh token in the settings file, scrambled (anyone who reads the file can undo that): "
                    "with a desktop keyring running, sign in again (kd5lite_op, 连接 tab, 登录…) to move it there");
        return true;
    case TokenPlace::keyring:
        if (rc != 0) {
            report.fail(topic,
                        "refresh token in the desktop keyring (" + secret_label(key) +
                            "), not readable: " + secret_result_text(read.keyring) +
                            (read.reason.empty() ? "" : " (" + read.reason + ")") + ": " +
                            token_hint(read.keyring));
            return false;
        }
        report.ok(topic, "refresh token in the desktop keyring (" + secret_label(key) + "), readable");
        return true;
    default:
        report.fail(topic, rc != 0 ? "the settings file cannot be read for the refresh token"
                                   : "not signed in: no refresh token kept: sign in (kd5lite_op, 连接 tab, 登录…)");
        return false;
    }
}

// A source's error line as the report gives it: the topic names the account already.
std::string without_account_number(const std::string& line) {
    return line.substr(0, line.rfind("[no."));
}

// An online account: whether the desktop has it and gives a token, and where its mail is read. Each failure is the
// source's own error line, which says where to mend it.
bool check_online_account(CheckReport& report, const std::string& topic, Account& account) {
    CapturedErrors errors;
    if (place_account(account) != 0) {
        report.fail(topic, without_account_number(errors.last()));
        return false;
    }
    report.ok(topic, "online account " + settings_get(Key::OnlineAccount, account.index) + ": IMAP " + account.server +
                         " as " + account.user);
    std::string token;
    const int rc = access_token(account, token);
    wipe_secret(token);
    if (rc != 0) {
        report.fail(topic, without_account_number(errors.last()));
        return false;
    }
    report.ok(topic, "the online account gives an access token");
    return true;
}

void check_account(CheckReport& report, int index) {
    const std::string topic = topic_of(index);
    Account account = read_account(index);
    if (online_source(index)) {
        if (check_online_account(report, topic, account) && reach_server(report, topic, kImap, account) &&
            run_account_check(report, topic, kImap, index)) {
            report_push(report, topic, index);
        }
        return;
    }
    const Key needed[] = {Key::ServerName, Key::ID};
    for (Key k : needed) {
        if (settings_get(k, index).empty()) {
            report.fail(topic, std::string("switched on but no ") + key_name(k) + " set (kd5lite_ap, 账户 tab)");
            return;
        }
    }
    // An OAuth2 account signs in with a token, not a password.
    const bool oauth = account_auth(index) == CredentialKind::oauth2;
    if (!oauth && !check_password(report, topic, index)) {
        return;
    }
    if (oauth && account_oauth_source(index) == OAuthSource::browser &&
        !check_refresh_token(report, topic, index)) {
        return;
    }
    const MailProtocol* protocol = protocol_of(index);
    if (protocol == nullptr) {
        report.fail(topic, "the account's Protocol key is neither 0 (POP3) nor 1 (IMAP)");
        return;
    }
    if (reach_server(report, topic, *protocol, account) && run_account_check(report, topic, *protocol, index) &&
        protocol == &kImap) {
        report_push(report, topic, index);
    }
}

} // namespace

void check_accounts(CheckReport& report) {
    bool any = false;
    for (int i = 0; i < kAccountCount; ++i) {
        if (account_watched(i)) {
            any = true;
            check_account(report, i);
        }
    }
    if (!any) {
        report.fail("accounts", "none switched on: enter one in kd5lite_ap, 账户 tab");
    }
}
