// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/net/tls_link.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

// recv_line stores up to two bytes past the capacity (a line end that comes right after a full line, or the first
// byte of a line that is cut): its buffer must hold capacity + 2 bytes.
inline constexpr int kRecvLineSlack = 2;

// Bytes of a cut line that are read and dropped before the receive gives up on a line that never ends.
inline constexpr int kRecvDropLimit = 4096;

// One blocking TCP connection to one mail server: its socket, its TLS link once started, the host as the server
// name wrote it (for SNI and the certificate check), and its waits and deadlines from the timing record. Several
// connections may live at once on different threads; they share nothing. Results: 0 (or a count) on success, -1 on
// failure with one "LAN operation ---> " line in the error log and errno kept at the failure's error number.
class MailConnection {
public:
    MailConnection() = default;
    ~MailConnection();
    MailConnection(const MailConnection&) = delete;
    MailConnection& operator=(const MailConnection&) = delete;

    // Splits the server name ("host", "host:port", "[v6]:port"), resolves the host and makes the socket. A server
    // name without a port takes the port of the services entry (tcp), or default_port. Closes any earlier
    // connection first.
    int resolve(const char* server, const char* service);
    int resolve(const char* server, int default_port);

    // Connects to the addresses of the name in the resolver's order until one accepts, all within the one connect
    // time-out; an address that does not answer gets its share of what is left, so that a broken route to the
    // first (an IPv6 address without IPv6) leaves time for the next. Only when every address has failed is the
    // line written, with the last address's error; the socket is then closed.
    int connect();

    // Takes a socket that is already connected (one end of a socketpair in a test or a fuzzer that plays the
    // server), closing any earlier connection; host is what a certificate would have to name.
    void adopt(int fd, const char* host);

    // Turns the connection into TLS: handshake within the connect time-out, then the certificate is checked against
    // the system's trust store and the host, or else against the SHA-256 fingerprint pin (may be null or empty).
    // Every later send and receive goes through TLS.
    int start_tls(const char* pin);

    // Sends all length bytes: the socket must take them within the send time-out.
    int send(const char* bytes, int length);

    // The receives of the POP3 check, driven by the data: each takes what has come as soon as it is there, with the
    // waits and attempts of the timing record.
    // recv_line: in length the capacity, out the bytes before the line end; the buffer must hold capacity + 2.
    // Bytes that came after the line end are kept for the next receive.
    // recv_block: in length the bytes to clear, out the bytes received by one receive of at most count bytes.
    // Each is bounded by its budget of waiting: the attempts times the wait for data of the timing record, however
    // the bytes trickle in (over TLS, records without data use it up as well); when it is spent the receive fails
    // with ETIMEDOUT.
    int recv_line(char* buffer, int* length, char line_end);
    int recv_block(char* buffer, int* length, int count);
    // recv_block charged to a budget that several blocks share (a reply read over several receives).
    int recv_block(char* buffer, int* length, int count, int& budget_ms);
    // The rest of a reply that is coming in: what has already arrived, at most count bytes; only when nothing is
    // there yet, recv_block's waits. Bytes received (0 when the server closed the connection) or -1.
    int recv_more(char* buffer, int count, int& budget_ms);
    // Hands bytes that a receive took beyond the reply it read back to the connection: the next receive gets them
    // first (the replies to pipelined commands follow each other without a pause).
    void put_back(std::string_view bytes);
    // The waiting one receive may spend: (recv_attempts + 1) times select_timeout_ms.
    static int receive_budget_ms();

    // Receives for other protocols, each with one deadline. receive_line appends one line, its LF included, of at most
    // max_bytes to line; receive_exact fills exactly size bytes. Each gives up when the whole of it has not come
    // within timeout_ms. On failure errno is ETIMEDOUT (the time ran out), EMSGSIZE (the line is longer),
    // ENOTCONN (the server closed the connection), or the transport's error.
    int receive_line(std::string& line, std::size_t max_bytes, int timeout_ms);
    int receive_exact(char* into, std::size_t size, int timeout_ms);

    // Waits at most timeout_ms for something to read: 1 when there is data or the server's end of the connection,
    // 0 when the wait ran out, -1 when the wait failed. TLS records without data (session tickets) do not count.
    // Writes no log line.
    int wait_readable(int timeout_ms);

    // Every later wait (connect, TLS handshake, send, receive) also ends, failing with ECANCELED, when the eventfd
    // cancel_fd becomes readable (CancelSignal); -1 for none.
    void set_cancel(int cancel_fd);

    // TCP keepalive on the connected socket: the first probe after idle_ms of silence, then every interval_ms;
    // probes unanswered end the connection (rounded up to whole seconds).
    int keep_alive(int idle_ms, int interval_ms, int probes);

    // The socket's own address and its peer's; false when not connected.
    bool endpoints(sockaddr_storage& local, sockaddr_storage& peer) const;
    // The addresses the last resolve gave, in the order connect tries them, their port set.
    const std::vector<sockaddr_storage>& addresses() const { return addresses_; }

    // Ends the connection (with the TLS closing alert when the link is sound). Always 0.
    int close();

    bool is_open() const { return fd_ >= 0; }
    bool is_tls() const { return tls_ != nullptr; }
    // What the TLS link shows of the server (kd5lite --check); false when the connection is not over TLS.
    bool tls_peer(TlsPeer& peer) const;
    const std::string& host() const { return host_; }

private:
    int resolve_port(const char* server, const char* service, int default_port);
    int wait_charged(int& budget_ms);
    int wait_for_data(const char* give_up_format, int& budget_ms);
    int fill_pending(int& budget_ms);
    long read_some(void* into, std::size_t n);
    long read_charged(void* into, std::size_t n, int& budget_ms);

    int fd_ = -1;
    int cancel_fd_ = -1;
    std::vector<sockaddr_storage> addresses_; // in the resolver's order, port set
    std::string host_;
    TlsLink* tls_ = nullptr;
    TlsPeer refused_; // the server of the last refused certificate, until close
    std::string pending_; // bytes taken by a line receive beyond its line, handed out first by every later read
};

// An address in digits ("192.0.2.1", "2001:db8::1") and its port, for showing.
std::string numeric_host(const sockaddr_storage& address);
int address_port(const sockaddr_storage& address);

// Resolves a host name to its addresses (ports not set) in the order to try them: 0, or getaddrinfo's error code
// (errno's value for a system error). numeric: the host is an address and must not be looked up as a name.
using MailResolver = int (*)(const std::string& host, bool numeric, std::vector<sockaddr_storage>& addresses);

// Replaces name resolution for every connection (tests); nullptr goes back to the system's resolver.
void set_mail_resolver(MailResolver resolver);

// The one connection of the POP3 check, behind the c_* operations.
MailConnection& pop3_connection();
