#pragma once

#include "mail/imap_parser.h"
#include "mail/mail_connection.h"

#include <string>
#include <vector>

// One account's settings as a push watcher needs them, copied on the monitor's thread when the watcher starts, so
// that the watcher never reads the settings record while another thread may load it.
struct PushAccount {
    int index = 0;
    std::string server;
    std::string user;
    std::string password;
    std::string security;
    std::string pin;
    std::string folder;
};

// The IMAP connection of one push watcher: logged in, the folder examined (read-only, so nothing here can change a
// flag), and waiting in IDLE (RFC 2177) for the server to announce a change.
class IdleLink {
public:
    enum class Opened { idle, no_idle, failed };
    enum class Event { change, nothing, gone };

    explicit IdleLink(PushAccount account) : account_(std::move(account)) {}

    // Connects as the account's Security says, logs in, EXAMINEs the folder and starts IDLE. no_idle: the server
    // does not offer IDLE, and the connection is ended.
    Opened open();

    // Waits at most timeout_ms for the server. change: an untagged EXISTS, EXPUNGE, FETCH or RECENT; gone: BYE,
    // the connection closed or reset, a failed TLS read or anything that ends the IDLE.
    Event wait(int timeout_ms);

    // DONE, its tagged OK within the answer wait, then IDLE again. False: the connection is dead. A change the
    // server announced meanwhile is remembered for the next wait.
    bool renew();

    // DONE and LOGOUT without waiting long for the answers, then close. Also ends a half-open connection.
    void end();

private:
    bool send_command(const std::string& text);
    bool send_line(const std::string& text);
    bool read_response(ImapResponse& response, int timeout_ms);
    bool await_tagged(ImapResponse& response, int timeout_ms);
    bool note_untagged(const ImapResponse& response);
    bool start_tls_and_greet();
    bool ask_capabilities();
    bool log_in();
    bool examine();
    bool start_idle();
    bool offers(const char* capability) const;
    int reply_ms() const;

    PushAccount account_;
    MailConnection connection_;
    ImapParser parser_;
    int next_tag_ = 0;
    std::string tag_; // of the command last sent
    std::vector<std::string> capabilities_;
    bool idling_ = false;
    bool changed_ = false; // a change announced while a command's answer was awaited
    bool bye_ = false;
};
