// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3/pop3.h"

#include "logging/log.h"
#include "logging/log_text.h"
#include "mail/core/check_ids.h"
#include "mail/core/check_outcome.h"
#include "mail/core/check_stop.h"
#include "mail/core/probe_stage.h"
#include "mail/core/sender_filters.h"
#include "mail/net/mail_connection.h"
#include "mail/net/tcp_client.h"
#include "mail/net/tls_settings.h"
#include "mail/pop3/known_hits.h"
#include "mail/pop3/pop3_reply.h"
#include "mail/sasl/sasl_exchange.h"
#include "mail/sasl/token_rejection.h"
#include "platform/secret.h"
#include "platform/text.h"
#include "platform/timing.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

namespace {

constexpr int kBufferSize = 4096;   // commands and replies
constexpr int kLineCapacity = 1024; // one reply line
constexpr int kBlockClear = 2048;   // bytes the block receive clears first
constexpr int kCopySize = 128;      // copies of the server name, user name and password
constexpr int kTrace = 0;           // the trace writers are always called switched off

// One receive of the rest of a TOP reply or of a unique-id listing: a whole TLS record.
constexpr int kTopPieceSize = 16384;
// TOP commands in flight at most with a server that offers PIPELINING: a few hundred bytes of commands, well
// within any socket's send buffer, so that sending never waits for the server to read.
constexpr int kPipelineWindow = 32;
// A TOP reply longer than this is no header block but a server that does not stop.
constexpr std::size_t kTopReplyMax = 16 * 1024 * 1024;

// The err-log lines of one step: a failed send, a failed receive, a reply that is not "+OK"; and where a check that
// ends there ended.
struct StepMessages {
    const char* send_failed;
    const char* receive_failed;
    const char* refused;
    CheckStep step;
};

constexpr StepMessages kGreeting = {
    nullptr,
    "check mail ---> The reception of a POP connection confirmation message is abnormal[no.%d error: %d]",
    "check mail ---> Contents abnormality of a POP connection confirmation message[no.%d error: %d]",
    CheckStep::greeting,
};
constexpr StepMessages kUser = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a user name][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [a user name] message is abnormal[no.%d error: %d]",
    "check mail ---> Contents abnormality of a POP confirmation [a user name] message[no.%d error: %d]",
    CheckStep::user,
};
constexpr StepMessages kPassword = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a password][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [a password] message is abnormal[no.%d error: %d]",
    "check mail ---> Contents abnormality of a POP confirmation [a password] message[no.%d error: %d]",
    CheckStep::login,
};
constexpr StepMessages kCount = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a reception email confirmation "
    "command][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [a reception email confirmation command] message is "
    "abnormal[no.%d error: %d]",
    "check mail ---> Contents abnormality of a POP confirmation [a reception email confirmation command] "
    "message[no.%d error: %d]",
    CheckStep::count,
};
constexpr StepMessages kTitle = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a reception email title "
    "acquisition command][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [a reception email title acquisition command] message is "
    "abnormal[no.%d error: %d]",
    "check mail ---> Contents abnormality of a POP confirmation [a reception email title acquisition command] "
    "message[no.%d error: %d]",
    CheckStep::headers,
};
// A TOP reply's header block that did not come.
constexpr const char* kTitleReception =
    "check mail ---> The reception of a POP confirmation [the title reception] message is abnormal[no.%d error: %d]";
// STLS (RFC 2595). A refusal ends the check as a failure, never with a login in clear.
constexpr StepMessages kStls = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a STLS command][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [a STLS command] message is abnormal[no.%d error: %d]",
    "check mail ---> STLS was refused[no.%d error: %d]",
    CheckStep::tls,
};
// UIDL (RFC 1939). A refusal is no fault: the command is optional, and the check then reads every message.
constexpr StepMessages kUidl = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a unique id listing "
    "command][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [a unique id listing command] message is abnormal[no.%d "
    "error: %d]",
    "check mail ---> Contents abnormality of a POP confirmation [a unique id listing command] message[no.%d error: "
    "%d]",
    CheckStep::count,
};
// CAPA (RFC 2449), asked for before the TOP commands of a filtered pass. A refusal is no fault: the commands then
// go one by one.
constexpr StepMessages kCapa = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a capability listing "
    "command][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [a capability listing command] message is abnormal[no.%d "
    "error: %d]",
    nullptr,
    CheckStep::headers,
};
constexpr StepMessages kEnd = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [an end command][no.%d error: %d]",
    "check mail ---> The reception of a POP confirmation [an end command] message is abnormal[no.%d error: %d]",
    "check mail ---> Contents abnormality of a POP confirmation [an end command] message[no.%d error: %d]",
    CheckStep::logout,
};

