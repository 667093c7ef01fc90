// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/mail_connection.h"

#include "logging/log.h"
#include "mail/net/cancel_signal.h"
#include "mail/net/server_name.h"
#include "mail/net/tls_link.h"
#include "platform/timing.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Writes the failure's line and hands its error number back through errno: writing the log may change errno.
// A wait cut short by the cancel signal is what a stop asked for, not a fault of the line: the caller hears
// ECANCELED, and the error log stays quiet.
int fail(const char* format, int code) {
    if (code != ECANCELED) {
        write_error_logf(format, code);
    }
    errno = code;
    return -1;
}

// One poll on the socket and the cancel signal; errno is cleared first so that a wait that simply ran out reports
// 0, not a stale code.
int wait_socket(int fd, short events, int cancel_fd, int timeout_ms) {
    return poll_cancellable(fd, events, cancel_fd, timeout_ms);
}

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A receive or send on a blocking socket may not outlast one wait: a server that stops in the middle of a line
// must not hold the check for ever.
void bound_transfers(int fd) {
    const Timing& t = timing();
    auto as_timeval = [](int ms) {
        ms = ms < 1 ? 1 : ms; // zero would mean no bound at all
        return timeval{ms / 1000, (ms % 1000) * 1000};
    };
    timeval receive = as_timeval(t.select_timeout_ms);
    timeval send = as_timeval(t.send_timeout_ms);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send);
}

// Connects without blocking and waits for the handshake at most timeout_ms. Returns 0 or an errno value.
int connect_bounded(int fd, const sockaddr* address, socklen_t length, int cancel_fd, int timeout_ms) {
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int code = 0;
    if (::connect(fd, address, length) != 0) {
        code = errno;
        if (code == EINPROGRESS) {
            int ready;
            do {
                ready = poll_cancellable(fd, POLLOUT, cancel_fd, timeout_ms);
            } while (ready < 0 && errno == EINTR);
            socklen_t size = sizeof code;
            if (ready == 1) {
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size);
            } else {
                code = ready == 0 ? ETIMEDOUT : errno;
            }
        }
    }
    fcntl(fd, F_SETFL, flags);
    return code;
}

// The port of a services entry, in network byte order, or 0 when there is no such entry.
in_port_t service_port(const char* service) {
    servent entry{};
    servent* found = nullptr;
    char scratch[1024];
    if (service == nullptr || getservbyname_r(service, "tcp", &entry, scratch, sizeof scratch, &found) != 0 ||
        found == nullptr) {
        return 0;
    }
    return static_cast<in_port_t>(found->s_port);
}

int system_resolver(const std::string& host, bool numeric, std::vector<sockaddr_storage>& addresses) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numeric ? AI_NUMERICHOST : 0;
    addrinfo* list = nullptr;
    errno = 0;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        return rc == EAI_SYSTEM ? errno : rc;
    }
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) && a->ai_addrlen <= sizeof(sockaddr_storage)) {
            sockaddr_storage address{};
            std::memcpy(&address, a->ai_addr, a->ai_addrlen);
            addresses.push_back(address);
        }
    }
    freeaddrinfo(list);
    return 0;
}

std::atomic<MailResolver> g_resolver{nullptr};

socklen_t length_of(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

} // namespace

std::string numeric_host(const sockaddr_storage& address) {
    char text[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length_of(address), text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
        return "?";
    }
    return text;
}

