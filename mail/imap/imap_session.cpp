// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap_session.h"

#include "logging/log.h"
#include "logging/log_text.h"
#include "mail/imap/folder_choice.h"
#include "mail/imap/imap_command.h"
#include "mail/imap/imap_text.h"
#include "mail/net/tls_settings.h"
#include "mail/sasl/sasl_exchange.h"
#include "mail/sasl/token_rejection.h"
#include "platform/secret.h"
#include "platform/timing.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kImapPort = 143;
constexpr int kImapsPort = 993; // TLS from the first byte (RFC 8314)
// Servers limit the length of a command line; RFC 7162 asks them to take at least 8192 bytes. A longer set of
// message numbers goes out in several FETCH commands.
constexpr std::size_t kMaxSetText = 8000;

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// "1:3,7,9:10": the numbers in ascending runs.
std::vector<std::string> set_texts(std::vector<std::uint32_t> numbers) {
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<std::string> sets(1);
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) {
            ++j;
        }
        std::string run = std::to_string(numbers[i]);
        if (j > i) {
            run.append(":").append(std::to_string(numbers[j]));
        }
        if (!sets.back().empty() && sets.back().size() + run.size() + 1 > kMaxSetText) {
            sets.emplace_back();
        }
        sets.back() += (sets.back().empty() ? "" : ",") + run;
        i = j + 1;
    }
    if (sets.back().empty()) {
        sets.pop_back();
    }
    return sets;
}

// Appends an argument to a command in pieces: quoted in the current piece, or as a literal whose bytes start the
// next piece, sent once the server has let it in (RFC 3501 4.3, 7.5). The pieces' storage is reserved by the
// caller, so that no copy of a password is left behind by a string that grows or a vector that moves.
void append_argument(std::vector<std::string>& pieces, std::string_view text) {
    if (imap_argument_form(text) == ImapArgument::quoted) {
        imap_append_quoted(pieces.back(), text);
        return;
    }
    pieces.back().append("{").append(std::to_string(text.size())).append("}\r\n");
    // As much room as the first piece: the password may follow in this one (a user name that needs a literal,
    // then a password that does not).
    const std::size_t room = pieces.front().capacity();
    pieces.emplace_back().reserve(room);
    pieces.back() += text;
}

// Pieces with room for a command of up to size bytes, a password among them.
std::vector<std::string> reserved_pieces(std::size_t size) {
    std::vector<std::string> pieces(1);
    pieces.reserve(4);
    pieces.front().reserve(2 * size + 64); // quoting may double every byte
    return pieces;
}

void wipe(std::vector<std::string>& pieces) {
    for (std::string& piece : pieces) {
        wipe_secret(piece);
    }
}

} // namespace

std::vector<std::string> ImapSession::step_names() {
    std::vector<std::string> names;
    for (const ImapStep* step : {&kGreeting, &kCapability, &kStarttls, &kLogin, &kId, &kEnable, &kExamine, &kStatus,
                                 &kList, &kNotify, &kSearch, &kFetch, &kLogout, &kIdle, &kDone}) {
        names.emplace_back(step->name);
    }
    return names;
}

ImapSession::~ImapSession() {
    close();
}

void ImapSession::close() {
    connection_.close();
    parser_ = ImapParser(kHeaderLimit);
    idle_tag_.clear();
    examined_.clear();
}

bool ImapSession::offers(std::string_view capability) const {
    return std::find(capabilities_.begin(), capabilities_.end(), capability) != capabilities_.end();
}

ImapSession::Result ImapSession::read_capabilities(const Step& step) {
    capabilities_.clear();
    return command(step, {"CAPABILITY\r\n"});
}