// How a step ended: go on, a negative answer (the check gives 0), a transport failure (-1) or a stop asked for by
// the user (-1: the count is not known). All but the first have already closed the connection; the middle two
// have written their line.
enum class Step { ok, refused, failed, stopped };

int result_of(Step step) {
    return step == Step::refused ? 0 : -1;
}

// The working state of one check.
struct Check {
    const Account& account;
    int index = 0;
    char buffer[kBufferSize + 1] = {}; // the last command or reply, always zero-terminated
    int length = 0;                    // out-length of the last reply line
    int error = 0;                     // errno of the step that ended the check
    CheckIds* ids = nullptr;           // asked for by the monitor: which messages make up the count
    CheckOutcome outcome{};            // how the check ended, beside the line it wrote
    const ProbeReport* report = nullptr; // a probe's: what each stage found
    bool tls_first = false;              // a probe's: TLS from the first byte on the port the security names
};

void report(const Check& c, ProbeStage stage) {
    if (c.report != nullptr && *c.report) {
        (*c.report)(stage);
    }
}

void trace_sys(const std::string& text) {
    write_trace(LogKind::sys, kTrace, text.c_str());
}

// A copy of an account field, cut at a line break: the value goes into one command line (RFC 1939), and a CR or
// LF in it would let the settings file smuggle further commands to the server.
void copy_field(char (&copy)[kCopySize], const char* value) {
    fit_text(copy, sizeof copy, value);
    copy[std::strcspn(copy, "\r\n")] = '\0';
}

void close_connection() {
    c_close_socket();
    c_end_socket();
}

// Takes a piece into a multi-line reply; what follows its terminating line goes back to the connection.
void take_piece(TopReply& reply, std::string_view piece) {
    const std::size_t taken = top_reply_take(reply, piece);
    if (taken < piece.size()) {
        pop3_connection().put_back(piece.substr(taken));
    }
}

// What a check makes of a step that ended it: a refused user name or password wants the user, other refusals leave
// the count standing, and a transport failure mends itself (unless the server sent more than any reply holds).
CheckFailure failure_of(Step how, CheckStep at, int error) {
    switch (how) {
    case Step::refused:
        return at == CheckStep::user || at == CheckStep::login ? CheckFailure::refused_login : CheckFailure::refused;
    case Step::stopped:
        return CheckFailure::stopped;
    default:
        return error == EMSGSIZE ? CheckFailure::flood : CheckFailure::unreachable;
    }
}

// Closes, writes the step's message and keeps it as the check's outcome; failure none: as failure_of says.
Step end_step(Check& c, Step how, CheckStep at, const char* message, CheckFailure failure = CheckFailure::none) {
    c.error = errno;
    close_connection();
    write_failure_line(c.outcome, at, failure != CheckFailure::none ? failure : failure_of(how, at, c.error), c.error,
                       format_text(message, c.index, c.error));
    return how;
}

// Sends the command in the buffer (none for the greeting) and reads one reply line into the buffer, whatever it
// says. shown is the command as the trace may see it.
Step send_and_receive(Check& c, const StepMessages& messages, const char* shown) {
    if (messages.send_failed != nullptr) {
        write_pop_trace(kTrace, "(S) ", shown);
        trace_sys(format_text("send ( %s )", shown));
        if (c_send_socket(c.buffer, static_cast<int>(std::strlen(c.buffer))) != 0) {
            return end_step(c, Step::failed, messages.step, messages.send_failed);
        }
    }
    c.length = kLineCapacity;
    if (c_recv_socket(c.buffer, &c.length, '\n') != 0) {
        return end_step(c, Step::failed, messages.step, messages.receive_failed);
    }
    write_pop_trace(kTrace, "(R) ", c.buffer);
    trace_sys(format_text("recv ( %s )", c.buffer));
    return Step::ok;
}

// send_and_receive for a reply that must be positive.
Step exchange(Check& c, const StepMessages& messages, const char* shown) {
    Step step = send_and_receive(c, messages, shown);
    if (step == Step::ok && !reply_ok(c.buffer)) {
        return end_step(c, Step::refused, messages.step, messages.refused);
    }
    return step;
}

Step command(Check& c, const StepMessages& messages, const char* text) {
    std::snprintf(c.buffer, sizeof c.buffer, "%s%c%c", text, 13, 10);
    return exchange(c, messages, c.buffer);
}

