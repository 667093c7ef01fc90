// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/imap/imap_session.h"

#include "logging/log.h"
#include "mail/check_stop.h"
#include "mail/imap/imap_text.h"
#include "mail/net/tls_settings.h"
#include "mail/sasl/oauth_sasl.h"
#include "mail/sasl/token_rejection.h"
#include "platform/secret.h"
#include "platform/timing.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <openssl/evp.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kImapPort = 143;
constexpr int kImapsPort = 993; // TLS from the first byte (RFC 8314)
// Servers limit the length of a command line; RFC 7162 asks them to take at least 8192 bytes. A longer set of
// message numbers goes out in several FETCH commands.
constexpr std::size_t kMaxSetText = 8000;

// The error-log lines of a step; %s is the step's name.
constexpr char kSendFailed[] =
    "check mail ---> The transmission of a message is abnormal to IMAP [%s][no.%d error: %d]";
constexpr char kReceiveFailed[] =
    "check mail ---> The reception of an IMAP confirmation [%s] message is abnormal[no.%d error: %d]";
constexpr char kRefused[] =
    "check mail ---> Contents abnormality of an IMAP confirmation [%s] message[no.%d error: %d]";
constexpr char kBye[] = "check mail ---> The IMAP server ended the connection [%s][no.%d error: %d]";
constexpr char kBroken[] = "check mail ---> The IMAP server broke the protocol [%s][no.%d error: %d]";

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool is_change(const ImapResponse& r) {
    return r.kind == ImapResponse::Kind::untagged && r.number >= 0 &&
           (r.keyword == "EXISTS" || r.keyword == "EXPUNGE" || r.keyword == "FETCH" || r.keyword == "RECENT");
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

// The base64 form of bytes, written into out's own storage (it may be a password's).
void append_base64(std::string& out, const std::string& bytes) {
    const std::size_t at = out.size();
    out.resize(at + 4 * ((bytes.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + at),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(at + static_cast<std::size_t>(n));
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

struct ImapStep {
    const char* name;
};

namespace {

constexpr ImapStep kGreeting{"a connection confirmation"};
constexpr ImapStep kCapability{"a capability command"};
constexpr ImapStep kStarttls{"a STARTTLS command"};
constexpr ImapStep kLogin{"a login"};
constexpr ImapStep kEnable{"an enable command"};
constexpr ImapStep kExamine{"a folder examination command"};
constexpr ImapStep kSearch{"an unread search command"};
constexpr ImapStep kFetch{"a header fetch command"};
constexpr ImapStep kLogout{"an end command"};
constexpr ImapStep kIdle{"an IDLE command"};
constexpr ImapStep kId{"an identification command"};
constexpr ImapStep kDone{"an IDLE end"};

} // namespace

std::vector<std::string> ImapSession::step_names() {
    std::vector<std::string> names;
    for (const ImapStep* step : {&kGreeting, &kCapability, &kStarttls, &kLogin, &kId, &kEnable, &kExamine, &kSearch,
                                 &kFetch, &kLogout, &kIdle, &kDone}) {
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
}

bool ImapSession::offers(std::string_view capability) const {
    return std::find(capabilities_.begin(), capabilities_.end(), capability) != capabilities_.end();
}

std::string ImapSession::next_tag() {
    return std::string("k").append(std::to_string(++tag_number_));
}

ImapSession::Result ImapSession::fail_line(const char* line, int error) {
    write_error_logf(line, index_, error);
    close();
    return Result::failed;
}

// Writes the step's line (form kSendFailed, kReceiveFailed, kRefused, kBye or kBroken), closes the connection,
// and says what the check makes of it.
ImapSession::Result ImapSession::fail(const Step& step, const char* form, int error) {
    write_error_logf(form, step.name, index_, error);
    close();
    return form == kRefused ? Result::refused : Result::failed;
}

bool ImapSession::take_capabilities(const ImapResponse& r) {
    std::vector<std::string> names = capability_names(r);
    if (names.empty()) {
        return false;
    }
    capabilities_ = std::move(names);
    return true;
}

// The next whole response, its lines and literals read as the parser asks for them, all within timeout_ms.
ImapSession::Result ImapSession::read_response(ImapResponse& r, int timeout_ms, const Step& step) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        switch (parser_.next(r)) {
        case ImapParser::Result::response:
            return Result::ok;
        case ImapParser::Result::failed:
            return fail(step, kBroken, EPROTO);
        case ImapParser::Result::more:
            break;
        }
        if (stop_due_ != nullptr) {
            if (Result waited = wait_or_stop(deadline); waited != Result::ok) {
                return waited;
            }
        }
        int rc;
        std::size_t got = 0;
        if (std::uint64_t left = parser_.literal_left(); left > 0) {
            // Taken in pieces: the parser keeps only the first kHeaderLimit bytes of a literal however long it is.
            char chunk[16 * 1024];
            std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof chunk));
            rc = connection_.receive_exact(chunk, size, remaining_ms(deadline));
            if (rc == 0) {
                parser_.feed(std::string_view(chunk, size));
                got = size;
            }
        } else {
            std::string line;
            rc = connection_.receive_line(line, kImapMaxLine + 2, remaining_ms(deadline));
            parser_.feed(line);
            got = line.size();
        }
        if (rc != 0) {
            return fail(step, kReceiveFailed, errno);
        }
        if (got > bytes_left_) {
            return fail(step, kReceiveFailed, EMSGSIZE); // more than any sound answer to the command
        }
        bytes_left_ -= got;
    }
}

// Waits for data until the deadline, looking at the stop request meanwhile: a server that says nothing must not
// keep a stop waiting. Ok when data (or the end) is there or the time is up: the receive says which.
ImapSession::Result ImapSession::wait_or_stop(Clock::time_point deadline) {
    for (;;) {
        const int left = remaining_ms(deadline);
        if (connection_.wait_readable(std::min(left, timing().stop_poll_ms)) != 0 || left == 0) {
            return Result::ok;
        }
        if (stop_due_()) {
            return stop_check();
        }
    }
}

// Sends a command in its pieces (the first gets the tag; each later one waits for the server's go-ahead) and reads
// the responses up to its tagged answer. Untagged responses go to untagged; BYE ends the connection. A refusal
// writes refused_line instead of the step's line when given, and is then a failure.
ImapSession::Result ImapSession::command(const Step& step, const std::vector<std::string>& pieces,
                                         const Untagged& untagged, const char* refused_line, std::string* answer) {
    if (!connection_.is_open()) {
        return fail(step, kSendFailed, ENOTCONN);
    }
    const std::string tag = next_tag();
    std::string first;
    first.reserve(tag.size() + 1 + pieces.front().size());
    first.append(tag).append(" ").append(pieces.front());
    int sent = connection_.send(first.data(), static_cast<int>(first.size()));
    wipe_secret(first); // it may hold the password
    if (sent != 0) {
        return fail(step, kSendFailed, errno);
    }
    std::size_t next = 1;
    // One deadline for the whole command: a server that keeps talking must not keep it going.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(MailConnection::receive_budget_ms());
    for (;;) {
        ImapResponse r;
        if (Result result = read_response(r, remaining_ms(deadline), step); result != Result::ok) {
            return result;
        }
        if (stop_due_ != nullptr && stop_due_()) {
            return stop_check();
        }
        if (r.kind == ImapResponse::Kind::untagged && Clock::now() >= deadline) {
            return fail(step, kReceiveFailed, ETIMEDOUT); // the answer never came, however much else did
        }
        if (r.kind == ImapResponse::Kind::continuation) {
            if (next == pieces.size()) {
                return fail(step, kBroken, EPROTO);
            }
            const std::string& piece = pieces[next++];
            if (connection_.send(piece.data(), static_cast<int>(piece.size())) != 0) {
                return fail(step, kSendFailed, errno);
            }
            continue;
        }
        if (r.kind == ImapResponse::Kind::untagged) {
            if (r.keyword == "BYE") {
                return fail(step, kBye, ECONNRESET);
            }
            take_capabilities(r);
            if (untagged) {
                untagged(r);
            }
            continue;
        }
        if (r.tag != tag || r.malformed) {
            return fail(step, kBroken, EPROTO);
        }
        if (answer != nullptr) {
            *answer = r.keyword;
        } else if (r.keyword != "OK") {
            return refused_line != nullptr ? fail_line(refused_line, EPROTO) : fail(step, kRefused, 0);
        }
        take_capabilities(r);
        return Result::ok;
    }
}

// A stop asked for while the check runs: the server is told goodbye, its answer awaited no longer than the stop
// request is looked at, and the check ends without a count.
ImapSession::Result ImapSession::stop_check() {
    stop_due_ = nullptr;
    logout(timing().stop_poll_ms);
    return Result::stopped;
}

ImapSession::Result ImapSession::read_capabilities() {
    capabilities_.clear();
    return command(kCapability, {"CAPABILITY\r\n"});
}

ImapSession::Result ImapSession::connect_and_greet() {
    const MailSecurity security = account_.security;
    if (connection_.resolve(account_.server.c_str(), security == MailSecurity::tls ? kImapsPort : kImapPort) != 0) {
        return fail_line("check mail ---> Making (IMAP) is abnormal[no.%d error: %d]", errno);
    }
    if (connection_.connect() != 0) {
        return fail_line("check mail ---> TCP/IP connection is abnormal[no.%d error: %d]", errno);
    }
    if (security == MailSecurity::tls &&
        connection_.start_tls(account_.fingerprint.c_str()) != 0) {
        return fail_line("check mail ---> TLS connection is abnormal[no.%d error: %d]", errno);
    }
    ImapResponse greeting;
    if (Result r = read_response(greeting, MailConnection::receive_budget_ms(), kGreeting); r != Result::ok) {
        return r;
    }
    if (greeting.kind != ImapResponse::Kind::untagged || !greeting.is_status() || greeting.keyword == "NO" ||
        greeting.keyword == "BAD") {
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
    return Result::ok;
}

ImapSession::Result ImapSession::starttls() {
    if (!offers("STARTTLS")) {
        return fail_line("check mail ---> STARTTLS is not offered by the IMAP server[no.%d error: %d]", EPROTO);
    }
    if (Result r = command(kStarttls, {"STARTTLS\r\n"}, {}, "check mail ---> STARTTLS was refused[no.%d error: %d]");
        r != Result::ok) {
        return r;
    }
    // Whatever came after the answer came in clear and must not be taken as the server's words under TLS
    // (RFC 3501 6.2.1); the connection checks its own buffer the same way.
    if (parser_.holds_bytes()) {
        return fail(kStarttls, kBroken, EPROTO);
    }
    if (connection_.start_tls(account_.fingerprint.c_str()) != 0) {
        return fail_line("check mail ---> TLS connection is abnormal[no.%d error: %d]", errno);
    }
    return read_capabilities(); // those learnt in clear may have been forged
}

// AUTHENTICATE OAUTHBEARER or XOAUTH2 with the account's access token, in the command itself where the server takes
// an initial response (SASL-IR, RFC 4959), else after its empty challenge. A refusal comes as a challenge with the
// error in JSON (RFC 7628 3.2.2), which the mechanism's own answer lets the server end with NO.
ImapSession::Result ImapSession::login_oauth() {
    const OAuthMechanism mechanism = choose_oauth_mechanism(offers("AUTH=OAUTHBEARER"), offers("AUTH=XOAUTH2"));
    if (mechanism == OAuthMechanism::none) {
        return fail_line("check mail ---> The IMAP server offers no OAuth2 sign-in[no.%d error: %d]", EPROTO);
    }
    std::string initial;
    if (!oauth_initial_response(mechanism, account_.user, account_.credential.secret.view(), initial)) {
        return fail_line("check mail ---> The OAuth2 token is unusable[no.%d error: %d]", EINVAL);
    }
    const std::string tag = next_tag();
    std::string text;
    text.reserve(tag.size() + initial.size() + 40);
    text.append(tag).append(" AUTHENTICATE ").append(oauth_mechanism_name(mechanism));
    const bool inline_response = offers("SASL-IR");
    if (inline_response) {
        text.append(" ").append(initial);
    }
    text += "\r\n";
    const int sent = connection_.send(text.data(), static_cast<int>(text.size()));
    wipe_secret(text);
    if (sent != 0) {
        wipe_secret(initial);
        return fail(kLogin, kSendFailed, errno);
    }
    bool initial_sent = inline_response;
    OAuthErrorChallenge challenge;
    capabilities_.clear();
    for (;;) {
        ImapResponse r;
        if (Result result = read_response(r, MailConnection::receive_budget_ms(), kLogin); result != Result::ok) {
            wipe_secret(initial);
            return result;
        }
        if (r.kind == ImapResponse::Kind::continuation) {
            std::string answer;
            if (!initial_sent && r.text.empty()) {
                answer = initial + "\r\n";
                initial_sent = true;
            } else {
                challenge = parse_oauth_error_challenge(r.text);
                answer = oauth_error_answer(mechanism) + "\r\n";
            }
            const int rc = connection_.send(answer.data(), static_cast<int>(answer.size()));
            wipe_secret(answer);
            if (rc != 0) {
                wipe_secret(initial);
                return fail(kLogin, kSendFailed, errno);
            }
            continue;
        }
        if (r.kind == ImapResponse::Kind::untagged) {
            if (r.keyword == "BYE") {
                wipe_secret(initial);
                return fail(kLogin, kBye, ECONNRESET);
            }
            take_capabilities(r);
            continue;
        }
        wipe_secret(initial);
        if (r.tag != tag || r.malformed) {
            return fail(kLogin, kBroken, EPROTO);
        }
        if (r.keyword != "OK") {
            token_refused_ = true;
            note_token_rejected(index_);
            write_error_logf("check mail ---> The IMAP server refused the OAuth2 token (%s %s)[no.%d error: %d]",
                             oauth_mechanism_name(mechanism), challenge.status.empty() ? "-" : challenge.status.c_str(),
                             index_, EACCES);
            close();
            return Result::refused;
        }
        take_capabilities(r);
        return capabilities_.empty() ? read_capabilities() : Result::ok;
    }
}

ImapSession::Result ImapSession::login() {
    if (account_.credential.kind == CredentialKind::oauth2) {
        return login_oauth();
    }
    const std::string& id = account_.user;
    const std::string_view secret = account_.credential.secret.view();
    std::vector<std::string> pieces = reserved_pieces(id.size() + secret.size());
    if (offers("AUTH=PLAIN")) {
        // RFC 4616: no authorisation identity, the user name, the password, NUL before each.
        std::string plain;
        plain.reserve(id.size() + secret.size() + 2);
        plain.append(1, '\0').append(id).append(1, '\0').append(secret);
        pieces.front() += "AUTHENTICATE PLAIN";
        if (offers("SASL-IR")) {
            pieces.front() += ' ';
        } else {
            pieces.front() += "\r\n";
            pieces.emplace_back().reserve(pieces.front().capacity());
        }
        append_base64(pieces.back(), plain);
        pieces.back() += "\r\n";
        wipe_secret(plain);
    } else if (offers("LOGINDISABLED")) {
        write_error_logf("check mail ---> LOGIN is disabled by the IMAP server[no.%d error: %d]", index_, EACCES);
        close();
        return Result::refused;
    } else {
        pieces.front() += "LOGIN ";
        append_argument(pieces, id);
        pieces.back() += ' ';
        append_argument(pieces, secret);
        pieces.back() += "\r\n";
    }
    capabilities_.clear(); // the server may offer more once logged in, and often says so in its answer
    Result result = command(kLogin, pieces);
    wipe(pieces);
    if (result == Result::ok && capabilities_.empty()) {
        result = read_capabilities();
    }
    return result;
}

ImapSession::Result ImapSession::open() {
    token_refused_ = false;
    const MailSecurity security = account_.security;
    if (security == MailSecurity::unknown) {
        write_error_logf("check mail ---> The security setting is abnormal[no.%d error: %d]", index_, EINVAL);
        return Result::failed;
    }
    if (security == MailSecurity::plain && account_.credential.kind == CredentialKind::oauth2) {
        // A bearer token is as good as the password to whoever reads it on the way.
        write_error_logf("check mail ---> OAuth2 is refused without TLS: Security must be 1 or 2[no.%d error: %d]",
                         index_, EPERM);
        return Result::failed;
    }
    // Nothing learnt on an earlier connection holds for this one: the server may have changed, or the list may
    // have been the one from before TLS or before the login.
    capabilities_.clear();
    utf8_ = false;
    Result result = connect_and_greet();
    if (result == Result::ok && capabilities_.empty()) {
        result = read_capabilities();
    }
    if (result == Result::ok && security == MailSecurity::stls) {
        result = starttls();
    }
    if (result == Result::ok) {
        result = login();
    }
    return result == Result::ok && offers("ID") ? identify() : result;
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
    std::string answer;
    return command(kId, {"ID (\"name\" \"kd5lite\" \"version\" \"" KD5LITE_VERSION "\")\r\n"}, {}, nullptr, &answer);
}

int ImapSession::keep_alive() {
    const Timing& t = timing();
    return connection_.keep_alive(t.keepalive_idle_ms, t.keepalive_interval_ms, t.keepalive_probes);
}

ImapSession::Result ImapSession::examine() {
    uid_validity_.clear();
    // "* OK [UIDVALIDITY n]" (RFC 3501 7.1): the UIDs of the folder mean the same messages only while n stays.
    const Untagged take_validity = [this](const ImapResponse& r) {
        if (r.keyword == "OK" && r.code.starts_with("UIDVALIDITY ")) {
            uid_validity_ = r.code.substr(12);
        }
    };
    std::string folder = account_.folder;
    if (folder.empty()) {
        folder = "INBOX";
    }
    std::string name;
    if (!mailbox_utf7(folder, name)) {
        return fail_line("check mail ---> The folder name is abnormal[no.%d error: %d]", EILSEQ);
    }
    const bool ascii = std::all_of(folder.begin(), folder.end(), [](char c) { return (c & 0x80) == 0; });
    if (!ascii && !utf8_ && offers("UTF8=ACCEPT")) {
        if (Result r = enable_utf8(); r != Result::ok) {
            return r;
        }
    }
    if (utf8_ && folder.find_first_of("\r\n") == std::string::npos) {
        // RFC 6855: once UTF8=ACCEPT is enabled, names are UTF-8, and quoted strings may carry it.
        std::string text = "EXAMINE ";
        imap_append_quoted(text, folder);
        return command(kExamine, {text + "\r\n"}, take_validity);
    }
    std::vector<std::string> pieces = {"EXAMINE "};
    append_argument(pieces, name);
    pieces.back() += "\r\n";
    return command(kExamine, pieces, take_validity);
}

namespace {

void sort_unique(std::vector<std::uint32_t>& numbers) {
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
}

} // namespace

ImapSession::Result ImapSession::search_unseen(std::vector<std::uint32_t>& numbers) {
    numbers.clear();
    bool too_many = false;
    std::size_t unique = 0; // numbers known to be distinct: the front of the list after the last tidying
    bytes_left_ = kSearchBytes;
    Result r = command(kSearch, {"SEARCH UNSEEN\r\n"}, [&](const ImapResponse& response) {
        std::vector<std::uint32_t> found = search_numbers(response);
        numbers.insert(numbers.end(), found.begin(), found.end());
        // A server that repeats itself must not make the list grow: duplicates go whenever the list doubles.
        if (numbers.size() > 2 * unique + 1024) {
            sort_unique(numbers);
            unique = numbers.size();
            too_many = too_many || unique > kSearchNumbers;
        }
    });
    bytes_left_ = SIZE_MAX;
    sort_unique(numbers);
    if (r == Result::ok && (too_many || numbers.size() > kSearchNumbers)) {
        numbers.clear();
        close();
        write_error_logf(kReceiveFailed, kSearch.name, index_, EMSGSIZE);
        return Result::failed;
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
    const std::string tag = std::string("k").append(std::to_string(tag_number_ + 1));
    bytes_left_ = kSearchBytes;
    Result r = command(kSearch, {"SEARCH RETURN (COUNT) UNSEEN\r\n"}, [&](const ImapResponse& response) {
        std::uint32_t n = 0;
        if (esearch_count(response, tag, n)) {
            count = n;
        }
    });
    bytes_left_ = SIZE_MAX;
    return r;
}

ImapSession::Result ImapSession::fetch_headers(const std::vector<std::uint32_t>& numbers,
                                               const std::function<void(std::string_view)>& each) {
    return fetch_headers(numbers, [&each](std::uint32_t, std::string_view block) { each(block); });
}

ImapSession::Result ImapSession::fetch_headers(const std::vector<std::uint32_t>& numbers,
                                               const std::function<void(std::uint32_t, std::string_view)>& each) {
    for (const std::string& set : set_texts(numbers)) {
        const std::string text = std::string("FETCH ").append(set).append(" (BODY.PEEK[HEADER])\r\n");
        Result r = command(kFetch, {text}, [&each](const ImapResponse& r) {
            if (const ImapValue* block = fetch_item(r, "BODY[HEADER]")) {
                each(static_cast<std::uint32_t>(std::clamp<std::int64_t>(r.number, 0, UINT32_MAX)), block->text);
            }
        });
        if (r != Result::ok) {
            return r;
        }
    }
    return Result::ok;
}

ImapSession::Result ImapSession::fetch_uids(const std::vector<std::uint32_t>& numbers,
                                            std::map<std::uint32_t, std::string>& uids) {
    uids.clear();
    for (const std::string& set : set_texts(numbers)) {
        const std::string text = std::string("FETCH ").append(set).append(" (UID)\r\n");
        Result r = command(kFetch, {text}, [&uids](const ImapResponse& r) {
            const ImapValue* uid = fetch_item(r, "UID");
            if (uid != nullptr && r.number > 0 && r.number <= UINT32_MAX && !uid->text.empty() &&
                uid->text.size() <= 10 && std::all_of(uid->text.begin(), uid->text.end(), [](char c) {
                    return c >= '0' && c <= '9';
                })) {
                uids[static_cast<std::uint32_t>(r.number)] = uid->text;
            }
        });
        if (r != Result::ok) {
            return r;
        }
    }
    return Result::ok;
}

// The count is made by now: whatever LOGOUT brings (a BYE and a closed connection before the tagged answer, as
// some servers do) changes nothing but the connection, which is closed in any case.
ImapSession::Result ImapSession::logout(int timeout_ms) {
    stop_due_ = nullptr; // the goodbye is said in any case
    const std::string text = next_tag() + " LOGOUT\r\n";
    if (connection_.is_open() && connection_.send(text.data(), static_cast<int>(text.size())) == 0) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeout_ms));
        ImapResponse r;
        while (connection_.is_open() && remaining_ms(deadline) > 0 &&
               read_response(r, remaining_ms(deadline), kLogout) == Result::ok && r.kind != ImapResponse::Kind::tagged) {
        }
    }
    close();
    return Result::ok;
}

