// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/serverbase/scripted_server.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// A small scripted POP3 server (RFC 1939) for tests and demos: it serves maildrops on a loopback port, records
// every command line it receives, and misbehaves on request. It speaks TLS from the first byte (RFC 8314) or
// after STLS (RFC 2595) with the certificate it is given.

// What the server does at the event named by Pop3Script::fault_at (a command verb, "GREETING", or "TLS" for the
// handshake).
enum class Pop3Fault {
    none,
    mute,       // never answers that event or anything after it; keeps reading and recording
    close,      // answers, then closes the connection
    reset,      // resets the connection (RST) instead of answering
    late_reset, // answers, then resets the connection fault_delay_ms later
    endless,    // answers with "+OK " and bytes without a line feed until the client goes
    delay,      // answers fault_delay_ms late, then goes on as usual
    truncate,   // answers, then ends the connection without the TLS closing alert (as close over plain POP3)
    inject,     // answers in clear on the socket even under TLS, as someone on the way would, then goes on
    tickets,    // answers, then sends TLS records without data (session tickets) every fault_delay_ms for ever
    // TLS 1.2 only: answers, then asks the client for a new handshake (HelloRequest)
    renegotiate,
};

enum class Pop3Tls {
    none,     // plain POP3 only; STLS is an unknown command
    implicit, // TLS from the first byte, as on the pop3s port
    stls,     // plain until the client's STLS, TLS after it
};

struct Pop3Mailbox {
    std::string password;
    std::vector<std::string> messages; // whole messages with CR LF line ends
    std::string maildir;               // when set, the messages are the files there (by name), read at each login
};

struct Pop3Script {
    std::string greeting = "+OK kd5lite POP3 server ready\r\n"; // sent as is
    std::map<std::string, std::string> replies; // verb (upper case) -> bytes sent instead of the normal reply
    Pop3Fault fault = Pop3Fault::none;
    std::string fault_at = "GREETING";
    int fault_delay_ms = 150;
    int byte_pause_ms = 0;     // every answer goes out in pieces of piece_bytes, one per pause
    std::size_t piece_bytes = 1;
    // The lines of the CAPA listing (RFC 2449), each with CR LF; empty: CAPA is an unknown command.
    std::string capabilities = "TOP\r\nUSER\r\nUIDL\r\n";
    std::string top_status;    // when set, the TOP status line instead of "+OK <octets> octets\r\n"
    std::size_t top_extra = 0; // bytes put into each TOP block beyond the octets announced
    Pop3Tls tls = Pop3Tls::none;
    std::string certificate_file; // PEM: the server's certificate, then any intermediate authorities
    std::string key_file;         // PEM: its private key
};

class Pop3Server : public ScriptedServer {
public:
    explicit Pop3Server(std::map<std::string, Pop3Mailbox> mailboxes, Pop3Script script = {});
    ~Pop3Server() override;

    // start(), stop(), port(), server_name(), error(), connections(), tls_hosts() and on_command() as every
    // scripted server has them; commands() holds every command line received, without its line end.

    // Handshakes done again after the renegotiate fault asked for one.
    int renegotiations() const;

    // The most commands that were in at once when the server took one: 1 for a client that waits for each reply,
    // more for one that pipelines (RFC 2449).
    int deepest_pipeline() const;

    // Replaces a maildrop while the server runs; a login after the call sees the new messages.
    void set_messages(const std::string& user, std::vector<std::string> messages);

private:
    struct Session;
    void serve(int fd) override;
    bool start_tls(Session& s);
    bool answer(Session& s, const std::string& event, const std::string& text);
    std::string respond(Session& s, const std::string& verb, const std::string& argument);
    bool send_bytes(Session& s, const std::string& bytes);
    std::optional<std::vector<std::string>> maildrop(const std::string& user, const std::string& password);

    Pop3Script script_;
    std::map<std::string, Pop3Mailbox> mailboxes_; // under mutex_, as renegotiations_
    int renegotiations_ = 0;
    int deepest_pipeline_ = 0;
};