ImapSession::Result ImapSession::connect_and_greet() {
    const MailSecurity security = account_.security;
    if (connection_.resolve(account_.server.c_str(), security == MailSecurity::tls ? kImapsPort : kImapPort) != 0) {
        // EINVAL: the port written after the server's name is none.
        const int error = errno;
        return fail_line(CheckStep::resolve, error == EINVAL ? CheckFailure::settings : CheckFailure::unreachable,
                         "check mail ---> Making (IMAP) is abnormal[no.%d error: %d]", error);
    }
    report(resolve_stage(connection_));
    if (connection_.connect() != 0) {
        return fail_line(CheckStep::connect, CheckFailure::unreachable,
                         "check mail ---> TCP/IP connection is abnormal[no.%d error: %d]", errno);
    }
    report(connect_stage(connection_));
    if (security == MailSecurity::tls || tls_first_) {
        if (connection_.start_tls(account_.fingerprint.c_str()) != 0) {
            return tls_failed(errno);
        }
        report(tls_stage(connection_, true, 0));
    }
    ImapResponse greeting;
    std::string first_line;
    ImapExchange x{.step = &kGreeting,
                   .deadline = Clock::now() + std::chrono::milliseconds(MailConnection::receive_budget_ms()),
                   .first_line = &first_line};
    Result r = read_response(greeting, x);
    const bool broken = r == Result::ok && (greeting.kind != ImapResponse::Kind::untagged || !greeting.is_status() ||
                                            greeting.keyword == "NO" || greeting.keyword == "BAD");
    // A line that is no IMAP greeting is shown as well: it may be another protocol's.
    if (report_ && (broken || outcome_.failure == CheckFailure::protocol_broken) && !first_line.empty()) {
        report(greeting_stage(first_line, false));
    }
    if (r != Result::ok) {
        return r;
    }
    if (broken) {
        return fail(kGreeting, kBroken, EPROTO);
    }
    if (greeting.keyword == "BYE") {
        return fail(kGreeting, kRefused, 0);
    }
    if (greeting.keyword == "PREAUTH") {
        // Logged in before a word was said: there is no way to STARTTLS or to log in as this account.
        return fail(kGreeting, kRefused, 0);
    }
    take_capabilities(greeting);
    r = capabilities_.empty() ? read_capabilities(kCapability) : Result::ok;
    if (r == Result::ok && report_) {
        report(greeting_stage(first_line, true));
    }
    return r;
}

ImapSession::Result ImapSession::tls_failed(int error) {
    const ProbeStage refused = tls_stage(connection_, false, error);
    report(refused);
    // A certificate shown is one the verifier refused; without one, TLS itself failed.
    return fail_line(CheckStep::tls,
                     refused.certificate.fingerprint.empty() ? CheckFailure::tls : CheckFailure::certificate,
                     "check mail ---> TLS connection is abnormal[no.%d error: %d]", error);
}

void ImapSession::report(ProbeStage stage) const {
    if (report_) {
        stage.capabilities = capabilities_;
        report_(stage);
    }
}

ImapSession::Result ImapSession::starttls() {
    if (!offers("STARTTLS")) {
        return fail_line(CheckStep::tls, CheckFailure::tls,
                         "check mail ---> STARTTLS is not offered by the IMAP server[no.%d error: %d]", EPROTO);
    }
    ImapCommand c{.step = &kStarttls, .pieces = {"STARTTLS\r\n"}};
    c.on_tagged = [this](const ImapResponse& r, bool ours) {
        if (ours && r.keyword != "OK") {
            return fail_line(CheckStep::tls, CheckFailure::tls, "check mail ---> STARTTLS was refused[no.%d error: %d]",
                             EPROTO);
        }
        return answered(kStarttls, r, ours, true);
    };
    if (Result r = command(c); r != Result::ok) {
        return r;
    }
    // Whatever came after the answer came in clear and must not be taken as the server's words under TLS
    // (RFC 3501 6.2.1); the connection checks its own buffer the same way.
    if (parser_.holds_bytes()) {
        return fail(kStarttls, kBroken, EPROTO);
    }
    if (connection_.start_tls(account_.fingerprint.c_str()) != 0) {
        return tls_failed(errno);
    }
    const Result r = read_capabilities(kCapabilityTls); // those learnt in clear may have been forged
    if (r == Result::ok) {
        report(tls_stage(connection_, true, 0));
    }
    return r;
}

