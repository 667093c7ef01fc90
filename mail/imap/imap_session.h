// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_outcome.h"
#include "mail/core/probe_stage.h"
#include "mail/imap/imap_parser.h"
#include "mail/net/mail_connection.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct ImapStep;     // a step of the dialogue, as the error lines name it
struct ImapCommand;  // one command and what handles its answer (imap_command.h)
struct ImapExchange; // what one response is read within

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
    // A stop request seen between two responses (watch_stop) ends the check: LOGOUT, close, stopped.
    enum class Result { ok, refused, failed, stopped };

    // What the wait in IDLE saw.
    enum class IdleEvent {
        change,    // EXISTS, EXPUNGE, FETCH (a flag changed), RECENT, or a STATUS that NOTIFY brought
        nothing,   // the time ran out quietly
        gone,      // BYE, a reset, a TLS failure, a broken response, a flood: the connection is dead and closed
        cancelled, // the cancel signal was raised: the connection is as it was, still in IDLE
    };

    explicit ImapSession(Account account) : account_(std::move(account)), index_(account_.index) {}
    ~ImapSession();
    ImapSession(const ImapSession&) = delete;
    ImapSession& operator=(const ImapSession&) = delete;

    // Connects to the account's server (without a port: 993 for Security 2, else 143), reads the greeting and the
    // capabilities, goes over to TLS as its security says, and logs in with its user name and password. Every
    // connection learns the capabilities afresh: from the greeting or a CAPABILITY command, again after STARTTLS,
    // and after the login. Where the server offers ID (RFC 2971), the client names itself after the login: some
    // servers refuse to open a folder to a client that has not.
    Result open();
    // open() without the login: connected, greeted and over to TLS as the account's security says (the probe).
    Result reach();
    // From now on reach() starts TLS from the first byte on the port the account's security leads to, whatever the
    // security says: the probe's try of a port that stays silent in clear.
    void take_tls_first() { tls_first_ = true; }
    // Hands each stage of reach() and open() to report as it ends (the probe): the name's addresses, the
    // connection, TLS, the greeting with the capabilities, and the login with those it brings.
    void observe(ProbeReport report) { report_ = std::move(report); }
    // EXAMINE the account's folder (empty: INBOX).
    Result examine();
    // EXAMINE a folder by its name in UTF-8. With missing, a folder the server refuses to open (NO: gone, or never
    // there) sets *missing and gives ok, the connection kept and no line written: the caller says so once.
    Result examine(const std::string& folder, bool* missing);
    // The folder the last examine() opened (UTF-8), empty when none is.
    const std::string& examined() const { return examined_; }
    // The folder's HIGHESTMODSEQ as the last examine() gave it (CONDSTORE, RFC 7162); 0 when the server named none.
    std::uint64_t highest_modseq() const { return highest_modseq_; }
    // The message numbers without \Seen (SEARCH UNSEEN), ascending, each once. A response beyond kSearchBytes, or
    // more than kSearchNumbers numbers, is a broken server.
    Result search_unseen(std::vector<std::uint32_t>& numbers);
    // How many messages are without \Seen: SEARCH RETURN (COUNT) UNSEEN where the server offers ESEARCH (RFC 4731),
    // else the numbers of SEARCH UNSEEN counted.
    Result count_unseen(std::uint32_t& count);
    // The UIDs of the messages without \Seen (UID SEARCH UNSEEN), ascending, each once; bounded as search_unseen.
    Result uid_search_unseen(std::vector<std::uint32_t>& uids);
    // The header block of each message named by UID (UID FETCH (BODY.PEEK[HEADER]), at most kHeaderLimit bytes of
    // each), with its UID, in the order the server sends them.
    Result uid_fetch_headers(const std::vector<std::uint32_t>& uids,
                             const std::function<void(std::uint32_t, std::string_view)>& each);
    // STATUS of a folder (UTF-8 name): UNSEEN and UIDVALIDITY, and HIGHESTMODSEQ where the server offers CONDSTORE.
    // A folder the server refuses sets *missing, as examine() does.
    Result status(const std::string& folder, MailboxStatus& answer, bool* missing);
    // Every folder of the server (LIST "" "*"), with its SPECIAL-USE attributes (RFC 6154) and, with statuses, the
    // STATUS of each in the same answer where the server offers LIST-STATUS (RFC 5819; statuses_listed() says
    // whether it did). Names in UTF-8, as folder_name() makes them.
    Result list_folders(std::vector<ListedMailbox>& folders, std::vector<MailboxStatus>* statuses = nullptr);
    bool statuses_listed() const { return offers("LIST-STATUS"); }
    // NOTIFY SET STATUS (RFC 5465): MessageNew, MessageExpunge and FlagChange of the selected folder and of each
    // folder (UTF-8 names), and the STATUS of each at once, handed to each_status. A server that refuses it (NO or
    // BAD) sets *refused and gives ok, the connection kept for IDLE instead.
    Result notify(const std::vector<std::string>& folders, const std::function<void(const MailboxStatus&)>& each_status,
                  bool* refused);
    // The UTF-8 name of a folder as the server named it in a response: decoded from modified UTF-7 unless
    // UTF8=ACCEPT is enabled; as sent when it is not sound modified UTF-7.
    std::string folder_name(const std::string& sent) const;
    // The response code of the last tagged refusal, such as "LIMIT" (RFC 5530: a per-user connection limit) or
    // "AUTHENTICATIONFAILED"; empty when the refusal carried none.
    const std::string& refusal_code() const { return refusal_code_; }

    // Changes the server told of on its own: in IDLE, and between the answers of other commands (a delivery while
    // a count runs). selected: the examined folder changed (EXISTS, EXPUNGE, a flag); statuses: the STATUS of other
    // folders that NOTIFY brings; everything: the server gave up telling them one by one.
    struct Changes {
        bool selected = false;
        bool everything = false;
        std::vector<MailboxStatus> statuses;
        bool any() const { return selected || everything || !statuses.empty(); }
    };
    // The changes told since the last call, which forgets them.
    Changes take_changes();
    bool changes_pending() const { return changes_.any(); }
    // The folder's UIDVALIDITY as the last examine() gave it; empty when the server named none.
    const std::string& uid_validity() const { return uid_validity_; }
    // LOGOUT and close, the answer awaited at most timeout_ms; the connection is closed whatever the server answers.
    // An IDLE under way, or one whose go-ahead a cancel cut short, is ended with DONE first.
    Result logout(int timeout_ms = MailConnection::receive_budget_ms());
    // Closes at once, without a word to the server.
    void close();

    // Whether the server named the capability (upper case, e.g. "IDLE").
    bool offers(std::string_view capability) const;
    bool is_open() const { return connection_.is_open(); }
    // Whether the last open() ended because the server refused the OAuth2 token: a renewed one may be let in.
    bool token_refused() const { return token_refused_; }
    // How the session's last failure ended it, beside its line: the step, the kind and the error number. A refusal
    // after the login leaves the check its count of 0 and says so here. Cleared by open() and reach().
    const CheckOutcome& outcome() const { return outcome_; }

    // Reads the stop request between two responses (check_stop_due of the mail check), at most as often as it says.
    void watch_stop(bool (*due)()) { stop_due_ = due; }
    // Every wait ends at once while the eventfd cancel_fd (CancelSignal) is raised; -1: none. A command so cut short
    // gives stopped, with no line, and leaves the connection open for logout().
    void set_cancel(int cancel_fd) { connection_.set_cancel(cancel_fd); }
    // TCP keepalive on the connection, as the timing record says: a silently dropped link is found in minutes.
    int keep_alive();
    // The connection's own address and its server's.
    bool endpoints(sockaddr_storage& local, sockaddr_storage& peer) const { return connection_.endpoints(local, peer); }

    // IDLE (RFC 2177). start_idle sends IDLE and waits for the server's go-ahead. wait_idle waits at most
    // timeout_ms for a change, however much else the server sends meanwhile, and tells of it once it has read all
    // the server has sent so far, so that one count covers a burst; take_changes() says what changed. More than
    // kIdleFloodLines responses within the flood window of the timing record make a broken connection. stop_idle
    // sends DONE and waits at most timeout_ms for the tagged answer; a change reported meanwhile sets *changed. No
    // answer in time means a dead connection: it is closed, and failed.
    Result start_idle();
    // Whether an IDLE is under way: started, and not yet ended by stop_idle().
    bool idling() const { return !idle_tag_.empty(); }
    IdleEvent wait_idle(int timeout_ms);
    Result stop_idle(int timeout_ms, bool* changed = nullptr);

    static constexpr std::size_t kHeaderLimit = 64 * 1024;
    static constexpr std::size_t kSearchBytes = 8 * 1024 * 1024;
    static constexpr std::size_t kSearchNumbers = 2 * 1000 * 1000;
    static constexpr int kIdleFloodLines = 2000;

    // The names of the steps in the error lines, for the error-log table of docs/troubleshooting.md (tests).
    static std::vector<std::string> step_names();

