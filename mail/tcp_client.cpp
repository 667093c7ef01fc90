#include "mail/tcp_client.h"

#include "logging/log.h"
#include "mail/server_name.h"
#include "mail/tls_link.h"
#include "platform/timing.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// The one connection of the POP3 check. Only the job thread that checks mail uses it, one account at a time.
struct MailSocket {
    int fd = -1;
    sockaddr_storage address{};
    socklen_t address_length = 0;
    std::string host;       // as the server name gave it: the name the certificate must carry
    TlsLink* tls = nullptr; // set once c_start_tls succeeded; every byte goes through it from then on
};

MailSocket g_mail_socket;

// Writes the failure's line and hands its error number back through errno: writing the log may change errno.
int fail(const char* format, int code) {
    write_error_logf(format, code);
    errno = code;
    return -1;
}

// One poll on the socket; errno is cleared first so that a wait that simply ran out reports 0, not a stale code.
int wait_socket(short events, int timeout_ms) {
    pollfd p{g_mail_socket.fd, events, 0};
    errno = 0;
    return poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
}

// One wait for data to read. Over TLS only data counts, not the records that carry none.
int wait_readable(int timeout_ms) {
    if (g_mail_socket.tls != nullptr) {
        return tls_wait_readable(g_mail_socket.tls, timeout_ms);
    }
    return wait_socket(POLLIN, timeout_ms);
}

