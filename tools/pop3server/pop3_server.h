#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A small scripted POP3 server (RFC 1939) for tests and demos: it serves maildrops on a loopback port, records
// every command line it receives, and misbehaves on request. It speaks TLS from the first byte (RFC 8314) or
// after STLS (RFC 2595) with the certificate it is given.

struct ssl_ctx_st;

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
    int byte_pause_ms = 0;     // every answer goes out one byte per pause
    std::string top_status;    // when set, the TOP status line instead of "+OK <octets> octets\r\n"
    std::size_t top_extra = 0; // bytes put into each TOP block beyond the octets announced
    Pop3Tls tls = Pop3Tls::none;
    std::string certificate_file; // PEM: the server's certificate, then any intermediate authorities
    std::string key_file;         // PEM: its private key
};

class Pop3Server {
public:
    explicit Pop3Server(std::map<std::string, Pop3Mailbox> mailboxes, Pop3Script script = {});
    ~Pop3Server();
    Pop3Server(const Pop3Server&) = delete;
    Pop3Server& operator=(const Pop3Server&) = delete;

    // Listens on host (a numeric address) and port (0: a free one) and serves connections one after another on a
    // thread of its own. False, with the reason in error(), when the address or the certificate cannot be had.
    bool start(const std::string& host = "127.0.0.1", int port = 0);
    void stop();

    int port() const { return port_; }
    // The address as a ServerName setting: "127.0.0.1:port", "[::1]:port".
    std::string server_name() const;
    const std::string& error() const { return error_; }

    // Every command line received so far, without its line end, over all connections.
    std::vector<std::string> commands() const;
    int connections() const;
    // The host name each TLS client asked for (SNI), "" for one that named none; one entry per handshake done.
    std::vector<std::string> tls_hosts() const;
    // Handshakes done again after the renegotiate fault asked for one.
    int renegotiations() const;

    // Replaces a maildrop while the server runs; a login after the call sees the new messages.
    void set_messages(const std::string& user, std::vector<std::string> messages);
    // Called on the server thread with every command line received.
    void on_command(std::function<void(const std::string&)> callback);

private:
    struct Session;
    void run();
    bool load_certificate();
    void serve(int fd);
    bool start_tls(Session& s);
    bool answer(Session& s, const std::string& event, const std::string& text);
    std::string respond(Session& s, const std::string& verb, const std::string& argument);
    bool read_line(Session& s, std::string& line);
    long transfer(Session& s, const char* out, char* in, std::size_t size);
    bool send_bytes(Session& s, const std::string& bytes);
    bool wait_fd(int fd, short events, int timeout_ms);
    void record(const std::string& line);
    bool pause(int ms);
    std::optional<std::vector<std::string>> maildrop(const std::string& user, const std::string& password);

    Pop3Script script_;
    std::map<std::string, Pop3Mailbox> mailboxes_;
    mutable std::mutex mutex_; // mailboxes_, commands_, connections_, tls_hosts_, callback_
    std::vector<std::string> commands_;
    std::vector<std::string> tls_hosts_;
    int connections_ = 0;
    int renegotiations_ = 0;
    std::function<void(const std::string&)> callback_;
    std::string host_;
    std::string error_;
    int port_ = 0;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    ssl_ctx_st* tls_ = nullptr; // the certificate and key, when the server speaks TLS
    std::thread thread_;
};
