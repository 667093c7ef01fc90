#include "mail/mail_connection.h"

#include "logging/log.h"
#include "mail/server_name.h"
#include "mail/tls_link.h"
#include "platform/timing.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Writes the failure's line and hands its error number back through errno: writing the log may change errno.
int fail(const char* format, int code) {
    write_error_logf(format, code);
    errno = code;
    return -1;
}

// One poll on the socket; errno is cleared first so that a wait that simply ran out reports 0, not a stale code.
int wait_socket(int fd, short events, int timeout_ms) {
    pollfd p{fd, events, 0};
    errno = 0;
    return poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
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
int connect_bounded(int fd, const sockaddr* address, socklen_t length, int timeout_ms) {
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int code = 0;
    if (::connect(fd, address, length) != 0) {
        code = errno;
        if (code == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int ready;
            do {
                ready = poll(&p, 1, timeout_ms);
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

} // namespace

MailConnection::~MailConnection() {
    close();
}

int MailConnection::resolve(const char* server, const char* service) {
    return resolve_port(server, service, 0);
}

int MailConnection::resolve(const char* server, int default_port) {
    return resolve_port(server, nullptr, default_port);
}

// The addresses of the name, with the port set. Returns 0 or the getaddrinfo error code (errno's value for a
// system error): name resolution has its own codes beside errno.
int MailConnection::resolve_port(const char* server, const char* service, int default_port) {
    close(); // a connection left over from an earlier check must not leak its descriptor
    addresses_.clear();
    address_lengths_.clear();
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
    int code = EAI_NONAME;
    if (name.error != ServerName::Error::host) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = name.numeric ? AI_NUMERICHOST : 0;
        addrinfo* list = nullptr;
        errno = 0;
        int rc = getaddrinfo(name.host.c_str(), nullptr, &hints, &list);
        code = rc == 0 ? 0 : rc == EAI_SYSTEM ? errno : rc;
        for (const addrinfo* a = rc == 0 ? list : nullptr; a != nullptr; a = a->ai_next) {
            sockaddr_storage address{};
            std::memcpy(&address, a->ai_addr, a->ai_addrlen);
            if (a->ai_family == AF_INET6) {
                reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = port;
            } else {
                reinterpret_cast<sockaddr_in*>(&address)->sin_port = port;
            }
            addresses_.push_back(address);
            address_lengths_.push_back(a->ai_addrlen);
        }
        if (list != nullptr) {
            freeaddrinfo(list);
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
    if (fd_ >= 0) {
        code = connect_bounded(fd_, reinterpret_cast<const sockaddr*>(&addresses_.front()), address_lengths_.front(),
                               timing().connect_timeout_ms);
    }
    if (code != 0) {
        close();
        return fail("LAN operation ---> A client connection demand is abnormal[error: %d]", code);
    }
    bound_transfers(fd_);
    return 0;
}

int MailConnection::start_tls(const char* pin) {
    if (fd_ < 0 || tls_ != nullptr) {
        return fail("LAN operation ---> TLS handshake is abnormal[err: %d]", fd_ < 0 ? EBADF : EISCONN);
    }
    TlsRefusal refusal;
    tls_ = tls_open(fd_, host_, pin, timing().connect_timeout_ms, refusal);
    if (tls_ != nullptr) {
        return 0;
    }
    if (refusal.kind == TlsRefusal::Kind::untrusted) {
        // The fingerprint goes into the line so that the user can decide to trust this very certificate.
        write_error_logf("LAN operation ---> The server certificate is not trusted[err: %d] sha256:%s", refusal.code,
                         refusal.fingerprint.c_str());
        errno = refusal.code;
        return -1;
    }
    return fail("LAN operation ---> TLS handshake is abnormal[err: %d]", refusal.code);
}

int MailConnection::send(const char* bytes, int length) {
    if (fd_ < 0) {
        return fail("LAN operation ---> Transmission of a message (select) is abnormal[err: %d]", EBADF);
    }
    int ready = wait_socket(fd_, POLLOUT, timing().send_timeout_ms);
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
    return wait_socket(fd_, POLLIN, timeout_ms);
}

// Waits for data in attempts: pause, poll, count. Gives up after recv_attempts + 1 polls have found nothing.
int MailConnection::wait_for_data(int pause, const char* give_up_format) {
    if (fd_ < 0) {
        return fail(give_up_format, EBADF);
    }
    const Timing& t = timing();
    for (int attempt = 1;; ++attempt) {
        pause_ms(pause);
        int ready = wait_readable(t.select_timeout_ms);
        int code = errno;
        if (ready == 1) {
            return 0;
        }
        if (attempt > t.recv_attempts) {
            return fail(give_up_format, code);
        }
    }
}

// One receive of at most n bytes, bytes that receive_line took ahead first: as recv, 0 when the server closed.
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

int MailConnection::recv_line(char* buffer, int* length, char line_end) {
    const int capacity = *length < 0 ? 0 : *length;
    std::memset(buffer, 0, static_cast<std::size_t>(capacity));
    if (wait_for_data(timing().recv_line_pause_ms, "LAN operation ---> 受信(select)異常[err: %d]") != 0) {
        return -1;
    }
    pause_ms(timing().recv_settle_ms);

    // One byte at a time, so that nothing of the next line is taken. A closed connection reads as zero bytes:
    // the positions fill with zeros up to the cut, which is no error.
    int position = 0;
    for (;; ++position) {
        char byte = 0;
        long got = read_some(&byte, 1);
        if (got < 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", errno);
        }
        buffer[position] = got == 1 ? byte : 0;
        if (got == 1 && byte == line_end) {
            *length = position;
            return 0;
        }
        if (position > capacity) {
            break;
        }
    }

    // The line is longer than the buffer: read and drop the rest of it, one byte per pause. A line that never
    // ends would keep the check here for ever, so the drop stops after kRecvDropLimit bytes.
    for (int dropped = 0;; ++dropped) {
        if (dropped == kRecvDropLimit) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", EMSGSIZE);
        }
        pause_ms(timing().recv_drop_ms);
        char scratch = 0;
        long got = read_some(&scratch, 1);
        if (got < 0) {
            return fail("LAN operation ---> The reception is abnormal[err: %d]", errno);
        }
        if (got == 0 || scratch == line_end) {
            break;
        }
    }
    *length = capacity + 1;
    return 0;
}

int MailConnection::recv_block(char* buffer, int* length, int count) {
    if (*length > 0) {
        std::memset(buffer, 0, static_cast<std::size_t>(*length));
    }
    if (wait_for_data(timing().recv_block_pause_ms, "LAN operation ---> Reception (select) is abnormal[err: %d]") !=
        0) {
        return -1;
    }
    pause_ms(timing().recv_settle_ms);
    long got = read_some(buffer, count < 0 ? 0 : static_cast<std::size_t>(count));
    if (got < 0) {
        return fail("LAN operation ---> The reception is abnormal[err: %d]", errno);
    }
    *length = static_cast<int>(got);
    return 0;
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
    }
    return 0;
}

int MailConnection::close() {
    tls_close(tls_);
    tls_ = nullptr;
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