// TLS on the connection, before anything of the account crosses it.
Step start_tls(Check& c) {
    char fingerprint[kCopySize];
    copy_field(fingerprint, c.account.fingerprint.c_str());
    if (c_start_tls(fingerprint) != 0) {
        const int error = errno;
        const ProbeStage refused = tls_stage(pop3_connection(), false, error);
        report(c, refused);
        errno = error;
        return end_step(c, Step::failed, CheckStep::tls, "check mail ---> TLS connection is abnormal[no.%d error: %d]",
                        refused.certificate.fingerprint.empty() ? CheckFailure::tls : CheckFailure::certificate);
    }
    report(c, tls_stage(pop3_connection(), true, 0));
    return Step::ok;
}

// Asks a server on the POP3 port to go over to TLS (RFC 2595), right after its greeting.
Step stls(Check& c) {
    Step step = command(c, kStls, "STLS");
    if (step == Step::refused) {
        c.outcome.failure = CheckFailure::tls; // no TLS where the account wants it
        return Step::failed;
    }
    return step == Step::ok ? start_tls(c) : step;
}

// CAPA (RFC 2449) and AUTH (RFC 5034) for an OAuth2 sign-in.
constexpr StepMessages kCapaSignIn = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [a capability command][no.%d "
    "error: %d]",
    "check mail ---> The reception of a POP confirmation [a capability command] message is abnormal[no.%d error: %d]",
    "check mail ---> Contents abnormality of a POP confirmation [a capability command] message[no.%d error: %d]",
    CheckStep::login,
};
constexpr StepMessages kAuth = {
    "check mail ---> The transmission of a message of a message is abnormal to POP [an OAuth2 sign-in][no.%d error: "
    "%d]",
    "check mail ---> The reception of a POP confirmation [an OAuth2 sign-in] message is abnormal[no.%d error: %d]",
    nullptr, // a refusal has a line of its own, with the server's reason
    CheckStep::login,
};

// The SASL mechanisms the server names in its CAPA listing; none when it has no CAPA.
Step read_sasl_mechanisms(Check& c, std::vector<std::string>& mechanisms) {
    std::snprintf(c.buffer, sizeof c.buffer, "CAPA%c%c", 13, 10);
    Step step = send_and_receive(c, kCapaSignIn, c.buffer);
    if (step != Step::ok || !reply_ok(c.buffer)) {
        return step;
    }
    TopReply listing; // dot-terminated like a TOP reply
    char piece[kTopPieceSize];
    int budget = MailConnection::receive_budget_ms();
    while (!listing.done && listing.total <= kTopKeepMax) {
        const int got = pop3_connection().recv_more(piece, sizeof piece, budget);
        if (got <= 0) {
            return end_step(c, Step::failed, CheckStep::login, kCapaSignIn.receive_failed);
        }
        top_reply_take(listing, std::string_view(piece, static_cast<std::size_t>(got)));
    }
    mechanisms = capa_sasl_mechanisms(listing.kept);
    return Step::ok;
}

// The text of a server's challenge line ("+ text" or a bare "+", RFC 5034 4), or nothing for any other line.
std::optional<std::string_view> challenge_text(const char* line) {
    if (line[0] != '+' || (line[1] != ' ' && line[1] != '\r' && line[1] != '\n')) {
        return std::nullopt;
    }
    const char* text = line[1] == ' ' ? line + 2 : line + 1;
    return std::string_view(text, std::strcspn(text, "\r\n"));
}

// Sends text (a secret: wiped here) and reads one reply line into the buffer.
Step send_secret_and_receive(Check& c, std::string& text) {
    write_pop_trace(kTrace, "(S) ", "AUTH ****\r\n");
    const int rc = c_send_socket(text.data(), static_cast<int>(text.size()));
    wipe_secret(text);
    if (rc != 0) {
        return end_step(c, Step::failed, CheckStep::login, kAuth.send_failed);
    }
    std::snprintf(c.buffer, sizeof c.buffer, "%s", "");
    return send_and_receive(c, StepMessages{nullptr, kAuth.receive_failed, nullptr, CheckStep::login}, nullptr);
}

