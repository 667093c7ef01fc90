#include "mail/idle_link.h"

#include "logging/log.h"
#include "mail/imap_text.h"
#include "mail/tls_settings.h"
#include "platform/timing.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr std::size_t kMaxLine = 64 * 1024;
constexpr std::size_t kMaxLiteral = 64 * 1024; // nothing this connection asks for comes as a literal

// Why a push connection could not be had, as its error line numbers it.
enum Refusal { kGreeting = 1, kStartTls = 2, kLogin = 3, kExamine = 4, kIdle = 5 };

bool refused(int index, Refusal step) {
    write_error_logf("check mail ---> The push connection was refused[no.%d error: %d]", index, step);
    return false;
}

// The size of the literal that a received line announces at its end ("{n}" or "{n+}" before CR LF), or -1.
long announced_literal(const std::string& line) {
    std::size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) {
        --end;
    }
    if (end == 0 || line[end - 1] != '}') {
        return -1;
    }
    std::size_t open = line.rfind('{', end - 1);
    if (open == std::string::npos) {
        return -1;
    }
    std::string digits = line.substr(open + 1, end - 1 - open - 1);
    if (!digits.empty() && digits.back() == '+') {
        digits.pop_back();
    }
    if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) {
        return -1;
    }
    return std::strtol(digits.c_str(), nullptr, 10);
}

bool is_change(const ImapResponse& r) {
    return r.kind == ImapResponse::Kind::untagged &&
           (r.keyword == "EXISTS" || r.keyword == "EXPUNGE" || r.keyword == "FETCH" || r.keyword == "RECENT");
}

} // namespace

int IdleLink::reply_ms() const {
    // Each reply while connecting is bounded as the checks bound theirs.
    const Timing& t = timing();
    return t.select_timeout_ms * std::max(1, t.recv_attempts);
}

bool IdleLink::offers(const char* capability) const {
    return std::find(capabilities_.begin(), capabilities_.end(), capability) != capabilities_.end();
}

bool IdleLink::send_line(const std::string& text) {
    std::string line = text + "\r\n";
    return connection_.send(line.data(), static_cast<int>(line.size())) == 0;
}

bool IdleLink::send_command(const std::string& text) {
    tag_ = "p" + std::to_string(++next_tag_);
    return send_line(tag_ + " " + text);
}

bool IdleLink::read_response(ImapResponse& response, int timeout_ms) {
    for (;;) {
        switch (parser_.next(response)) {
        case ImapParser::Result::response: return true;
        case ImapParser::Result::failed: return false;
        case ImapParser::Result::more: break;
        }
        std::string line;
        if (connection_.receive_line(line, kMaxLine, timeout_ms) != 0) {
            return false;
        }
        parser_.feed(line);
        long literal = announced_literal(line);
        if (literal > static_cast<long>(kMaxLiteral)) {
            return false;
        }
        if (literal > 0) {
            std::string bytes(static_cast<std::size_t>(literal), '\0');
            if (connection_.receive_exact(bytes.data(), bytes.size(), timeout_ms) != 0) {
                return false;
            }
            parser_.feed(bytes);
        }
    }
}

// Notes what an untagged response says: capabilities, a change, the server's goodbye. False for BYE.
bool IdleLink::note_untagged(const ImapResponse& response) {
    if (std::vector<std::string> names = capability_names(response); !names.empty()) {
        capabilities_ = std::move(names);
    }
    if (is_change(response)) {
        changed_ = true;
    }
    if (response.keyword == "BYE") {
        bye_ = true;
        return false;
    }
    return true;
}

// Reads up to the tagged answer of the command last sent; true when it is OK.
bool IdleLink::await_tagged(ImapResponse& response, int timeout_ms) {
    for (;;) {
        if (!read_response(response, timeout_ms)) {
            return false;
        }
        if (response.kind == ImapResponse::Kind::tagged && response.tag == tag_) {
            if (std::vector<std::string> names = capability_names(response); !names.empty()) {
                capabilities_ = std::move(names);
            }
            return response.keyword == "OK";
        }
        if (response.kind == ImapResponse::Kind::untagged && !note_untagged(response)) {
            return false;
        }
    }
}

bool IdleLink::ask_capabilities() {
    ImapResponse response;
    return send_command("CAPABILITY") && await_tagged(response, reply_ms());
}

bool IdleLink::start_tls_and_greet() {
    const MailSecurity security = mail_security(account_.security.c_str());
    if (security == MailSecurity::tls && connection_.start_tls(account_.pin.c_str()) != 0) {
        return false;
    }
    ImapResponse greeting;
    if (!read_response(greeting, reply_ms()) || greeting.kind != ImapResponse::Kind::untagged ||
        (greeting.keyword != "OK" && greeting.keyword != "PREAUTH")) {
        return refused(account_.index, kGreeting);
    }
    note_untagged(greeting);
    if (security != MailSecurity::stls) {
        return true;
    }
    if ((capabilities_.empty() && !ask_capabilities()) || !offers("STARTTLS")) {
        return refused(account_.index, kStartTls); // never a login in clear
    }
    ImapResponse answer;
    if (!send_command("STARTTLS") || !await_tagged(answer, reply_ms()) || parser_.holds_bytes()) {
        return refused(account_.index, kStartTls);
    }
    capabilities_.clear(); // what the server said in clear no longer counts (RFC 3501 6.2.1)
    return connection_.start_tls(account_.pin.c_str()) == 0;
}

