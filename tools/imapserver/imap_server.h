// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/serverbase/scripted_server.h"

#include <map>
#include <string>
#include <vector>

// A small scripted IMAP server (RFC 3501) for the cases a real server will not produce: it serves one folder per
// user on a loopback port, records every command it receives (literals included), and misbehaves on request. It
// speaks TLS from the first byte or after STARTTLS with the certificate it is given, and it can push untagged
// responses to a client in IDLE.

struct ImapResponse;
struct ImapValue;

// What the server does at the event named by ImapScript::fault_at (a command name, "GREETING" or "TLS").
enum class ImapFault {
    none,
    mute,            // never answers that event or anything after it; keeps reading and recording
    close,           // answers, then closes the connection
    reset,           // resets the connection (RST) instead of answering
    bye,             // answers, then fault_delay_ms later sends "* BYE" and closes (mid-IDLE for the IDLE event)
    endless_literal, // instead of answering, announces a literal of 2^40 bytes and sends bytes until the client goes
    endless_line,    // instead of answering, sends "* OK " and bytes without a line feed until the client goes
    delay,           // answers fault_delay_ms late
    flood,           // answers, then sends flood_line again and again, flood_pause_ms apart, until the client goes
};

enum class ImapTls {
    none,     // plain IMAP only; STARTTLS is an unknown command
    implicit, // TLS from the first byte, as on port 993
    starttls, // plain until the client's STARTTLS
};

struct ImapMessage {
    std::string text; // the whole message, CR LF line ends
    bool seen = false;
};

// A folder besides the script's one: its name as clients send it (modified UTF-7, or UTF-8 for a client that
// enabled UTF8=ACCEPT), the attributes LIST shows for it ("\\Junk", "\\Noselect"), and its messages.
struct ImapFolder {
    std::string name;
    std::string attributes;
    std::vector<ImapMessage> messages;
};

struct ImapMailbox {
    std::string password;
    std::vector<ImapMessage> messages; // the folder the script names (INBOX)
    std::vector<ImapFolder> folders = {};
};

struct ImapScript {
    std::string greeting = "* OK kd5lite IMAP server ready\r\n"; // sent as is
    // What CAPABILITY names; STARTTLS is added while the server offers it.
    std::string capabilities = "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE";
    // What CAPABILITY names before TLS, when not the same (a server that offers no AUTH=PLAIN in clear).
    std::string clear_capabilities;
    bool starttls_in_tls = false;      // STARTTLS named even inside TLS, where it must not be taken up again
    std::string idle_text = "+ idling"; // the continuation that lets the client's IDLE in
    int idle_poll_ms = 0;               // > 0: changes reach a client in IDLE only at the server's next look
    bool unsafe_until_id = false;       // SELECT and EXAMINE refused ("Unsafe Login") until the client sent ID
    std::string folder =
        "INBOX";           // the mailbox of ImapMailbox::messages, as the client must name it (INBOX in any case)
    bool parallel = false; // serves every connection at once, each on a thread of its own
    // Logins one user may have at once (0: any number); one more is refused as Gmail refuses it, "NO [ALERT] Too
    // many simultaneous connections. (Failure)".
    int connection_limit = 0;
    // Command name (upper case) -> bytes sent instead of the normal answer; "%TAG%" stands for the command's tag.
    std::map<std::string, std::string> replies;
    ImapFault fault = ImapFault::none;
    std::string fault_at = "GREETING";
    int fault_delay_ms = 150;
    int fault_count = 0; // the fault is acted out this many times, then the server behaves (0: every time)
    std::string flood_line = "* OK still here";
    int flood_pause_ms = 0;
    // Every answer goes out in pieces of this many bytes (0: whole), piece_pause_ms apart, so that lines and
    // literals reach the client over several reads.
    std::size_t piece_bytes = 0;
    int piece_pause_ms = 0;
    ImapTls tls = ImapTls::none;
    std::string certificate_file; // PEM: the server's certificate, then any intermediate authorities
    std::string key_file;         // PEM: its private key
};

class ImapServer : public ScriptedServer {
public:
    explicit ImapServer(std::map<std::string, ImapMailbox> mailboxes, ImapScript script = {});
    ~ImapServer() override;

    // start(), stop(), port(), server_name(), error(), connections() and on_command() as every scripted server has
    // them; commands() holds every command received, tag included, line end left out and literals in place, and
    // the lines sent in the middle of a command (an AUTHENTICATE response, DONE).

    // Whether a client is in IDLE now; in IDLE on the folder (as clients name it) that it examined.
    bool idling() const;
    int idling_on(const std::string& folder) const;
    // Adds a message to a user's folder while the server runs (folder empty: the script's one), and tells the
    // clients of that user as a server does: "* n EXISTS" to one that examined the folder, a STATUS to one that
    // asked NOTIFY (RFC 5465) for it. In IDLE at once, else before the answer to its next command.
    void deliver(const std::string& user, const std::string& text, const std::string& folder = "");
    // Marks the message (0-based) read, as another mail program would, and tells the clients likewise.
    void mark_seen(const std::string& user, std::size_t message, const std::string& folder = "");
    // Deletes a user's folder.
    void remove_folder(const std::string& user, const std::string& folder);
    // The \Seen flags of a user's messages, in order.
    std::vector<bool> seen(const std::string& user, const std::string& folder = "") const;
    // Sends bytes (untagged responses such as "* 4 EXISTS\r\n") to every client in IDLE; kept for the next one
    // that idles when none does.
    void push(const std::string& bytes);
    // Client connections being served now (0 or 1 unless the script serves them in parallel).
    int open_sessions() const;

private:
    struct Session;
    void serve(int fd) override;
    bool start_tls(Session& s);
    bool handle(Session& s, const std::string& command);
    std::string respond(Session& s, const std::string& tag, const ImapResponse& parsed);
    std::string login(Session& s, const std::string& user, const std::string& password);
    std::string authenticate(Session& s, const std::string& tag, const std::string& initial);
    std::string authenticate_oauth(Session& s, const std::string& tag, const std::string& mechanism,
                                   const std::string& initial);
    std::string fetch(Session& s, const std::string& set, const ImapValue& items, bool uid);
    std::string search(Session& s, const std::vector<ImapValue>& args, bool uid);
    std::string status(Session& s, const std::string& tag, const std::vector<ImapValue>& args);
    std::string list(Session& s, const std::string& tag, const std::vector<ImapValue>& args);
    std::string notify(Session& s, const std::string& tag, const std::vector<ImapValue>& args);
    std::string status_line(const std::string& name, const std::vector<ImapMessage>& messages) const;
    std::vector<ImapMessage>* folder_of(const std::string& user, const std::string& folder);
    void tell(const std::string& user, const std::string& folder, std::size_t message, bool delivered);
    void wake(Session& s);
    bool idle(Session& s, const std::string& tag);
    bool answer(Session& s, const std::string& event, const std::string& text);
    bool flood(Session& s);
    bool read_command(Session& s, std::string& command);
    bool read_bytes(Session& s, std::size_t count, std::string& into);
    bool send_bytes(Session& s, const std::string& bytes);

    ImapScript script_;
    std::map<std::string, ImapMailbox> mailboxes_; // under mutex_, as pushed_ and sessions_
    std::string pushed_;                           // for the next client that idles
    std::vector<Session*> sessions_;               // those being served
    int open_sessions_ = 0;
    int faults_done_ = 0;
};