// AUTH OAUTHBEARER or XOAUTH2 (RFC 5034) with the account's access token, through the SASL exchange: in the AUTH
// line when it fits, else after the server's empty challenge. A refusal comes as a challenge with the error in JSON
// (RFC 7628 3.2.2), which the mechanism's own answer lets the server end with -ERR.
Step login_oauth(Check& c) {
    std::vector<std::string> offered;
    Step step = read_sasl_mechanisms(c, offered);
    if (step != Step::ok) {
        return step;
    }
    auto offers = [&](const char* name) { return std::find(offered.begin(), offered.end(), name) != offered.end(); };
    const SaslMechanism mechanism = sasl_oauth_mechanism(offers("OAUTHBEARER"), offers("XOAUTH2"));
    if (mechanism == SaslMechanism::none) {
        errno = EPROTO;
        return end_step(c, Step::failed, CheckStep::login,
                        "check mail ---> The POP server offers no OAuth2 sign-in[no.%d error: %d]",
                        CheckFailure::refused_login);
    }
    SaslExchange sasl;
    if (!sasl.start(mechanism, c.account.user, c.account.credential.secret.view())) {
        errno = EINVAL;
        return end_step(c, Step::failed, CheckStep::token,
                        "check mail ---> The OAuth2 token is unusable[no.%d error: %d]", CheckFailure::no_token);
    }
    const std::string name = sasl_mechanism_name(mechanism);
    std::string text = "AUTH " + name;
    const bool one_line = auth_fits_one_line(name.size(), sasl.initial().size());
    text.reserve(text.size() + sasl.initial().size() + 3);
    if (one_line) {
        text.append(" ").append(sasl.initial());
        sasl.initial_sent_inline();
    }
    text += "\r\n";
    step = send_secret_and_receive(c, text);
    // Once the error challenge is answered, the next line is the server's verdict, whatever it looks like.
    while (step == Step::ok && sasl.state() != SaslExchange::State::error_answered) {
        const std::optional<std::string_view> challenge = challenge_text(c.buffer);
        if (!challenge || sasl.challenge(*challenge, text) != SaslExchange::Reply::respond) {
            break;
        }
        text += "\r\n";
        step = send_secret_and_receive(c, text);
    }
    wipe_secret(text);
    if (step != Step::ok || reply_ok(c.buffer)) {
        return step;
    }
    note_token_rejected(c.index);
    close_connection();
    const std::string& status = sasl.error().status;
    write_failure_line(c.outcome, CheckStep::login, CheckFailure::refused_token, EACCES,
                       format_text("check mail ---> The POP server refused the OAuth2 token (%s %s)[no.%d error: %d]",
                                   name.c_str(), status.empty() ? "-" : status.c_str(), c.index, EACCES));
    return Step::refused;
}

Step login(Check& c) {
    if (c.account.credential.kind == CredentialKind::oauth2) {
        return login_oauth(c);
    }
    char id[kCopySize];
    copy_field(id, c.account.user.c_str());
    std::snprintf(c.buffer, sizeof c.buffer, "USER %s%c%c", id, 13, 10);
    Step step = exchange(c, kUser, c.buffer);
    if (step != Step::ok) {
        return step;
    }
    SecretBuffer<kCopySize> password;
    copy_field(password.text, c.account.credential.secret.c_str());
    std::snprintf(c.buffer, sizeof c.buffer, "PASS %s%c%c", password.text, 13, 10);
    // The password never reaches a log, not even a trace switched on by hand.
    return exchange(c, kPassword, "PASS ****\r\n");
}

// Reads the rest of a multi-line reply (TOP, CAPA) after its first piece, up to its terminating line, however many
// segments or records it comes in: one wait budget for all of it, and a limit on the bytes, so that neither a slow
// nor an endless reply can hold the check. Bytes past the terminating line belong to the next reply (pipelined
// commands) and go back to the connection.
Step read_reply_rest(Check& c, TopReply& reply, const char* receive_failed) {
    constexpr CheckStep kAt = CheckStep::headers; // TOP and the CAPA before the TOP commands
    int budget = MailConnection::receive_budget_ms();
    char piece[kTopPieceSize];
    while (!reply.done) {
        if (reply.total > kTopReplyMax) {
            write_error_logf("LAN operation ---> The reception is abnormal[err: %d]", EMSGSIZE);
            errno = EMSGSIZE;
            return end_step(c, Step::failed, kAt, receive_failed);
        }
        int got = pop3_connection().recv_more(piece, sizeof piece, budget);
        if (got < 0) {
            return end_step(c, Step::failed, kAt, receive_failed);
        }
        if (got == 0) {
            break; // the server closed: the next command finds out
        }
        take_piece(reply, std::string_view(piece, static_cast<std::size_t>(got)));
    }
    return Step::ok;
}

// Sends a batch of TOP commands in one send: one command without pipelining, up to a window of them with it.
Step send_tops(Check& c, const std::string& batch) {
    if (c_send_socket(batch.data(), static_cast<int>(batch.size())) != 0) {
        return end_step(c, Step::failed, kTitle.step, kTitle.send_failed);
    }
    return Step::ok;
}

// Appends TOP n 10 to the batch, with the trace lines its exchange has always had.
void add_top(std::string& batch, long long n, long long count) {
    char line[64];
    std::snprintf(line, sizeof line, "TOP %lld 10%c%c", n, 13, 10);
    trace_sys(format_text("send ( %s )( loop:%lld crflag:%lld )", line, n - 1, count));
    write_pop_trace(kTrace, "(S) ", line);
    trace_sys(format_text("send ( %s )", line));
    batch += line;
}

