// SPDX-License-Identifier: GPL-3.0-or-later
// The way to the server, as the mail code's probe goes it: each stage's line as it ends, and for the stage that
// failed one sentence chosen from the probe's values (the stage, its step and kind, the certificate, the greeting),
// never from the wording of a log line.
#include "notifier/check/account_check.h"

#include "logging/log_text.h"
#include "mail/mail_probe.h"
#include "mail/net/server_name.h"
#include "platform/timing.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <optional>

namespace {

using Clock = AccountCheck::Clock;

constexpr char kAccountTab[] = "(kd5lite_ap, 账户 tab)";
constexpr char kConnectionTab[] = "(kd5lite_op, 连接 tab)";

// What one probe found on its way, and how it ended.
struct Probe {
    std::string host; // as the server name writes it, made safe
    int port = 0;
    Clock::time_point started = Clock::now();
    std::optional<Clock::time_point> connected;
    std::optional<ProbeStage> refused_tls;  // the TLS stage that failed
    std::optional<ProbeStage> odd_greeting; // a first line that is no greeting of the account's protocol
    bool tls_spoken = false;                // a handshake went through, its certificate trusted or not
    CheckOutcome outcome;
};

long long ms_since(Clock::time_point from) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count();
}

const char* protocol_name(MailProtocol protocol) {
    return protocol == MailProtocol::imap ? "IMAP" : "POP3";
}

// The protocol as the 连接 tab offers it.
const char* protocol_choice(MailProtocol protocol) {
    return protocol == MailProtocol::imap ? "1.IMAP" : "0.POP3";
}

std::string where(const Probe& p) {
    const bool v6 = p.host.find(':') != std::string::npos;
    return (v6 ? "[" + p.host + "]" : p.host) + ":" + std::to_string(p.port);
}

std::string joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& text : texts) {
        out += (out.empty() ? "" : ", ") + log_safe_text(text);
    }
    return out;
}

// The protocol, the certificate's subject and fingerprint: what a certificate's subject holds is the server's.
std::string described(const TlsPeer& peer) {
    return peer.protocol + ", " + log_safe_text(peer.subject) + ", sha256 " + peer.fingerprint;
}

void take_tls(const AccountCheck& a, Probe& p, const ProbeStage& stage, bool print) {
    p.tls_spoken = p.tls_spoken || stage.encrypted || !stage.certificate.fingerprint.empty();
    if (!stage.ok) {
        p.refused_tls = stage;
        return;
    }
    if (!print) {
        return;
    }
    if (!stage.encrypted) {
        a.report.warn(a.topic,
                      std::string("no TLS: user name and password cross the network in clear ") + kConnectionTab);
        return;
    }
    a.report.ok(a.topic,
                described(stage.certificate) + (stage.certificate.pinned ? ", pinned" : ", trusted by the system"));
    if (a.account.security == MailSecurity::tls) {
        a.progress("waiting for the server's greeting");
    }
}

void take_greeting(const AccountCheck& a, Probe& p, const ProbeStage& stage, bool print) {
    if (!stage.ok) {
        p.odd_greeting = stage;
        return;
    }
    if (print) {
        a.report.ok(a.topic, "greeting: " + stage.greeting);
    }
    if (print && a.account.security == MailSecurity::stls) {
        a.progress(a.account.protocol == MailProtocol::imap ? "asking for TLS (STARTTLS)" : "asking for TLS (STLS)");
    }
}

// A stage as it ends: the line of one that worked (print: the account's own probe, not the TLS try), and what the
// explanation needs of one that failed.
void take_stage(const AccountCheck& a, Probe& p, const ProbeStage& stage, bool print) {
    switch (stage.step) {
    case CheckStep::resolve:
        p.port = stage.port;
        if (print) {
            a.report.ok(a.topic, p.host + " is " + joined(stage.addresses) + "; port " + std::to_string(p.port));
            a.progress("connecting to " + where(p));
        }
        break;
    case CheckStep::connect:
        p.connected = Clock::now();
        if (print) {
            a.report.ok(a.topic, "TCP connection to " + stage.peer);
            a.progress(a.account.security == MailSecurity::tls ? "TLS handshake" : "waiting for the server's greeting");
        }
        break;
    case CheckStep::tls:
        take_tls(a, p, stage, print);
        break;
    case CheckStep::greeting:
        take_greeting(a, p, stage, print);
        break;
    default:
        break;
    }
}

std::string system_reason(int error) {
    return error < 0 ? gai_strerror(error) : std::strerror(error);
}

void explain_lookup(const AccountCheck& a, const Probe& p) {
    const std::string server = log_safe_text(a.account.server);
    if (p.outcome.failure == CheckFailure::settings) {
        a.fail("the port after ':' in " + server + " is not a number from 1 to 65535 " + kAccountTab);
    } else if (p.outcome.error == ENOENT) {
        a.fail("no port in " + server +
               " and the system knows no mail service port: install netbase, or write host:port");
    } else {
        a.fail("cannot look up " + p.host + " (" + system_reason(p.outcome.error) + "): check the server name " +
               kAccountTab + " and the network");
    }
}

void explain_connect(const AccountCheck& a, const Probe& p) {
    switch (p.outcome.error) {
    case ECONNREFUSED:
        a.fail("nothing listens on " + where(p) + ": check the server name and its port " + kAccountTab);
        return;
    case ETIMEDOUT:
        a.fail("no answer from " + where(p) + " in " + seconds_text(ms_since(p.started)) +
               ": a firewall on the way, or no server at that address");
        return;
    default:
        a.fail("cannot connect to " + where(p) + " (" + system_reason(p.outcome.error) + ")");
    }
}