int address_port(const sockaddr_storage& address) {
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                                               : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

void set_mail_resolver(MailResolver resolver) {
    g_resolver = resolver;
}

MailConnection::~MailConnection() {
    close();
}

int MailConnection::resolve(const char* server, const char* service) {
    return resolve_port(server, service, 0);
}

int MailConnection::resolve(const char* server, int default_port) {
    return resolve_port(server, nullptr, default_port);
}

int MailConnection::resolve_port(const char* server, const char* service, int default_port) {
    close(); // a connection left over from an earlier check must not leak its descriptor
    addresses_.clear();
    ServerName name = split_server_name(server != nullptr ? server : "");
    in_port_t port = 0;
    if (name.error == ServerName::Error::port) {
        return fail("LAN operation ---> The port number acquisition is abnormal[error: %d]", EINVAL);
    }
    if (name.port != 0) {
        port = htons(static_cast<uint16_t>(name.port));
    } else if (service != nullptr) {
        port = service_port(service);
    } else if (default_port > 0 && default_port <= 65535) {
        port = htons(static_cast<uint16_t>(default_port));
    }
    if (port == 0) {
        return fail("LAN operation ---> The port number acquisition is abnormal[error: %d]", ENOENT);
    }
    MailResolver resolver = g_resolver.load();
    resolver = resolver != nullptr ? resolver : system_resolver;
    int code = name.error == ServerName::Error::host ? EAI_NONAME : resolver(name.host, name.numeric, addresses_);
    if (code == 0 && addresses_.empty()) {
        code = EAI_NONAME;
    }
    for (sockaddr_storage& address : addresses_) {
        if (address.ss_family == AF_INET6) {
            reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = port;
        } else {
            reinterpret_cast<sockaddr_in*>(&address)->sin_port = port;
        }
    }
    if (code != 0) {
        return fail("LAN operation ---> The acquisition of server host name is abnormal[error: %d]", code);
    }
    host_ = name.host;
    fd_ = socket(addresses_.front().ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return fail("LAN operation ---> Socket generation is abnormal[error: %d]", errno);
    }
    return 0;
}

int MailConnection::connect() {
    int code = EBADF;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timing().connect_timeout_ms);
    for (std::size_t i = 0; fd_ >= 0 && i < addresses_.size(); ++i) {
        if (i > 0) {
            // A socket whose connect failed cannot be connected again; the next address may be of another family.
            ::close(fd_);
            fd_ = socket(addresses_[i].ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd_ < 0) {
                code = errno;
                break;
            }
        }
        const int left = static_cast<int>(addresses_.size() - i);
        code = connect_bounded(fd_, reinterpret_cast<const sockaddr*>(&addresses_[i]), length_of(addresses_[i]),
                               cancel_fd_, std::max(1, remaining_ms(deadline) / left));
        if (code == 0 || code == ECANCELED || remaining_ms(deadline) == 0) {
            break;
        }
    }
    if (code != 0) {
        close();
        return fail("LAN operation ---> A client connection demand is abnormal[error: %d]", code);
    }
    bound_transfers(fd_);
    return 0;
}

void MailConnection::adopt(int fd, const char* host) {
    close();
    addresses_.clear();
    fd_ = fd;
    host_ = host != nullptr ? host : "";
    bound_transfers(fd_);
}

int MailConnection::start_tls(const char* pin) {
    if (fd_ < 0 || tls_ != nullptr) {
        return fail("LAN operation ---> TLS handshake is abnormal[err: %d]", fd_ < 0 ? EBADF : EISCONN);
    }
    if (!pending_.empty()) {
        // Bytes that came in clear after the answer that agreed to TLS were never part of it: someone on the way
        // put them there, to be taken as the server's first words under TLS.
        return fail("LAN operation ---> TLS handshake is abnormal[err: %d]", EPROTO);
    }
    TlsRefusal refusal;
    tls_ = tls_open(fd_, host_, pin, timing().connect_timeout_ms, refusal, cancel_fd_);
    if (tls_ != nullptr) {
        return 0;
    }
    if (refusal.kind == TlsRefusal::Kind::untrusted) {
        refused_ = refusal.peer;
        // The fingerprint goes into the line so that the user can decide to trust this very certificate.
        write_error_logf("LAN operation ---> The server certificate is not trusted[err: %d] sha256:%s", refusal.code,
                         refusal.fingerprint.c_str());
        errno = refusal.code;
        return -1;
    }
    return fail("LAN operation ---> TLS handshake is abnormal[err: %d]", refusal.code);
}

bool MailConnection::tls_peer(TlsPeer& peer) const {
    if (tls_ != nullptr) {
        peer = ::tls_peer(tls_);
        return true;
    }
    peer = refused_;
    return !refused_.fingerprint.empty();
}

int MailConnection::send(const char* bytes, int length) {
    if (fd_ < 0) {
        return fail("LAN operation ---> Transmission of a message (select) is abnormal[err: %d]", EBADF);
    }
    int ready = wait_socket(fd_, POLLOUT, cancel_fd_, timing().send_timeout_ms);
    int wait_code = errno;
    if (ready != 1) {
        return fail("LAN operation ---> Transmission of a message (select) is abnormal[err: %d]", wait_code);
    }
    if (bytes == nullptr || length < 0) {
        return fail("LAN operation ---> The transmission of a message is abnormal[err: %d]", EINVAL);
    }
    // A server that has gone away must give an error here, not a SIGPIPE that ends the notifier.
    ssize_t sent = tls_ != nullptr ? tls_write(tls_, bytes, static_cast<std::size_t>(length))
                                   : ::send(fd_, bytes, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (sent < 0) {
        return fail("LAN operation ---> The transmission of a message is abnormal[err: %d]", errno);
    }
    if (sent < length) {
        return fail("LAN operation ---> Transmission of a message (length) is abnormal[err: %d]", wait_code);
    }
    return 0;
}

int MailConnection::wait_readable(int timeout_ms) {
    if (!pending_.empty()) {
        return 1;
    }
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    if (tls_ != nullptr) {
        return tls_wait_readable(tls_, timeout_ms);
    }
    return wait_socket(fd_, POLLIN, cancel_fd_, timeout_ms);
}

void MailConnection::set_cancel(int cancel_fd) {
    cancel_fd_ = cancel_fd;
    if (tls_ != nullptr) {
        tls_set_cancel(tls_, cancel_fd);
    }
}

int MailConnection::keep_alive(int idle_ms, int interval_ms, int probes) {
    auto seconds = [](int ms) { return std::max(1, (ms + 999) / 1000); };
    const int on = 1;
    const int idle = seconds(idle_ms);
    const int interval = seconds(interval_ms);
    if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0) {
        return fail("LAN operation ---> The keepalive setting is abnormal[err: %d]", fd_ < 0 ? EBADF : errno);
    }
    return 0;
}