// Reads the reply to a TOP command already sent for message n into kept. The first block is one receive of the size
// the status line gives; the reply is then read to its end, and kept over its first 64 KB.
Step read_top_reply(Check& c, long long n, long long count, std::string& kept) {
    const long long loop = n - 1;
    constexpr StepMessages kTitleReply = {nullptr, kTitle.receive_failed, kTitle.refused, kTitle.step};
    Step step = exchange(c, kTitleReply, nullptr);
    if (step != Step::ok) {
        return step;
    }
    trace_sys(format_text("recv ( %s )( loop:%lld crflag:%lld )", c.buffer, loop, count));
    const int size = top_block_size(c.buffer, c.length);
    std::memset(c.buffer, 0, sizeof c.buffer);
    trace_sys(format_text("--- start c_recv_socket_setlen( len:%d reclen:%d )", kBlockClear, size));
    int received = kBlockClear;
    if (c_recv_socket_setlen(c.buffer, &received, size) != 0) {
        return end_step(c, Step::failed, kTitle.step, kTitleReception);
    }
    trace_sys(format_text("--- end c_recv_socket_setlen( len:%d reclen:%d )", received, size));
    TopReply reply;
    take_piece(reply, std::string_view(c.buffer, static_cast<std::size_t>(received)));
    step = read_reply_rest(c, reply, kTitleReception);
    if (step != Step::ok) {
        return step;
    }
    write_pop_trace(kTrace, "(R) ", reply.kept.c_str());
    kept = std::move(reply.kept);
    return Step::ok;
}

// Sends "TOP n lines" on its own and reads its reply into kept.
Step read_top(Check& c, long long n, int lines, long long count, std::string& kept) {
    char line[64];
    std::snprintf(line, sizeof line, "TOP %lld %d%c%c", n, lines, 13, 10);
    trace_sys(format_text("send ( %s )( loop:%lld crflag:%lld )", line, n - 1, count));
    write_pop_trace(kTrace, "(S) ", line);
    trace_sys(format_text("send ( %s )", line));
    if (c_send_socket(line, static_cast<int>(std::strlen(line))) != 0) {
        return end_step(c, Step::failed, kTitle.step, kTitle.send_failed);
    }
    return read_top_reply(c, n, count, kept);
}

// Reads the reply to TOP n 10 (the headers and first body lines of message n) and counts its hits.
Step read_headers(Check& c, const SenderFilters& f, long long n, long long count, int& hits) {
    std::string kept;
    Step step = read_top_reply(c, n, count, kept);
    if (step != Step::ok) {
        return step;
    }
    // The block may hold binary bytes, zeros among them: the search covers every byte kept.
    hits += f.hits(kept);
    trace_sys(format_text("--- loop check( loop:%lld crflag:%lld )", n - 1, count));
    return Step::ok;
}

// The reply as one log line: without its line end, everything else escaped that could break or disguise the line.
std::string printable(const Check& c) {
    std::string_view reply(c.buffer, static_cast<std::size_t>(std::clamp(c.length, 0, kLineCapacity + 1)));
    if (reply.ends_with('\r')) {
        reply.remove_suffix(1);
    }
    return log_safe_text(reply);
}

Step quit(Check& c) {
    Step step = command(c, kEnd, "QUIT");
    if (step == Step::refused) {
        write_error_logf("debug ---> %d , %s [no.%d error: %d]", c.length, printable(c).c_str(), c.index, c.error);
    }
    return step;
}

// A stop asked for in the middle of a pass (at the step at) ends the check at once, with QUIT as at any other end.
Step stop_check(Check& c, CheckStep at) {
    if (quit(c) == Step::ok) {
        close_connection();
    }
    c.outcome = CheckOutcome{at, CheckFailure::stopped, 0, {}};
    return Step::stopped;
}

// A stop while pipelined replies are still on their way: QUIT goes out, but its answer would come only after
// them, so the connection closes without waiting for it.
Step stop_pipelined(Check& c) {
    std::snprintf(c.buffer, sizeof c.buffer, "QUIT%c%c", 13, 10);
    write_pop_trace(kTrace, "(S) ", c.buffer);
    if (c_send_socket(c.buffer, static_cast<int>(std::strlen(c.buffer))) != 0) {
        return end_step(c, Step::stopped, kTitle.step, kEnd.send_failed);
    }
    close_connection();
    c.outcome = CheckOutcome{kTitle.step, CheckFailure::stopped, 0, {}};
    return Step::stopped;
}

// What an account's known hits were learned for: with another server, user or filter they mean nothing.
std::string memory_key(const Account& account, const SenderFilters& f) {
    std::string key = account.server + '\0' + account.user;
    for (int i = 0; i < 3; ++i) {
        key += '\0' + f.address[i] + '\0' + std::to_string(f.condition[i]);
    }
    return key;
}