// Waits for data in attempts: pause, poll, count. Gives up after recv_attempts + 1 polls have found nothing.
int wait_for_data(int pause, const char* give_up_format) {
    if (g_mail_socket.fd < 0) {
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

ssize_t recv_some(void* into, std::size_t n) {
    if (g_mail_socket.tls != nullptr) {
        return tls_read(g_mail_socket.tls, into, n);
    }
    ssize_t got;
    do {
        got = recv(g_mail_socket.fd, into, n, 0);
    } while (got < 0 && errno == EINTR);
    return got;
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

// Connects without blocking and waits for the handshake at most connect_timeout_ms. Returns 0 or an errno value.
int connect_bounded(int fd, const sockaddr* address, socklen_t length) {
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int code = 0;
    if (connect(fd, address, length) != 0) {
        code = errno;
        if (code == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int ready;
            do {
                ready = poll(&p, 1, timing().connect_timeout_ms);
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
    if (getservbyname_r(service, "tcp", &entry, scratch, sizeof scratch, &found) != 0 || found == nullptr) {
        return 0;
    }
    return static_cast<in_port_t>(found->s_port);
}

// The first address of the name, with the port set. Returns 0 or the getaddrinfo error code (errno's value for a
// system error): name resolution has its own codes beside errno.
int resolve(const ServerName& name, in_port_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = name.numeric ? AI_NUMERICHOST : 0;
    addrinfo* list = nullptr;
    errno = 0;
    int rc = getaddrinfo(name.host.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        return rc == EAI_SYSTEM ? errno : rc;
    }
    const addrinfo* first = list;
    std::memcpy(&g_mail_socket.address, first->ai_addr, first->ai_addrlen);
    g_mail_socket.address_length = first->ai_addrlen;
    if (first->ai_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&g_mail_socket.address)->sin6_port = port;
    } else {
        reinterpret_cast<sockaddr_in*>(&g_mail_socket.address)->sin_port = port;
    }
    freeaddrinfo(list);
    return 0;
}

} // namespace

// There is no sockets layer to start or stop: the operating system's sockets are always there.
int c_init_socket() {
    return 0;
}

int c_end_socket() {
    return 0;
}

int c_make_socket(const char* server) {
    return c_make_socket_for(server, "pop3");
}

int c_make_socket_for(const char* server, const char* service) {
    c_close_socket(); // a connection left over from an earlier check must not leak its descriptor
    ServerName name = split_server_name(server != nullptr ? server : "");
    in_port_t port = 0;
    if (name.error == ServerName::Error::port) {
        return fail("LAN operation ---> The port number acquisition is abnormal[error: %d]", EINVAL);
    }
    if (name.port != 0) {
        port = htons(static_cast<uint16_t>(name.port));
    } else if ((port = service_port(service)) == 0) {
        return fail("LAN operation ---> The port number acquisition is abnormal[error: %d]", ENOENT);
    }
    int code = name.error == ServerName::Error::host ? EAI_NONAME : resolve(name, port);
    if (code != 0) {
        return fail("LAN operation ---> The acquisition of server host name is abnormal[error: %d]", code);
    }
    g_mail_socket.host = name.host;
    g_mail_socket.fd = socket(g_mail_socket.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (g_mail_socket.fd < 0) {
        return fail("LAN operation ---> Socket generation is abnormal[error: %d]", errno);
    }
    return 0;
}

int c_connect_socket() {
    int code = EBADF;
    if (g_mail_socket.fd >= 0) {
        code = connect_bounded(g_mail_socket.fd, reinterpret_cast<const sockaddr*>(&g_mail_socket.address),
                               g_mail_socket.address_length);
    }
    if (code != 0) {
        c_close_socket();
        return fail("LAN operation ---> A client connection demand is abnormal[error: %d]", code);
    }
    bound_transfers(g_mail_socket.fd);
    return 0;
}

int c_send_socket(const char* bytes, int length) {
    if (g_mail_socket.fd < 0) {
        return fail("LAN operation ---> Transmission of a message (select) is abnormal[err: %d]", EBADF);
    }
    int ready = wait_socket(POLLOUT, timing().send_timeout_ms);
    int wait_code = errno;
    if (ready != 1) {
        return fail("LAN operation ---> Transmission of a message (select) is abnormal[err: %d]", wait_code);
    }
    if (bytes == nullptr || length < 0) {
        return fail("LAN operation ---> The transmission of a message is abnormal[err: %d]", EINVAL);
    }
    // A server that has gone away must give an error here, not a SIGPIPE that ends the notifier.
    ssize_t sent = g_mail_socket.tls != nullptr
                       ? tls_write(g_mail_socket.tls, bytes, static_cast<std::size_t>(length))
                       : send(g_mail_socket.fd, bytes, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (sent < 0) {
        return fail("LAN operation ---> The transmission of a message is abnormal[err: %d]", errno);
    }
    if (sent < length) {
        return fail("LAN operation ---> Transmission of a message (length) is abnormal[err: %d]", wait_code);
    }
    return 0;
}

int c_recv_socket(char* buffer, int* length, char line_end) {
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
        ssize_t got = recv_some(&byte, 1);
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
        ssize_t got = recv_some(&scratch, 1);
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

int c_recv_socket_setlen(char* buffer, int* length, int count) {
    if (*length > 0) {
        std::memset(buffer, 0, static_cast<std::size_t>(*length));
    }
    if (wait_for_data(timing().recv_block_pause_ms, "LAN operation ---> Reception (select) is abnormal[err: %d]") !=
        0) {
        return -1;
    }
    pause_ms(timing().recv_settle_ms);
    ssize_t got = recv_some(buffer, count < 0 ? 0 : static_cast<std::size_t>(count));
    if (got < 0) {
        return fail("LAN operation ---> The reception is abnormal[err: %d]", errno);
    }
    *length = static_cast<int>(got);
    return 0;
}

int c_start_tls(const char* fingerprint) {
    if (g_mail_socket.fd < 0 || g_mail_socket.tls != nullptr) {
        int code = g_mail_socket.fd < 0 ? EBADF : EISCONN;
        return fail("LAN operation ---> TLS handshake is abnormal[err: %d]", code);
    }
    TlsRefusal refusal;
    const int timeout = timing().connect_timeout_ms;
    g_mail_socket.tls = tls_open(g_mail_socket.fd, g_mail_socket.host, fingerprint, timeout, refusal);
    if (g_mail_socket.tls != nullptr) {
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

bool c_tls_peer(TlsPeer& peer) {
    if (g_mail_socket.tls == nullptr) {
        return false;
    }
    peer = tls_peer(g_mail_socket.tls);
    return true;
}

int c_close_socket() {
    tls_close(g_mail_socket.tls);
    g_mail_socket.tls = nullptr;
    if (g_mail_socket.fd >= 0) {
        close(g_mail_socket.fd);
        g_mail_socket.fd = -1;
    }
    return 0;
}