// AUTHENTICATE (RFC 3501 6.2.2) with the SASL exchange: PLAIN with the password, or OAUTHBEARER or XOAUTH2 with the
// account's access token. The initial response goes in the command itself where the server takes one there
// (SASL-IR, RFC 4959), else after its empty challenge. A refused token comes as a challenge with the error in JSON
// (RFC 7628 3.2.2), which the mechanism's own answer lets the server end with NO; after that answer only the tagged
// completion may come.
ImapSession::Result ImapSession::login_sasl(bool oauth) {
    const SaslMechanism mechanism =
        oauth ? sasl_oauth_mechanism(offers("AUTH=OAUTHBEARER"), offers("AUTH=XOAUTH2")) : SaslMechanism::plain;
    if (mechanism == SaslMechanism::none) {
        return fail_line(CheckStep::login, CheckFailure::refused_login,
                         "check mail ---> The IMAP server offers no OAuth2 sign-in[no.%d error: %d]", EPROTO);
    }
    SaslExchange sasl;
    if (!sasl.start(mechanism, account_.user, account_.credential.secret.view())) {
        return fail_line(CheckStep::token, CheckFailure::no_token,
                         "check mail ---> The OAuth2 token is unusable[no.%d error: %d]", EINVAL);
    }
    ImapCommand c{.step = &kLogin, .pieces = std::vector<std::string>(1)};
    std::string& text = c.pieces.front();
    text.reserve(sasl.initial().size() + 40);
    text.append("AUTHENTICATE ").append(sasl_mechanism_name(mechanism));
    if (offers("SASL-IR")) {
        text.append(" ").append(sasl.initial());
        sasl.initial_sent_inline();
    }
    text += "\r\n";
    c.on_continuation = [&sasl](const ImapResponse& r, std::string& answer) {
        return sasl.challenge(r.text, answer) == SaslExchange::Reply::respond ? ImapTurn::go_on : ImapTurn::broken;
    };
    c.on_untagged = [&sasl](const ImapResponse&, const std::string&) {
        return sasl.state() == SaslExchange::State::error_answered ? ImapTurn::broken : ImapTurn::go_on;
    };
    if (oauth) {
        c.on_tagged = [&](const ImapResponse& r, bool ours) {
            if (!ours || r.keyword == "OK") {
                return answered(kLogin, r, ours, true);
            }
            token_refused_ = true;
            note_refusal(r);
            note_token_rejected(index_);
            const std::string& status = sasl.error().status;
            write_failure_line(outcome_, CheckStep::login, CheckFailure::refused_token, EACCES,
                               format_text("check mail ---> The IMAP server refused the OAuth2 token (%s %s)[no.%d "
                                           "error: %d]",
                                           sasl_mechanism_name(mechanism), status.empty() ? "-" : status.c_str(),
                                           index_, EACCES));
            close();
            return Result::refused;
        };
    }
    capabilities_.clear(); // the server may offer more once logged in, and often says so in its answer
    const Result result = command(c);
    wipe_secret(text);
    return result;
}

ImapSession::Result ImapSession::login() {
    Result result;
    if (account_.credential.kind == CredentialKind::oauth2 || offers("AUTH=PLAIN")) {
        result = login_sasl(account_.credential.kind == CredentialKind::oauth2);
    } else if (offers("LOGINDISABLED")) {
        write_failure_line(
            outcome_, CheckStep::login, CheckFailure::refused_login, EACCES,
            format_text("check mail ---> LOGIN is disabled by the IMAP server[no.%d error: %d]", index_, EACCES));
        close();
        return Result::refused;
    } else {
        const std::string& id = account_.user;
        const std::string_view secret = account_.credential.secret.view();
        ImapCommand c{.step = &kLogin, .pieces = reserved_pieces(id.size() + secret.size())};
        c.pieces.front() += "LOGIN ";
        append_argument(c.pieces, id);
        c.pieces.back() += ' ';
        append_argument(c.pieces, secret);
        c.pieces.back() += "\r\n";
        capabilities_.clear(); // the server may offer more once logged in, and often says so in its answer
        result = command(c);
        wipe(c.pieces);
    }
    if (result == Result::ok && capabilities_.empty()) {
        result = read_capabilities(kCapabilityLogin);
    }
    return result;
}

ImapSession::Result ImapSession::open() {
    Result result = reach();
    if (result == Result::ok) {
        result = login();
    }
    if (result == Result::ok && offers("ID")) {
        result = identify();
    }
    if (result == Result::ok) {
        report(ProbeStage{.step = CheckStep::login});
    }
    return result;
}