// Reads the unique-id listing (UIDL, RFC 1939) of count messages into list. The list stays empty when the server
// refuses the command or the listing is unusable (with its line in the error log): the pass then reads every
// message, as without the listing.
Step read_listing(Check& c, long long count, UidList& list) {
    std::snprintf(c.buffer, sizeof c.buffer, "UIDL%c%c", 13, 10);
    Step step = send_and_receive(c, kUidl, c.buffer);
    if (step != Step::ok || !reply_ok(c.buffer)) {
        return step;
    }
    // The listing as it comes, within one wait budget.
    UidlParser parser(count);
    char piece[kTopPieceSize];
    int received = 0;
    if (c_recv_socket_setlen(piece, &received, kTopPieceSize) != 0) {
        return end_step(c, Step::failed, kUidl.step, kUidl.receive_failed);
    }
    int budget = MailConnection::receive_budget_ms();
    while (received > 0 &&
           parser.feed(std::string_view(piece, static_cast<std::size_t>(received))) == UidlParser::State::reading) {
        if (check_stop_due()) {
            return stop_check(c, kUidl.step);
        }
        received = pop3_connection().recv_more(piece, sizeof piece, budget);
        if (received < 0) {
            return end_step(c, Step::failed, kUidl.step, kUidl.receive_failed);
        }
    }
    if (parser.state() != UidlParser::State::complete) {
        write_error_logf(kUidl.refused, c.index, EBADMSG);
        return Step::ok;
    }
    list = std::move(parser.list());
    return Step::ok;
}

// Reads the headers of every message whose hits the list does not know (all of them without a list) and adds up
// the hits of all. Up to window TOP commands are in flight: once half of them are answered, the next ones go out
// together, and the replies are read in order. Before each reply it looks for a stop request.
Step read_unknown_headers(Check& c, const SenderFilters& f, long long count, UidList& list, bool by_id, int window,
                          int& hits) {
    auto unknown = [&](long long n) { return !by_id || list.hits(static_cast<std::size_t>(n - 1)) == kHitsUnknown; };
    long long next_send = 1; // the lowest message not yet looked at for sending
    int in_flight = 0;       // commands sent whose replies are not read yet
    for (long long n = 1; n <= count; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        if (!unknown(n)) {
            hits += list.hits(i);
            continue;
        }
        if (check_stop_due()) {
            return in_flight > 0 ? stop_pipelined(c) : stop_check(c, kTitle.step);
        }
        if (in_flight <= window / 2) {
            std::string batch;
            for (; in_flight < window && next_send <= count; ++next_send) {
                if (unknown(next_send)) {
                    trace_sys(format_text("--- loop start( loop:%lld < crflag:%lld )", next_send - 1, count));
                    add_top(batch, next_send, count);
                    ++in_flight;
                }
            }
            Step step = send_tops(c, batch);
            if (step != Step::ok) {
                return step;
            }
        }
        int found = 0;
        Step step = read_headers(c, f, n, count, found);
        --in_flight;
        if (step != Step::ok) {
            return step;
        }
        if (by_id) {
            list.set_hits(i, static_cast<std::uint8_t>(std::min(found, kHitsUnknown - 1)));
        }
        hits += found;
    }
    return Step::ok;
}

// The messages of the pass whose headers must be read.
long long unknown_count(long long count, const UidList& list, bool by_id) {
    if (!by_id) {
        return count;
    }
    long long unknown = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        unknown += list.hits(i) == kHitsUnknown ? 1 : 0;
    }
    return unknown;
}

// How many TOP commands may be in flight: kPipelineWindow when the server lists PIPELINING in its capabilities
// (CAPA, RFC 2449), else one. A server that refuses CAPA or sends a listing that does not end is no fault: the
// commands then go one by one.
Step pipeline_window(Check& c, int& window) {
    window = 1;
    std::snprintf(c.buffer, sizeof c.buffer, "CAPA%c%c", 13, 10);
    Step step = send_and_receive(c, kCapa, c.buffer);
    if (step != Step::ok || !reply_ok(c.buffer)) {
        return step;
    }
    TopReply listing;
    step = read_reply_rest(c, listing, kCapa.receive_failed);
    if (step == Step::ok && listing.done && capa_offers(listing.kept, "PIPELINING")) {
        window = kPipelineWindow;
    }
    return step;
}