// A greeting of the other protocol under TLS, or in clear: what to choose.
bool other_protocol(const AccountCheck& a, const Probe& p) {
    return p.odd_greeting && p.odd_greeting->speaks != MailProtocol::unknown &&
           p.odd_greeting->speaks != a.account.protocol;
}

// Connected, and no greeting came in clear: a port that wants TLS from the first byte waits for the client's
// handshake in silence (993 or 995 with 方式 0). One handshake on the same port tells.
void try_tls(const AccountCheck& a, const Probe& p) {
    const long long silent = ms_since(p.connected.value_or(p.started));
    const bool quiet = p.outcome.error == ETIMEDOUT; // else the server closed the connection
    a.progress("trying a TLS handshake on " + where(p));
    Probe tried;
    tried.host = p.host;
    tried.outcome = mail_probe_tls(a.account, [&](const ProbeStage& stage) { take_stage(a, tried, stage, false); });
    const std::string clear = quiet ? "the server sent nothing in " + seconds_text(silent)
                                    : "the server ended the connection without a greeting";
    if (tried.tls_spoken && other_protocol(a, tried)) {
        a.fail(std::string("this port wants 2.SSL/TLS and speaks ") + protocol_name(tried.odd_greeting->speaks) +
               ": choose 2.SSL/TLS and " + protocol_choice(tried.odd_greeting->speaks) + " " + kConnectionTab +
               "; in clear " + clear);
    } else if (tried.tls_spoken) {
        a.fail(std::string("this port wants 2.SSL/TLS ") + kConnectionTab + ": in clear " + clear +
               ", but it answers a TLS handshake");
    } else if (quiet) {
        a.fail("connected, but the server sent nothing in " + seconds_text(silent) +
               ", nor answered a TLS handshake: is it a mail server? check the server name and its port " +
               kAccountTab);
    } else {
        a.fail("connected, but the server ended the connection without a greeting (" + system_reason(p.outcome.error) +
               ")");
    }
}

void explain_greeting(const AccountCheck& a, const Probe& p) {
    if (other_protocol(a, p)) {
        a.fail(std::string("this port speaks ") + protocol_name(p.odd_greeting->speaks) + ": choose " +
               protocol_choice(p.odd_greeting->speaks) + " " + kConnectionTab);
    } else if (p.outcome.failure == CheckFailure::unreachable) {
        try_tls(a, p);
    } else if (p.odd_greeting) {
        a.fail(std::string("the server's first words are no ") + protocol_name(a.account.protocol) +
               " greeting: " + p.odd_greeting->greeting);
    } else {
        a.fail(unexplained(p.outcome));
    }
}

void explain_tls(const AccountCheck& a, const Probe& p) {
    if (!p.refused_tls) {
        a.fail(std::string("the server refused to start TLS: choose 2.SSL/TLS ") + kConnectionTab +
               ", or ask the provider");
        return;
    }
    const ProbeStage& stage = *p.refused_tls;
    if (stage.other_host) {
        a.fail(described(stage.certificate) + ", valid for " + joined(stage.certificate.names) + ", not for " + p.host +
               ": use the name it names as the server name " + kAccountTab);
    } else if (!stage.certificate.fingerprint.empty()) {
        a.fail(described(stage.certificate) + ", not trusted (" + log_safe_text(stage.refusal) +
               "): if the server is yours, pin this fingerprint " + kConnectionTab);
    } else if (p.outcome.error == ETIMEDOUT) {
        a.fail("connected, but the server did not answer the TLS handshake in " +
               seconds_text(ms_since(p.connected.value_or(p.started))) + ": is 2.SSL/TLS right for this port? " +
               kConnectionTab);
    } else {
        a.fail("the TLS handshake failed (" + log_safe_text(p.outcome.line) +
               "): the server does not speak TLS on this port, or too old a version");
    }
}

void explain(const AccountCheck& a, const Probe& p) {
    const CheckOutcome& o = p.outcome;
    switch (o.step) {
    case CheckStep::settings:
        if (a.account.credential.kind == CredentialKind::oauth2 && a.account.security == MailSecurity::plain) {
            a.fail(log_safe_text(o.line) + ": choose Security 1 or 2 for the account " + kConnectionTab);
            return;
        }
        break;
    case CheckStep::resolve:
        explain_lookup(a, p);
        return;
    case CheckStep::connect:
        explain_connect(a, p);
        return;
    case CheckStep::greeting:
        explain_greeting(a, p);
        return;
    case CheckStep::tls:
        explain_tls(a, p);
        return;
    default:
        break;
    }
    a.fail(unexplained(o));
}

} // namespace

std::string unexplained(const CheckOutcome& outcome) {
    if (outcome.line.empty()) {
        return std::string("the check ended at the ") + check_step_name(outcome.step) + ": " +
               check_failure_name(outcome.failure);
    }
    return "the check failed: " + log_safe_text(outcome.line) +
           " (see the table of error-log lines in docs/troubleshooting.md)";
}

bool check_reach(AccountCheck& a) {
    if (a.account.security == MailSecurity::unknown) {
        a.fail(std::string("the Security setting is neither 0, 1 nor 2: choose one ") + kConnectionTab);
        return false;
    }
    Probe p;
    p.host = log_safe_text(split_server_name(a.account.server).host);
    a.progress("looking up " + p.host);
    {
        // The greeting's own wait is cut short too: a mute server leaves the rest of the account's time for a TLS
        // handshake on its port.
        ThreadDeadline greeting(Clock::now() + std::chrono::milliseconds(timing().check_greeting_ms));
        p.outcome = mail_probe(a.account, false, [&](const ProbeStage& stage) { take_stage(a, p, stage, true); });
    }
    if (p.outcome.ok()) {
        return true;
    }
    explain(a, p);
    return false;
}