ImapSession::Result ImapSession::reach() {
    token_refused_ = false;
    outcome_ = {};
    refusal_code_.clear();
    changes_ = {};
    const MailSecurity security = account_.security;
    if (security == MailSecurity::unknown) {
        write_failure_line(
            outcome_, CheckStep::settings, CheckFailure::settings, EINVAL,
            format_text("check mail ---> The security setting is abnormal[no.%d error: %d]", index_, EINVAL));
        return Result::failed;
    }
    if (security == MailSecurity::plain && account_.credential.kind == CredentialKind::oauth2) {
        // A bearer token is as good as the password to whoever reads it on the way.
        write_failure_line(outcome_, CheckStep::settings, CheckFailure::settings, EPERM,
                           format_text("check mail ---> OAuth2 is refused without TLS: Security must be 1 or 2[no.%d "
                                       "error: %d]",
                                       index_, EPERM));
        return Result::failed;
    }
    // Nothing learnt on an earlier connection holds for this one: the server may have changed, or the list may
    // have been the one from before TLS or before the login.
    capabilities_.clear();
    utf8_ = false;
    Result result = connect_and_greet();
    if (tls_first_) {
        return result;
    }
    if (result == Result::ok && security == MailSecurity::stls) {
        return starttls();
    }
    if (result == Result::ok && security == MailSecurity::plain) {
        report(tls_stage(connection_, true, 0)); // no TLS: nothing is encrypted
    }
    return result;
}

ImapSession::Result ImapSession::enable_utf8() {
    return command(kEnable, {"ENABLE UTF8=ACCEPT\r\n"}, [this](const ImapResponse& r) {
        if (r.keyword == "ENABLED") {
            for (const ImapValue& v : r.data) {
                utf8_ = utf8_ || v.text == "UTF8=ACCEPT";
            }
        }
    });
}

// ID (RFC 2971): the client's name and version. A refusal is no reason to give up the connection.
ImapSession::Result ImapSession::identify() {
    ImapCommand c{.step = &kId, .pieces = {"ID (\"name\" \"kd5lite\" \"version\" \"" KD5LITE_VERSION "\")\r\n"}};
    c.on_tagged = [this](const ImapResponse& r, bool ours) {
        if (!ours) {
            return fail(kId, kBroken, EPROTO);
        }
        take_capabilities(r);
        return Result::ok;
    };
    return command(c);
}

int ImapSession::keep_alive() {
    const Timing& t = timing();
    return connection_.keep_alive(t.keepalive_idle_ms, t.keepalive_interval_ms, t.keepalive_probes);
}

ImapSession::Result ImapSession::examine() {
    return examine(account_.folder.empty() ? std::string("INBOX") : account_.folder, nullptr);
}

ImapSession::Result ImapSession::append_folder(std::vector<std::string>& pieces, const std::string& folder) {
    std::string name;
    if (!mailbox_utf7(folder, name)) {
        return fail_line(CheckStep::folder, CheckFailure::settings,
                         "check mail ---> The folder name is abnormal[no.%d error: %d]", EILSEQ);
    }
    const bool ascii = std::all_of(folder.begin(), folder.end(), [](char c) { return (c & 0x80) == 0; });
    if (!ascii && !utf8_ && offers("UTF8=ACCEPT")) {
        if (Result r = enable_utf8(); r != Result::ok) {
            return r;
        }
    }
    if (utf8_ && folder.find_first_of("\r\n") == std::string::npos) {
        // RFC 6855: once UTF8=ACCEPT is enabled, names are UTF-8, and quoted strings may carry it.
        imap_append_quoted(pieces.back(), folder);
        return Result::ok;
    }
    append_argument(pieces, name);
    return Result::ok;
}

std::string ImapSession::folder_name(const std::string& sent) const {
    std::string name;
    if (utf8_ || !mailbox_from_utf7(sent, name)) {
        return sent;
    }
    return is_inbox(name) ? std::string("INBOX") : name;
}

ImapSession::Result ImapSession::folder_command(ImapCommand& c, bool* missing) {
    c.on_tagged = [this, &c, missing](const ImapResponse& r, bool ours) {
        // NO: the folder cannot be opened (gone, never made, not ours); BAD is a command the server does not take.
        if (ours && r.keyword == "NO" && missing != nullptr) {
            note_refusal(r);
            *missing = true;
            return Result::ok;
        }
        return answered(*c.step, r, ours, true);
    };
    return command(c);
}