// The sender filter pass over count messages. With the server's unique-id listing only messages whose ids no
// earlier pass has read are asked for with TOP; the hits of the others come from the account's memory, so the
// result is the one a pass over every message gives.
Step filter_pass(Check& c, const SenderFilters& f, long long count, int& hits) {
    const char* a[] = {f.address[0].c_str(), f.address[1].c_str(), f.address[2].c_str()};
    trace_sys(format_text("A check start of a specification email address ( %s %s %s)( crflag:%lld )", a[0], a[1], a[2],
                          count));
    check_stop_arm();
    const std::string key = memory_key(c.account, f);
    UidList known = take_known_hits(c.index, key);
    UidList list;
    Step step = count > 0 ? read_listing(c, count, list) : Step::ok;
    const bool by_id = static_cast<long long>(list.size()) == count;
    int window = 1;
    if (step == Step::ok) {
        list.learn_from(known);
        // Pipelining pays from the second TOP on; a pass with none or one asks nothing more of the server.
        if (unknown_count(count, list, by_id) > 1) {
            step = pipeline_window(c, window);
        }
    }
    if (step == Step::ok) {
        step = read_unknown_headers(c, f, count, list, by_id, window, hits);
    }
    if (step == Step::stopped) {
        return step; // the monitor ends, and its memory with it
    }
    if (step == Step::ok && c.ids != nullptr && by_id) {
        c.ids->known = true;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list.hits(i) != kHitsUnknown && list.hits(i) > 0) {
                c.ids->messages.push_back({std::string(list.id(i)), list.hits(i)});
            }
        }
    }
    // A pass cut short keeps what it learned; one without a listing keeps what earlier passes learned.
    keep_known_hits(c.index, key, by_id ? std::move(list) : std::move(known));
    if (step != Step::ok) {
        return step;
    }
    trace_sys(format_text("--- loop check( loop:%lld crflag:%d trflag:%d )", count, hits, hits));
    trace_sys(format_text("The check end of a specification email address ( %s %s %s )(crflag:%d trflag:%d)", a[0],
                          a[1], a[2], hits, hits));
    return Step::ok;
}

// For the desktop notification, when the count rose above what the monitor saw last: the headers alone ("TOP n 0")
// of the newest new messages, at most three, newest first. Maildrops list the oldest message first.
Step read_newest_headers(Check& c, long long count) {
    if (c.ids->announce_above < 0 || count <= c.ids->announce_above) {
        return Step::ok;
    }
    const long long first = std::max<long long>(c.ids->announce_above + 1, count - 2);
    for (long long n = count; n >= first; --n) {
        std::string kept;
        if (Step step = read_top(c, n, 0, count, kept); step != Step::ok) {
            return step;
        }
        c.ids->newest_headers.push_back(std::move(kept));
    }
    return Step::ok;
}

// The unique ids of the count messages, for the acknowledge: one UIDL when mail waits. Without a usable listing
// the ids stay unknown, and the acknowledge goes by the count.
Step name_messages(Check& c, long long count) {
    if (count <= 0) {
        c.ids->known = true;
        return Step::ok;
    }
    check_stop_arm();
    UidList list;
    Step step = read_listing(c, count, list);
    if (step == Step::ok && static_cast<long long>(list.size()) == count) {
        c.ids->known = true;
        for (std::size_t i = 0; i < list.size(); ++i) {
            c.ids->messages.push_back({std::string(list.id(i)), 1});
        }
    }
    return step == Step::ok ? read_newest_headers(c, count) : step;
}

// A failure before the connection stands: its line, and the check fails without a word to any server.
Step fail_early(Check& c, CheckStep at, CheckFailure failure, int error, const char* message) {
    write_failure_line(c.outcome, at, failure, error, format_text(message, c.index, error));
    return Step::failed;
}

// The settings that forbid any connection, then the sockets layer, the name and the connection.
Step connect(Check& c) {
    const MailSecurity security = c.account.security;
    if (security == MailSecurity::unknown) {
        return fail_early(c, CheckStep::settings, CheckFailure::settings, EINVAL,
                          "check mail ---> The security setting is abnormal[no.%d error: %d]");
    }
    if (security == MailSecurity::plain && c.account.credential.kind == CredentialKind::oauth2) {
        // A bearer token is as good as the password to whoever reads it on the way.
        return fail_early(c, CheckStep::settings, CheckFailure::settings, EPERM,
                          "check mail ---> OAuth2 is refused without TLS: Security must be 1 or 2[no.%d error: %d]");
    }
    if (c_init_socket() != 0) {
        return fail_early(c, CheckStep::connect, CheckFailure::unreachable, errno,
                          "check mail ---> Initial abnormality[no.%d error: %d]");
    }
    char server[kCopySize];
    copy_field(server, c.account.server.c_str());
    if (c_make_socket_for(server, mail_service(security)) != 0) {
        int error = errno;
        c_end_socket();
        // EINVAL: the port written after the server's name is none.
        return fail_early(c, CheckStep::resolve, error == EINVAL ? CheckFailure::settings : CheckFailure::unreachable,
                          error, "check mail ---> Making (POP) is abnormal[no.%d error: %d]");
    }
    report(c, resolve_stage(pop3_connection()));
    if (c_connect_socket() != 0) {
        int error = errno;
        c_end_socket();
        return fail_early(c, CheckStep::connect, CheckFailure::unreachable, error,
                          "check mail ---> TCP/IP connection is abnormal[no.%d error: %d]");
    }
    report(c, connect_stage(pop3_connection()));
    return Step::ok;
}

