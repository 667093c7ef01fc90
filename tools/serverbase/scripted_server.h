// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the scripted POP3 and IMAP servers share: a listening socket on a loopback address, one connection served
// after another on a thread of its own (or all at once, each on its own), TLS with a given certificate, a transcript of
// what clients sent, and the ways a connection can end. Each server adds its protocol and its faults.

struct ssl_st;
struct ssl_ctx_st;

// One client connection: its non-blocking socket, its TLS session once the handshake is done, and what it sent
// beyond the last full line.
struct ServerConnection {
    int fd = -1;
    ssl_st* ssl = nullptr;
    bool alert = true; // whether closing sends the closing alert (TLS): not after a reset or a fatal error
    std::string pending;
};

class ScriptedServer {
public:
    virtual ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Listens on host (a numeric address) and port (0: a free one) and serves connections one after another on a
    // thread of its own. False, with the reason in error(), when the address or the certificate cannot be had.
    bool start(const std::string& host = "127.0.0.1", int port = 0);
    void stop();

    int port() const { return port_; }
    // The address as a ServerName setting: "127.0.0.1:port", "[::1]:port".
    std::string server_name() const;
    const std::string& error() const { return error_; }

    // Everything recorded so far (command lines, or whole commands), over all connections.
    std::vector<std::string> commands() const;
    int connections() const;
    // The host name each TLS client asked for (SNI), "" for one that named none; one entry per handshake done.
    std::vector<std::string> tls_hosts() const;
    // Called on the server thread with everything recorded.
    void on_command(std::function<void(const std::string&)> callback);

protected:
    // A server that speaks TLS loads its certificate file (PEM, then any intermediate authorities) and its key at
    // start().
    ScriptedServer(bool tls, std::string certificate_file, std::string key_file);

    // Serves one accepted connection (a non-blocking socket), ending it with end().
    virtual void serve(int fd) = 0;
    // Ends a connection: the closing alert when its TLS session is sound, then the socket is closed.
    void end(ServerConnection& c);

    void record(const std::string& text);
    // Waits for events on fd; false when stop() was called or the wait ran out.
    bool wait_fd(int fd, short events, int timeout_ms);
    // Pauses; false when stop() was called meanwhile.
    bool pause(int ms);
    // The server's side of the handshake; false when it failed or stop() was called.
    bool accept_tls(ServerConnection& c);
    // Sends from out, or receives into in, in clear or through TLS, waiting as long as it takes. The bytes moved,
    // or 0 when the connection is over or stop() was called.
    long transfer(ServerConnection& c, const char* out, char* in, std::size_t size);
    // Sends bytes in pieces of piece bytes (0: all at once), pause_ms apart.
    bool send_pieces(ServerConnection& c, const std::string& bytes, std::size_t piece = 0, int pause_ms = 0);
    // One line without its line end (a longer one is cut at max_line); false when the client has gone.
    bool read_line(ServerConnection& c, std::string& line, std::size_t max_line);
    // Closes after the last answer: the closing alert over TLS, FIN, and what the client still sends is read and
    // dropped (closing a socket with unread data would send RST instead).
    void close_gently(ServerConnection& c);
    // Makes the close that follows a reset (RST) instead of FIN.
    void reset_on_close(ServerConnection& c);
    // Offers no TLS version above 1.2 (call before start()): TLS 1.3 has no renegotiation, for instance.
    void limit_tls_to_1_2() { tls12_only_ = true; }
    // Serves every connection on a thread of its own, all at the same time (call before start()), as a server that
    // a client keeps several connections open to must; serve() then runs on many threads at once.
    void serve_in_parallel() { parallel_ = true; }
    // The descriptor that becomes readable when stop() is called, for waits of the server's own.
    int stop_fd() const { return stop_pipe_[0]; }

    mutable std::mutex mutex_; // what the server thread and the test share: the subclass's state too

private:
    void run();

    bool tls_wanted_;
    bool tls12_only_ = false;
    bool parallel_ = false;
    std::vector<std::thread> sessions_; // the parallel connections' threads, the listening thread's alone
    std::string certificate_file_;
    std::string key_file_;
    std::vector<std::string> commands_;
    std::vector<std::string> tls_hosts_;
    int connections_ = 0;
    std::function<void(const std::string&)> callback_;
    std::string host_;
    std::string error_;
    int port_ = 0;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    ssl_ctx_st* tls_ = nullptr;
    std::thread thread_;
};