bool MailConnection::endpoints(sockaddr_storage& local, sockaddr_storage& peer) const {
    socklen_t local_size = sizeof local;
    socklen_t peer_size = sizeof peer;
    return fd_ >= 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &local_size) == 0 &&
           getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &peer_size) == 0;
}

int MailConnection::receive_budget_ms() {
    const Timing& t = timing();
    return (t.recv_attempts + 1) * t.select_timeout_ms;
}

// One wait of at most one select time-out, charged to the budget: the time spent waiting is what a server that
// trickles its bytes stretches, whatever it does between them.
int MailConnection::wait_charged(int& budget_ms) {
    const Clock::time_point start = Clock::now();
    int ready = wait_readable(std::min(timing().select_timeout_ms, budget_ms));
    const int code = errno;
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    budget_ms = std::max(0, budget_ms - static_cast<int>(spent));
    errno = code;
    return ready;
}

// Waits for data in attempts: poll, count. Gives up after recv_attempts + 1 polls have found nothing, or when the
// budget is spent.
int MailConnection::wait_for_data(const char* give_up_format, int& budget_ms) {
    if (fd_ < 0) {
        return fail(give_up_format, EBADF);
    }
    for (int attempt = 1;; ++attempt) {
        int ready = wait_charged(budget_ms);
        int code = errno;
        if (ready == 1) {
            return 0;
        }
        if (attempt > timing().recv_attempts || budget_ms == 0) {
            return fail(give_up_format, code);
        }
    }
}

// One receive of at most n bytes, bytes that an earlier line receive took ahead first: as recv, 0 when the server
// closed.
long MailConnection::read_some(void* into, std::size_t n) {
    if (!pending_.empty()) {
        std::size_t take = std::min(n, pending_.size());
        std::memcpy(into, pending_.data(), take);
        pending_.erase(0, take);
        return static_cast<long>(take);
    }
    if (tls_ != nullptr) {
        return tls_read(tls_, into, n);
    }
    ssize_t got;
    do {
        got = recv(fd_, into, n, 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

// read_some after one charged wait: -1 with EAGAIN when nothing came within one select time-out (as a blocking
// receive bounded by it), with ETIMEDOUT when the budget is spent.
long MailConnection::read_charged(void* into, std::size_t n, int& budget_ms) {
    int ready = wait_charged(budget_ms);
    if (ready == 0) {
        errno = budget_ms == 0 ? ETIMEDOUT : EAGAIN;
        return -1;
    }
    return ready < 0 ? -1 : read_some(into, n);
}

// Makes sure pending_ holds at least one byte: a charged read of what has come (up to one TLS record). 1 when it
// does, 0 when the server has closed the connection, -1 when the read failed.
int MailConnection::fill_pending(int& budget_ms) {
    if (!pending_.empty()) {
        return 1;
    }
    char chunk[16384];
    long got = read_charged(chunk, sizeof chunk, budget_ms);
    if (got > 0) {
        pending_.assign(chunk, static_cast<std::size_t>(got));
    }
    return got > 0 ? 1 : static_cast<int>(got);
}

int MailConnection::recv_line(char* buffer, int* length, char line_end) {
    const int capacity = *length < 0 ? 0 : *length;
    std::memset(buffer, 0, static_cast<std::size_t>(capacity));
    int budget = receive_budget_ms();
    if (wait_for_data("LAN operation ---> 受信(select)異常[err: %d]", budget) != 0) {
        return -1;
    }

    // The line is taken as its bytes come, in whatever pieces; what follows its end stays in pending_ for the next
    // receive. A closed connection reads as zero bytes: the positions fill with zeros up to the cut, which is no
    // error. Positions 0 .. capacity + 1 may be written.
    int position = 0;
    bool closed = false;
    while (!closed && position <= capacity + 1) {
        int filled = fill_pending(budget);
        if (filled < 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", errno);
        }
        if (filled == 0) {
            closed = true;
            break;
        }
        const std::size_t room = static_cast<std::size_t>(capacity + 2 - position);
        const std::size_t available = std::min(room, pending_.size());
        const void* end = std::memchr(pending_.data(), line_end, available);
        const std::size_t take =
            end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - pending_.data()) + 1 : available;
        std::memcpy(buffer + position, pending_.data(), take);
        pending_.erase(0, take);
        position += static_cast<int>(take);
        if (end != nullptr) {
            *length = position - 1;
            return 0;
        }
    }
    if (closed) {
        std::memset(buffer + position, 0, static_cast<std::size_t>(capacity + 2 - position));
        *length = capacity + 1;
        return 0;
    }

    // The line is longer than the buffer: read and drop the rest of it. A line that never ends would keep the
    // check here for ever, so the drop stops after kRecvDropLimit bytes.
    for (int dropped = 0;;) {
        int filled = fill_pending(budget);
        if (filled < 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", errno);
        }
        if (filled == 0) {
            break;
        }
        const std::size_t room = static_cast<std::size_t>(kRecvDropLimit - dropped);
        const std::size_t available = std::min(room, pending_.size());
        const void* end = std::memchr(pending_.data(), line_end, available);
        const std::size_t take =
            end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - pending_.data()) + 1 : available;
        pending_.erase(0, take);
        dropped += static_cast<int>(take);
        if (end != nullptr) {
            break;
        }
        if (dropped == kRecvDropLimit) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", EMSGSIZE);
        }
    }
    *length = capacity + 1;
    return 0;
}