// Connected, greeted and over to TLS as the account's security says: everything before the login.
Step reach(Check& c) {
    const MailSecurity security = c.tls_first ? MailSecurity::tls : c.account.security;
    Step step = connect(c);
    if (step == Step::ok && security == MailSecurity::tls) {
        step = start_tls(c);
    }
    if (step == Step::ok) {
        step = exchange(c, kGreeting, nullptr);
        // A first line that is no "+OK" is shown as well: it may be another protocol's greeting.
        if ((step == Step::ok || step == Step::refused) && c.report != nullptr) {
            report(c, greeting_stage(std::string_view(c.buffer, static_cast<std::size_t>(
                                                                    std::clamp(c.length, 0, kLineCapacity + 1))),
                                     step == Step::ok));
        }
    }
    if (step == Step::ok && security == MailSecurity::stls) {
        step = stls(c);
    }
    if (step == Step::ok && security == MailSecurity::plain) {
        report(c, tls_stage(pop3_connection(), true, 0)); // no TLS: nothing is encrypted
    }
    return step;
}

int check_account(Check& c) {
    Step step = reach(c);
    if (step == Step::ok) {
        step = login(c);
    }
    if (step == Step::ok) {
        step = command(c, kCount, "STAT");
    }
    if (step != Step::ok) {
        return result_of(step);
    }
    const long long count = stat_message_count(c.buffer);
    if (count > kStatCountMax) {
        errno = EOVERFLOW;
        return result_of(end_step(c, Step::refused, CheckStep::count,
                                  "check mail ---> The number of emails of a POP confirmation [a reception email "
                                  "confirmation command] message is abnormal[no.%d error: %d]",
                                  CheckFailure::protocol_broken));
    }
    int result = static_cast<int>(count);
    const SenderFilters& filters = c.account.filters;
    if (filters.any()) {
        int hits = 0;
        step = filter_pass(c, filters, count, hits);
        if (step != Step::ok) {
            return result_of(step);
        }
        result = hits;
    } else if (c.ids != nullptr) {
        step = name_messages(c, count);
        if (step != Step::ok) {
            return result_of(step);
        }
    }
    step = quit(c);
    if (step != Step::ok) {
        return result_of(step);
    }
    close_connection();
    return result;
}

// The TCP client has one connection for the whole process: two checks at once would share it.
std::mutex g_check_mutex;

} // namespace

CheckOutcome pop3_probe_tls(const Account& account, const ProbeReport& observer) {
    std::lock_guard lock(g_check_mutex);
    Check c{account, account.index};
    c.report = &observer;
    c.tls_first = true;
    errno = 0;
    if (reach(c) == Step::ok && quit(c) == Step::ok) {
        close_connection();
    }
    return std::move(c.outcome);
}

CheckOutcome pop3_probe(const Account& account, bool login_too, const ProbeReport& observer) {
    std::lock_guard lock(g_check_mutex);
    Check c{account, account.index};
    c.report = &observer;
    errno = 0; // a negative answer reports the error number in force, which no failure has set
    Step step = reach(c);
    if (step == Step::ok && login_too) {
        step = login(c);
        if (step == Step::ok) {
            ProbeStage stage;
            stage.step = CheckStep::login;
            report(c, std::move(stage));
        }
    }
    if (step == Step::ok && quit(c) == Step::ok) {
        close_connection();
    }
    wipe_secret(c.buffer, sizeof c.buffer); // it may still hold the PASS command
    return std::move(c.outcome);
}

int pop3_check(const Account& account, CheckIds* ids, CheckOutcome* outcome) {
    std::lock_guard lock(g_check_mutex);
    Check c{account, account.index};
    c.ids = ids;
    if (ids != nullptr) {
        const long long announce_above = ids->announce_above; // asked by the caller; the rest is the answer
        *ids = CheckIds{};
        ids->announce_above = announce_above;
    }
    errno = 0; // a negative answer reports the error number in force, which no failure has set
    int result = check_account(c);
    wipe_secret(c.buffer, sizeof c.buffer); // it may still hold the PASS command
    if (outcome != nullptr) {
        *outcome = std::move(c.outcome);
    }
    return result;
}
