#pragma once

#include "mail/account.h"
#include "mail/imap/imap_parser.h"
#include "mail/net/mail_connection.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct ImapStep; // a step of the dialogue, as the error lines name it

// One IMAP connection of one account (RFC 3501, RFC 9051), over its own MailConnection: connect, TLS or STARTTLS
// as the account's security says, log in, examine the folder, and the commands of the check and of the
// IDLE push. Every wait is driven by the server's data: a response must be whole within the receive budget of the
// timing record, however its bytes trickle in. Failures write their "check mail ---> " line with the account's
// index. The folder is only ever examined (read-only) and headers are fetched with BODY.PEEK: nothing a session
// does changes a message's flags.
class ImapSession {
public:
    // How a step ended: go on; the server refused (NO, BAD, no login allowed: the check gives 0); the connection
    // failed or ended (-1). Either of the last two has written its line.
    enum class Result { ok, refused, failed };

    // What the wait in IDLE saw.
    enum class IdleEvent {
        change,  // EXISTS, EXPUNGE, FETCH (a flag changed) or RECENT
        nothing, // the time ran out quietly
        gone,    // BYE, a reset, a TLS failure, a broken response: the connection is dead and closed
    };

    explicit ImapSession(Account account) : account_(std::move(account)), index_(account_.index) {}
    ~ImapSession();
    ImapSession(const ImapSession&) = delete;
    ImapSession& operator=(const ImapSession&) = delete;

    // Connects to the account's server (without a port: 993 for Security 2, else 143), reads the greeting and the
    // capabilities, goes over to TLS as its security says, and logs in with its user name and password.
    Result open();
    // EXAMINE the account's folder (empty: INBOX).
    Result examine();
    // The message numbers without \Seen (SEARCH UNSEEN).
    Result search_unseen(std::vector<std::uint32_t>& numbers);
    // The header block of each message (FETCH BODY.PEEK[HEADER], at most kHeaderLimit bytes of each), handed to
    // each in the order the server sends them.
    Result fetch_headers(const std::vector<std::uint32_t>& numbers, const std::function<void(std::string_view)>& each);
    // The same, each block with its message number.
    Result fetch_headers(const std::vector<std::uint32_t>& numbers,
                         const std::function<void(std::uint32_t, std::string_view)>& each);
    // The UID of each message (FETCH (UID)), by message number; a number the server leaves out has none.
    Result fetch_uids(const std::vector<std::uint32_t>& numbers, std::map<std::uint32_t, std::string>& uids);
    // The folder's UIDVALIDITY as the last examine() gave it; empty when the server named none.
    const std::string& uid_validity() const { return uid_validity_; }
    // LOGOUT and close; the connection is closed whatever the server answers.
    Result logout();
    // Closes at once, without a word to the server.
    void close();

    // Whether the server named the capability (upper case, e.g. "IDLE").
    bool offers(std::string_view capability) const;
    bool is_open() const { return connection_.is_open(); }

    // IDLE (RFC 2177). start_idle sends IDLE and waits for the server's go-ahead. wait_idle waits at most
    // timeout_ms for a change. stop_idle sends DONE and waits at most timeout_ms for the tagged answer; a change
    // reported meanwhile sets *changed. No answer in time means a dead connection: it is closed, and failed.
    Result start_idle();
    IdleEvent wait_idle(int timeout_ms);
    Result stop_idle(int timeout_ms, bool* changed = nullptr);

    static constexpr std::size_t kHeaderLimit = 64 * 1024;

    // The names of the steps in the error lines, for the README's table of them (tests).
    static std::vector<std::string> step_names();

private:
    using Step = ImapStep;
    using Untagged = std::function<void(const ImapResponse&)>;

    Result connect_and_greet();
    Result secure_and_login();
    Result read_capabilities();
    Result starttls();
    Result login();
    Result enable_utf8();
    Result command(const Step& step, const std::vector<std::string>& pieces, const Untagged& untagged = {},
                   const char* refused_line = nullptr);
    Result read_response(ImapResponse& r, int timeout_ms, const Step& step);
    Result fail(const Step& step, const char* form, int error);
    Result fail_line(const char* line, int error);
    bool take_capabilities(const ImapResponse& r);
    std::string next_tag();

    const Account account_;
    const int index_; // the number in the error lines
    MailConnection connection_;
    ImapParser parser_{kHeaderLimit};
    std::vector<std::string> capabilities_;
    bool utf8_ = false; // UTF8=ACCEPT enabled (RFC 6855): names go as UTF-8
    int tag_number_ = 0;
    std::string idle_tag_;
    bool idle_change_ = false;
    std::string uid_validity_; // a change came before the go-ahead or while waiting for one
};