private:
    using Step = ImapStep;
    using Untagged = std::function<void(const ImapResponse&)>;

    Result connect_and_greet();
    Result read_capabilities(const Step& step);
    Result starttls();
    Result login();
    Result login_sasl(bool oauth);
    Result enable_utf8();
    Result identify();
    // The simple command: its text, the untagged responses handed to untagged, the answer as the step says.
    Result command(const Step& step, std::vector<std::string> pieces, const Untagged& untagged = {},
                   std::size_t byte_budget = SIZE_MAX);
    // A command about one folder, whose refusal with missing set is no failure (see examine()).
    Result folder_command(ImapCommand& c, bool* missing);
    // The folder's name as this session sends it, appended to the pieces; false with the line written when it
    // cannot be sent.
    Result append_folder(std::vector<std::string>& pieces, const std::string& folder);
    void note_change(const ImapResponse& r, std::string_view owned);
    // The one exchange: sends the command and reads every response up to its end (imap_command.cpp).
    Result command(ImapCommand& c);
    Result answered(const Step& step, const ImapResponse& r, bool ours, bool learns_capabilities);
    Result read_response(ImapResponse& r, ImapExchange& x);
    Result screen(const ImapResponse& r, const ImapExchange& x);
    Result stop_check(const Step& step);
    Result cancelled(const Step& step);
    Result wait_or_stop(std::chrono::steady_clock::time_point deadline, const Step& step);
    bool flooded();
    Result fail(const Step& step, const char* form, int error);
    Result fail_line(CheckStep step, CheckFailure failure, const char* line, int error);
    Result tls_failed(int error);
    void report(ProbeStage stage) const;
    bool take_capabilities(const ImapResponse& r);
    void note_refusal(const ImapResponse& r);
    Result search(const char* text, std::vector<std::uint32_t>& numbers);
    std::string next_tag();

    const Account account_;
    const int index_; // the number in the error lines
    MailConnection connection_;
    ImapParser parser_{kHeaderLimit};
    std::vector<std::string> capabilities_;
    bool utf8_ = false; // UTF8=ACCEPT enabled (RFC 6855): names go as UTF-8
    bool token_refused_ = false;
    bool tls_first_ = false;
    int tag_number_ = 0;
    std::string idle_tag_;
    bool (*stop_due_)() = nullptr;
    std::chrono::steady_clock::time_point flood_window_{};
    int flood_lines_ = 0; // responses in IDLE since flood_window_ began
    Changes changes_;     // told by the server on its own, not yet taken
    std::string uid_validity_; // the folder's UIDVALIDITY, from the last EXAMINE
    std::uint64_t highest_modseq_ = 0;
    std::string examined_;
    std::string refusal_code_;
    CheckOutcome outcome_;
    ProbeReport report_;
};