ImapSession::Result ImapSession::start_idle() {
    idle_tag_ = next_tag();
    const std::string text = idle_tag_ + " IDLE\r\n";
    if (connection_.send(text.data(), static_cast<int>(text.size())) != 0) {
        return fail(kIdle, kSendFailed, errno);
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(MailConnection::receive_budget_ms());
    flood_window_ = Clock::now();
    flood_lines_ = 0;
    for (;;) {
        ImapResponse r;
        if (Result result = read_response(r, remaining_ms(deadline), kIdle); result != Result::ok) {
            return result;
        }
        if (r.kind == ImapResponse::Kind::continuation) {
            return Result::ok;
        }
        if (flooded()) {
            return fail(kIdle, kBroken, EMSGSIZE);
        }
        if (Clock::now() >= deadline) {
            return fail(kIdle, kReceiveFailed, ETIMEDOUT);
        }
        if (r.kind == ImapResponse::Kind::tagged) {
            return fail(kIdle, r.tag == idle_tag_ && !r.malformed ? kRefused : kBroken, 0);
        }
        if (r.keyword == "BYE") {
            return fail(kIdle, kBye, ECONNRESET);
        }
        idle_change_ = idle_change_ || is_change(r);
    }
}

// Whether the responses in IDLE come faster than any mailbox changes: kIdleFloodLines within one window.
bool ImapSession::flooded() {
    const Clock::time_point now = Clock::now();
    if (now - flood_window_ >= std::chrono::milliseconds(timing().idle_flood_window_ms)) {
        flood_window_ = now;
        flood_lines_ = 0;
    }
    return ++flood_lines_ > kIdleFloodLines;
}

ImapSession::IdleEvent ImapSession::wait_idle(int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    bool looked = false;
    for (;;) {
        if (idle_change_) {
            idle_change_ = false;
            return IdleEvent::change;
        }
        if (!connection_.is_open()) {
            return IdleEvent::gone;
        }
        if (looked && Clock::now() >= deadline) {
            return IdleEvent::nothing; // data that keeps coming does not stretch the wait
        }
        looked = true;
        if (!parser_.holds_bytes()) {
            int ready = connection_.wait_readable(remaining_ms(deadline));
            if (ready == 0) {
                return IdleEvent::nothing;
            }
            if (ready < 0 && errno == ECANCELED) {
                return IdleEvent::cancelled;
            }
            if (ready < 0) {
                fail(kIdle, kReceiveFailed, errno);
                return IdleEvent::gone;
            }
        }
        ImapResponse r;
        // A response in IDLE is a line, or a FETCH with a header at most: more is a broken server.
        bytes_left_ = kImapMaxLine + kHeaderLimit;
        Result read = read_response(r, MailConnection::receive_budget_ms(), kIdle);
        bytes_left_ = SIZE_MAX;
        if (read != Result::ok) {
            return IdleEvent::gone;
        }
        if (flooded()) {
            fail(kIdle, kBroken, EMSGSIZE);
            return IdleEvent::gone;
        }
        if (r.kind == ImapResponse::Kind::untagged && r.keyword == "BYE") {
            fail(kIdle, kBye, ECONNRESET);
            return IdleEvent::gone;
        }
        if (r.kind != ImapResponse::Kind::untagged) {
            fail(kIdle, kBroken, EPROTO); // the server ended the IDLE on its own, or said something out of turn
            return IdleEvent::gone;
        }
        idle_change_ = idle_change_ || is_change(r);
    }
}

ImapSession::Result ImapSession::stop_idle(int timeout_ms, bool* changed) {
    if (changed != nullptr) {
        *changed = idle_change_;
    }
    idle_change_ = false;
    if (!connection_.is_open() || idle_tag_.empty()) {
        return fail(kDone, kSendFailed, ENOTCONN);
    }
    if (connection_.send("DONE\r\n", 6) != 0) {
        return fail(kDone, kSendFailed, errno);
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        ImapResponse r;
        if (Result result = read_response(r, remaining_ms(deadline), kDone); result != Result::ok) {
            return result;
        }
        if (r.kind == ImapResponse::Kind::untagged) {
            if (r.keyword == "BYE") {
                return fail(kDone, kBye, ECONNRESET);
            }
            if (Clock::now() >= deadline) {
                return fail(kDone, kReceiveFailed, ETIMEDOUT);
            }
            if (changed != nullptr && is_change(r)) {
                *changed = true;
            }
            continue;
        }
        if (r.kind != ImapResponse::Kind::tagged || r.tag != idle_tag_ || r.malformed) {
            return fail(kDone, kBroken, EPROTO);
        }
        idle_tag_.clear();
        return r.keyword == "OK" ? Result::ok : fail(kDone, kRefused, 0);
    }
}