bool IdleLink::log_in() {
    if ((capabilities_.empty() && !ask_capabilities()) || offers("LOGINDISABLED")) {
        return refused(account_.index, kLogin);
    }
    const ImapArgument user_form = imap_argument_form(account_.user);
    const ImapArgument password_form = imap_argument_form(account_.password);
    if (user_form == ImapArgument::impossible || password_form == ImapArgument::impossible) {
        return refused(account_.index, kLogin);
    }
    ImapResponse response;
    if (user_form == ImapArgument::quoted && password_form == ImapArgument::quoted) {
        if (!send_command("LOGIN " + imap_quoted(account_.user) + " " + imap_quoted(account_.password))) {
            return false;
        }
    } else {
        // Both as synchronising literals: the server's "+" comes before each one's bytes.
        if (!send_command("LOGIN {" + std::to_string(account_.user.size()) + "}")) {
            return false;
        }
        for (const std::string* part : {&account_.user, &account_.password}) {
            if (!read_response(response, reply_ms()) || response.kind != ImapResponse::Kind::continuation) {
                return refused(account_.index, kLogin);
            }
            std::string text = *part;
            if (part == &account_.user) {
                text += " {" + std::to_string(account_.password.size()) + "}";
            }
            if (!send_line(text)) {
                return false;
            }
        }
    }
    if (!await_tagged(response, reply_ms())) {
        return refused(account_.index, kLogin);
    }
    capabilities_.clear(); // they may change with the login
    return ask_capabilities();
}

bool IdleLink::examine() {
    std::string folder;
    if (!mailbox_utf7(account_.folder.empty() ? "INBOX" : account_.folder, folder)) {
        return refused(account_.index, kExamine);
    }
    ImapResponse response;
    if (!send_command("EXAMINE " + imap_quoted(folder)) || !await_tagged(response, reply_ms())) {
        return refused(account_.index, kExamine);
    }
    changed_ = false; // the EXISTS of the EXAMINE answer is what the pass counts anyway
    return true;
}

bool IdleLink::start_idle() {
    if (!send_command("IDLE")) {
        return false;
    }
    ImapResponse response;
    for (;;) {
        if (!read_response(response, reply_ms())) {
            return false;
        }
        if (response.kind == ImapResponse::Kind::continuation) {
            idling_ = true;
            return true;
        }
        if (response.kind == ImapResponse::Kind::tagged || !note_untagged(response)) {
            return refused(account_.index, kIdle);
        }
    }
}

IdleLink::Opened IdleLink::open() {
    const MailSecurity security = mail_security(account_.security.c_str());
    const int port = security == MailSecurity::tls ? 993 : 143;
    parser_ = ImapParser();
    capabilities_.clear();
    idling_ = changed_ = bye_ = false;
    if (security == MailSecurity::unknown || connection_.resolve(account_.server.c_str(), port) != 0 ||
        connection_.connect() != 0 || !start_tls_and_greet() || !log_in()) {
        end();
        return Opened::failed;
    }
    if (!offers("IDLE")) {
        end();
        return Opened::no_idle;
    }
    if (!examine() || !start_idle()) {
        end();
        return Opened::failed;
    }
    return Opened::idle;
}

IdleLink::Event IdleLink::wait(int timeout_ms) {
    if (changed_) {
        changed_ = false;
        return Event::change;
    }
    int ready = connection_.wait_readable(timeout_ms);
    if (ready == 0) {
        return Event::nothing;
    }
    ImapResponse response;
    if (ready < 0 || !read_response(response, reply_ms())) {
        write_error_logf("check mail ---> The push connection was lost[no.%d error: %d]", account_.index, errno);
        return Event::gone;
    }
    if (response.kind != ImapResponse::Kind::untagged || !note_untagged(response)) {
        // BYE, or a tagged answer that ended the IDLE: the server is done with this connection.
        write_error_logf("check mail ---> The push connection was lost[no.%d error: %d]", account_.index,
                         ECONNABORTED);
        return Event::gone;
    }
    if (changed_) {
        changed_ = false;
        return Event::change;
    }
    return Event::nothing;
}

bool IdleLink::renew() {
    ImapResponse response;
    idling_ = false;
    if (!send_line("DONE") || !await_tagged(response, timing().idle_answer_ms) || !start_idle()) {
        write_error_logf("check mail ---> The push connection was lost[no.%d error: %d]", account_.index,
                         bye_ ? ECONNABORTED : ETIMEDOUT);
        return false;
    }
    return true;
}

void IdleLink::end() {
    if (connection_.is_open() && !bye_) {
        // A short answer wait: a stop ends every connection within a second, and the server will not mind.
        const int answer_ms = std::min(reply_ms(), 300);
        ImapResponse response;
        bool sound = !idling_ || (send_line("DONE") && await_tagged(response, answer_ms));
        if (sound && send_command("LOGOUT")) {
            await_tagged(response, answer_ms);
        }
    }
    idling_ = false;
    connection_.close();
}