ImapSession::Result ImapSession::examine(const std::string& folder, bool* missing) {
    uid_validity_.clear();
    highest_modseq_ = 0;
    examined_.clear();
    if (missing != nullptr) {
        *missing = false;
    }
    ImapCommand c{.step = &kExamine, .pieces = {"EXAMINE "}, .owns = " FLAGS EXISTS RECENT "};
    if (Result r = append_folder(c.pieces, folder); r != Result::ok) {
        return r;
    }
    c.pieces.back() += "\r\n";
    // "* OK [UIDVALIDITY n]" (RFC 3501 7.1): the UIDs of the folder mean the same messages only while n stays.
    c.on_untagged = [this](const ImapResponse& r, const std::string&) {
        if (r.keyword == "OK" && r.code.starts_with("UIDVALIDITY ")) {
            uid_validity_ = r.code.substr(12);
        } else if (r.keyword == "OK" && r.code.starts_with("HIGHESTMODSEQ ")) {
            highest_modseq_ = std::strtoull(r.code.c_str() + 14, nullptr, 10);
        }
        return ImapTurn::go_on;
    };
    const Result r = folder_command(c, missing);
    if (r == Result::ok && (missing == nullptr || !*missing)) {
        examined_ = folder;
    }
    return r;
}

ImapSession::Result ImapSession::status(const std::string& folder, MailboxStatus& answer, bool* missing) {
    answer = MailboxStatus{};
    *missing = false;
    ImapCommand c{.step = &kStatus, .pieces = {"STATUS "}, .owns = " STATUS "};
    if (Result r = append_folder(c.pieces, folder); r != Result::ok) {
        return r;
    }
    c.pieces.back() += offers("CONDSTORE") ? " (UNSEEN UIDVALIDITY HIGHESTMODSEQ)\r\n" : " (UNSEEN UIDVALIDITY)\r\n";
    c.on_untagged = [this, &answer, &folder](const ImapResponse& r, const std::string&) {
        MailboxStatus found;
        if (mailbox_status(r, found) && folder_name(found.name) == folder) {
            answer = std::move(found);
            answer.name = folder;
        }
        return ImapTurn::go_on;
    };
    return folder_command(c, missing);
}

ImapSession::Result ImapSession::list_folders(std::vector<ListedMailbox>& folders,
                                              std::vector<MailboxStatus>* statuses) {
    constexpr std::size_t kMaxFolders = 10000;
    folders.clear();
    std::string options;
    if (offers("LIST-EXTENDED") && offers("SPECIAL-USE")) {
        options = "SPECIAL-USE";
    }
    if (statuses != nullptr) {
        statuses->clear();
        if (offers("LIST-EXTENDED") && offers("LIST-STATUS")) {
            options +=
                offers("CONDSTORE") ? " STATUS (UNSEEN UIDVALIDITY HIGHESTMODSEQ)" : " STATUS (UNSEEN UIDVALIDITY)";
        }
    }
    if (!options.empty() && options.front() == ' ') {
        options.erase(0, 1);
    }
    std::string text = "LIST \"\" \"*\"";
    if (!options.empty()) {
        text += " RETURN (" + options + ")";
    }
    bool too_many = false;
    ImapCommand c{.step = &kList, .pieces = {text + "\r\n"}, .byte_budget = kSearchBytes, .owns = " LIST STATUS "};
    c.on_untagged = [&](const ImapResponse& r, const std::string&) {
        ListedMailbox listed;
        MailboxStatus status;
        if (list_mailbox(r, listed)) {
            too_many = too_many || folders.size() == kMaxFolders;
            if (!too_many) {
                listed.name = folder_name(listed.name);
                folders.push_back(std::move(listed));
            }
        } else if (statuses != nullptr && mailbox_status(r, status) && statuses->size() < kMaxFolders) {
            status.name = folder_name(status.name);
            statuses->push_back(std::move(status));
        }
        return ImapTurn::go_on;
    };
    const Result r = command(c);
    if (r == Result::ok && too_many) {
        return fail(kList, kReceiveFailed, EMSGSIZE);
    }
    return r;
}