int MailConnection::recv_block(char* buffer, int* length, int count) {
    int budget = receive_budget_ms();
    return recv_block(buffer, length, count, budget);
}

int MailConnection::recv_block(char* buffer, int* length, int count, int& budget_ms) {
    if (*length > 0) {
        std::memset(buffer, 0, static_cast<std::size_t>(*length));
    }
    if (wait_for_data("LAN operation ---> Reception (select) is abnormal[err: %d]", budget_ms) != 0) {
        return -1;
    }
    long got = read_charged(buffer, count < 0 ? 0 : static_cast<std::size_t>(count), budget_ms);
    if (got < 0) {
        return fail("LAN operation ---> The reception is abnormal[err: %d]", errno);
    }
    *length = static_cast<int>(got);
    return 0;
}

void MailConnection::put_back(std::string_view bytes) {
    pending_.insert(0, bytes);
}

int MailConnection::recv_more(char* buffer, int count, int& budget_ms) {
    if (wait_readable(0) == 1) {
        long got = read_some(buffer, count < 0 ? 0 : static_cast<std::size_t>(count));
        return got < 0 ? fail("LAN operation ---> The reception is abnormal[err: %d]", errno) : static_cast<int>(got);
    }
    int length = 0;
    return recv_block(buffer, &length, count, budget_ms) == 0 ? length : -1;
}

int MailConnection::receive_line(std::string& line, std::size_t max_bytes, int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    std::size_t taken = 0;
    for (;;) {
        std::size_t end = pending_.find('\n');
        std::size_t take = end == std::string::npos ? pending_.size() : end + 1;
        if (taken + take > max_bytes) {
            pending_.clear();
            return fail("LAN operation ---> The reception is abnormal[err: %d]", EMSGSIZE);
        }
        line.append(pending_, 0, take);
        pending_.erase(0, take);
        taken += take;
        if (end != std::string::npos) {
            return 0;
        }
        int ready = wait_readable(remaining_ms(deadline));
        if (ready == 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", ETIMEDOUT);
        }
        char chunk[4096];
        long got = ready < 0 ? -1 : read_some(chunk, sizeof chunk);
        if (got <= 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", got == 0 ? ENOTCONN : errno);
        }
        pending_.append(chunk, static_cast<std::size_t>(got));
        if (pending_.find('\n') == std::string::npos && remaining_ms(deadline) == 0) {
            // A server that keeps sending must not stretch the wait: data that is ready says nothing of the time.
            return fail("LAN operation ---> The reception is abnormal[err: %d]", ETIMEDOUT);
        }
    }
}

int MailConnection::receive_exact(char* into, std::size_t size, int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (std::size_t done = 0; done < size;) {
        int ready = wait_readable(remaining_ms(deadline));
        if (ready == 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", ETIMEDOUT);
        }
        long got = ready < 0 ? -1 : read_some(into + done, size - done);
        if (got <= 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", got == 0 ? ENOTCONN : errno);
        }
        done += static_cast<std::size_t>(got);
        if (done < size && remaining_ms(deadline) == 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", ETIMEDOUT);
        }
    }
    return 0;
}

int MailConnection::close() {
    tls_close(tls_);
    tls_ = nullptr;
    refused_ = {};
    pending_.clear();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    return 0;
}

MailConnection& pop3_connection() {
    static MailConnection connection;
    return connection;
}