ImapSession::Result ImapSession::notify(const std::vector<std::string>& folders,
                                        const std::function<void(const MailboxStatus&)>& each_status, bool* refused) {
    *refused = false;
    constexpr char kEvents[] = "(MessageNew MessageExpunge FlagChange)";
    ImapCommand c{.step = &kNotify,
                  .pieces = {std::string("NOTIFY SET STATUS (selected ") + kEvents + ") ("},
                  .owns = " STATUS "};
    std::vector<std::string> names(1);
    for (const std::string& folder : folders) {
        names.back() += names.size() == 1 && names.back().empty() ? "" : " ";
        if (Result r = append_folder(names, folder); r != Result::ok) {
            return r;
        }
    }
    if (names.size() == 1 && names.front().size() <= kMaxSetText) {
        c.pieces.back().append("mailboxes (").append(names.front()).append(") ");
    } else {
        // Too long for one command line, or names only a literal carries: every folder of the user is watched,
        // and the notices of the others are left unread by the caller.
        c.pieces.back().append("personal ");
    }
    c.pieces.back().append(kEvents).append(")\r\n");
    c.on_untagged = [this, &each_status](const ImapResponse& r, const std::string&) {
        MailboxStatus status;
        if (mailbox_status(r, status)) {
            status.name = folder_name(status.name);
            each_status(status);
        }
        return ImapTurn::go_on;
    };
    c.on_tagged = [this, refused](const ImapResponse& r, bool ours) {
        if (ours && r.keyword != "OK") {
            note_refusal(r);
            *refused = true;
            return Result::ok;
        }
        return answered(kNotify, r, ours, false);
    };
    return command(c);
}

namespace {

void sort_unique(std::vector<std::uint32_t>& numbers) {
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
}

} // namespace

ImapSession::Result ImapSession::search_unseen(std::vector<std::uint32_t>& numbers) {
    return search("SEARCH UNSEEN\r\n", numbers);
}

ImapSession::Result ImapSession::uid_search_unseen(std::vector<std::uint32_t>& uids) {
    return search("UID SEARCH UNSEEN\r\n", uids);
}

ImapSession::Result ImapSession::search(const char* text, std::vector<std::uint32_t>& numbers) {
    numbers.clear();
    bool too_many = false;
    std::size_t unique = 0; // numbers known to be distinct: the front of the list after the last tidying
    ImapCommand c{.step = &kSearch, .pieces = {text}, .byte_budget = kSearchBytes, .owns = " SEARCH "};
    c.on_untagged = [&](const ImapResponse& response, const std::string&) {
        std::vector<std::uint32_t> found = search_numbers(response);
        numbers.insert(numbers.end(), found.begin(), found.end());
        // A server that repeats itself must not make the list grow: duplicates go whenever the list doubles.
        if (numbers.size() > 2 * unique + 1024) {
            sort_unique(numbers);
            unique = numbers.size();
            too_many = too_many || unique > kSearchNumbers;
        }
        return ImapTurn::go_on;
    };
    Result r = command(c);
    sort_unique(numbers);
    if (r == Result::ok && (too_many || numbers.size() > kSearchNumbers)) {
        numbers.clear();
        return fail(kSearch, kReceiveFailed, EMSGSIZE);
    }
    return r;
}

ImapSession::Result ImapSession::count_unseen(std::uint32_t& count) {
    count = 0;
    if (!offers("ESEARCH")) {
        std::vector<std::uint32_t> numbers;
        Result r = search_unseen(numbers);
        count = static_cast<std::uint32_t>(numbers.size());
        return r;
    }
    ImapCommand c{.step = &kSearch,
                  .pieces = {"SEARCH RETURN (COUNT) UNSEEN\r\n"},
                  .byte_budget = kSearchBytes,
                  .owns = " ESEARCH "};
    c.on_untagged = [&count](const ImapResponse& response, const std::string& tag) {
        std::uint32_t n = 0;
        if (esearch_count(response, tag, n)) {
            count = n;
        }
        return ImapTurn::go_on;
    };
    return command(c);
}

ImapSession::Result ImapSession::uid_fetch_headers(const std::vector<std::uint32_t>& uids,
                                                   const std::function<void(std::uint32_t, std::string_view)>& each) {
    for (const std::string& set : set_texts(uids)) {
        ImapCommand c{.step = &kFetch,
                      .pieces = {std::string("UID FETCH ").append(set).append(" (BODY.PEEK[HEADER])\r\n")},
                      .owns = " FETCH "};
        c.on_untagged = [&each](const ImapResponse& r, const std::string&) {
            const ImapValue* block = fetch_item(r, "BODY[HEADER]");
            if (const std::uint32_t uid = fetch_uid(r); uid != 0 && block != nullptr && block->is_string()) {
                each(uid, block->text);
            }
            return ImapTurn::go_on;
        };
        if (Result r = command(c); r != Result::ok) {
            return r;
        }
    }
    return Result::ok;
}

// The count is made by now: whatever LOGOUT brings (a BYE and a closed connection before the tagged answer, as
// some servers do) changes nothing but the connection, which is closed in any case.
ImapSession::Result ImapSession::logout(int timeout_ms) {
    stop_due_ = nullptr; // the goodbye is said in any case
    if (!idle_tag_.empty() && connection_.is_open()) {
        constexpr char kDoneLine[] = "DONE\r\n";
        connection_.send(kDoneLine, sizeof kDoneLine - 1); // its answer is read over with the goodbye's
        idle_tag_.clear();
    }
    ImapCommand c{.step = &kLogout,
                  .pieces = {"LOGOUT\r\n"},
                  .timeout_ms = timeout_ms,
                  .learns_capabilities = false,
                  .goodbye = true};
    command(c);
    close();
    return Result::ok;
}

// IDLE ends, as a command, at the server's go-ahead; what comes meanwhile is noted as a change.
ImapSession::Result ImapSession::start_idle() {
    flood_window_ = Clock::now();
    flood_lines_ = 0;
    ImapCommand c{.step = &kIdle, .pieces = {"IDLE\r\n"}, .learns_capabilities = false, .counts_flood = true};
    c.on_continuation = [](const ImapResponse&, std::string&) { return ImapTurn::done; };
    c.on_tagged = [this](const ImapResponse&, bool ours) { return fail(kIdle, ours ? kRefused : kBroken, 0); };
    const Result r = command(c);
    if (r == Result::ok || r == Result::stopped) {
        idle_tag_ = c.tag; // cut short, the IDLE has gone out all the same: the goodbye ends it
    }
    return r;
}

ImapSession::IdleEvent ImapSession::wait_idle(int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    bool looked = false;
    for (;;) {
        if (!connection_.is_open()) {
            return IdleEvent::gone;
        }
        // A change is told once all that the server has sent so far is read: a delivery's EXISTS and RECENT, or
        // the FETCH of every message read elsewhere, then bring one count.
        const bool pending = changes_.any();
        if (!pending && looked && Clock::now() >= deadline) {
            return IdleEvent::nothing; // data that keeps coming does not stretch the wait
        }
        looked = true;
        if (!parser_.holds_bytes()) {
            int ready = connection_.wait_readable(pending ? 0 : remaining_ms(deadline));
            if (ready == 0) {
                return pending ? IdleEvent::change : IdleEvent::nothing;
            }
            if (ready < 0 && errno == ECANCELED) {
                return pending ? IdleEvent::change : IdleEvent::cancelled; // the signal stays raised for the next
            }
            if (ready < 0) {
                fail(kIdle, kReceiveFailed, errno);
                return IdleEvent::gone;
            }
        }
        // A response in IDLE is a line, or a FETCH with a header at most: more is a broken server. No answer is
        // due: the IDLE's go-ahead has come.
        ImapExchange x{.step = &kIdle,
                       .deadline = Clock::now() + std::chrono::milliseconds(MailConnection::receive_budget_ms()),
                       .bytes_left = kImapMaxLine + kHeaderLimit,
                       .answer_due = false,
                       .counts_flood = true};
        ImapResponse r;
        if (read_response(r, x) != Result::ok || screen(r, x) != Result::ok) {
            return IdleEvent::gone;
        }
        if (r.kind != ImapResponse::Kind::untagged) {
            fail(kIdle, kBroken, EPROTO); // the server ended the IDLE on its own, or said something out of turn
            return IdleEvent::gone;
        }
        note_change(r, " ");
    }
}

// DONE ends the IDLE command: its tagged answer carries the IDLE's tag.
ImapSession::Result ImapSession::stop_idle(int timeout_ms, bool* changed) {
    if (!connection_.is_open() || idle_tag_.empty()) {
        return fail(kDone, kSendFailed, ENOTCONN);
    }
    ImapCommand c{.step = &kDone,
                  .pieces = {"DONE\r\n"},
                  .timeout_ms = timeout_ms,
                  .tag = idle_tag_,
                  .follows = true,
                  .learns_capabilities = false};
    const Result r = command(c);
    if (r == Result::ok || r == Result::stopped) {
        idle_tag_.clear(); // DONE has gone out: the goodbye must not say it twice
    }
    if (changed != nullptr) {
        *changed = changes_.any();
    }
    return r;
}
