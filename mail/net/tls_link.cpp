// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/tls_link.h"

#include "mail/net/cancel_signal.h"
#include "mail/net/tls_settings.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

struct TlsLink {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    int fd = -1;
    bool trusted = false; // handshake done and certificate accepted
    bool pinned = false;  // accepted for the pin, not for the trust store
    std::string fingerprint;
    int cancel_fd = -1; // the connection's cancel signal: it ends every wait
    int failure = 0;      // errno of a fatal error, reported again by every later read and write; no closing
                          // alert may follow it
};

namespace {

using Clock = std::chrono::steady_clock;

// The socket under OpenSSL, with sends that never raise SIGPIPE (MSG_NOSIGNAL), as the plain client's: a server
// that has gone away must give an error, not end the notifier. A socket that would block reports a retry, which
// is how OpenSSL learns that a handshake step waits for the network.
int fd_of(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int bio_write(BIO* bio, const char* bytes, int size) {
    ssize_t n;
    do {
        n = send(fd_of(bio), bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    BIO_clear_retry_flags(bio);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(n);
}

int bio_read(BIO* bio, char* into, int size) {
    ssize_t n;
    do {
        n = recv(fd_of(bio), into, static_cast<std::size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    BIO_clear_retry_flags(bio);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(n);
}

long bio_ctrl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0; // nothing is buffered here
}

int bio_create(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO* socket_bio(int fd) {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "mail socket");
        BIO_meth_set_write(m, bio_write);
        BIO_meth_set_read(m, bio_read);
        BIO_meth_set_ctrl(m, bio_ctrl);
        BIO_meth_set_create(m, bio_create);
        return m;
    }();
    BIO* bio = BIO_new(method);
    if (bio != nullptr) {
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    }
    return bio;
}

bool is_address(const std::string& host) {
    unsigned char scratch[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), scratch) == 1 || inet_pton(AF_INET6, host.c_str(), scratch) == 1;
}

// Rounded up: a wait of a fraction of a millisecond left must still wait, not poll once and give up.
int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The error number of a failed handshake step: errno for the transport, the reason code for the protocol.
int failure_code(int ssl_error, int saved_errno) {
    if (ssl_error == SSL_ERROR_SYSCALL) {
        return saved_errno != 0 ? saved_errno : ECONNRESET; // the server closed in the middle of the handshake
    }
    int reason = ERR_GET_REASON(ERR_peek_last_error());
    return reason != 0 ? reason : EPROTO;
}

// Sets up the session: the system's trust store, the host name to check (X509_check_host's rules, no partial
// wildcards) and, for a name, SNI (RFC 6066 sends names only, never addresses).
bool prepare(TlsLink& link, const std::string& host) {
    link.ctx = SSL_CTX_new(TLS_client_method());
    if (link.ctx == nullptr) {
        return false;
    }
    SSL_CTX_set_min_proto_version(link.ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(link.ctx);
    // A connection that ends without the closing alert may have been cut by anyone on the way (truncation): it
    // is a failure, never an end. Renegotiation (TLS 1.2) is refused: nobody needs it for mail, and a server that
    // asks again and again could keep a receive busy without sending data.
    SSL_CTX_set_options(link.ctx, SSL_OP_NO_RENEGOTIATION);
    // The chain is judged after the handshake, so that a pinned certificate can be taken and a refused one named.
    SSL_CTX_set_verify(link.ctx, SSL_VERIFY_NONE, nullptr);
    link.ssl = SSL_new(link.ctx);
    BIO* bio = link.ssl != nullptr ? socket_bio(link.fd) : nullptr;
    if (bio == nullptr) {
        return false;
    }
    SSL_set_bio(link.ssl, bio, bio);
    X509_VERIFY_PARAM* param = SSL_get0_param(link.ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (is_address(host)) {
        return X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
    }
    return X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0) == 1 &&
           SSL_set_tlsext_host_name(link.ssl, host.c_str()) == 1;
}

// The handshake without blocking, so that all of it fits within the deadline. Returns 0 or the failure's code.
int handshake(TlsLink& link, int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const int flags = fcntl(link.fd, F_GETFL);
    fcntl(link.fd, F_SETFL, flags | O_NONBLOCK);
    int code = 0;
    for (;;) {
        ERR_clear_error();
        int rc = SSL_connect(link.ssl);
        int saved_errno = errno;
        if (rc == 1) {
            break;
        }
        int error = SSL_get_error(link.ssl, rc);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            code = failure_code(error, saved_errno);
            link.failure = code;
            break;
        }
        int left = remaining_ms(deadline);
        const short events = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        int ready = left > 0 ? poll_cancellable(link.fd, events, link.cancel_fd, left) : 0;
        if (ready == 0) {
            code = ETIMEDOUT;
            break;
        }
        if (ready < 0 && errno != EINTR) {
            code = errno;
            break;
        }
    }
    fcntl(link.fd, F_SETFL, flags);
    return code;
}

// The certificate's verdict: X509_V_OK when its chain and name check out, or when it is the pinned one.
long judge(TlsLink& link, const char* pin, std::string& fingerprint) {
    X509* certificate = SSL_get0_peer_certificate(link.ssl);
    if (certificate == nullptr) {
        return X509_V_ERR_UNSPECIFIED; // no certificate, nothing to trust
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    X509_digest(certificate, EVP_sha256(), digest, &size);
    fingerprint = fingerprint_text(digest, size);
    long verdict = SSL_get_verify_result(link.ssl);
    if (verdict == X509_V_OK) {
        return verdict;
    }
    link.pinned = fingerprint_matches(pin, fingerprint);
    return link.pinned ? X509_V_OK : verdict;
}

// A failed read or write as recv and send report it: 0 for the end of the connection, -1 with errno. A fatal
// error is kept, so that the read after a wait that met it reports what a plain socket would (a reset once seen
// reads as a mere end on the socket below).
ssize_t io_failure(TlsLink* link, int ssl_error, int saved_errno) {
    // SYSCALL without an error number: the socket ended without the closing alert, which only a cut connection
    // does.
    switch (ssl_error) {
    case SSL_ERROR_ZERO_RETURN: return 0;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: errno = EAGAIN; return -1; // the socket's time-out ran out
    case SSL_ERROR_SYSCALL: link->failure = saved_errno != 0 ? saved_errno : EPROTO; break;
    default: link->failure = EPROTO; break;
    }
    errno = link->failure;
    return -1;
}

// A fatal error met earlier, as the failed call reports it.
bool failed_before(const TlsLink* link) {
    if (link->failure == 0) {
        return false;
    }
    errno = link->failure;
    return true;
}

} // namespace

TlsLink* tls_open(int fd, const std::string& host, const char* pin, int timeout_ms, TlsRefusal& refusal,
                  int cancel_fd) {
    refusal = {};
    auto* link = new TlsLink;
    link->fd = fd;
    link->cancel_fd = cancel_fd;
    if (!prepare(*link, host)) {
        refusal = {TlsRefusal::Kind::handshake, ENOMEM, {}, {}};
    } else if (int code = handshake(*link, timeout_ms); code != 0) {
        refusal = {TlsRefusal::Kind::handshake, code, {}, {}};
    } else if (long verdict = judge(*link, pin, refusal.fingerprint); verdict != X509_V_OK) {
        refusal.kind = TlsRefusal::Kind::untrusted;
        refusal.code = static_cast<int>(verdict);
        link->fingerprint = refusal.fingerprint;
        refusal.peer = tls_peer(link);
    } else {
        link->trusted = true;
        link->fingerprint = refusal.fingerprint;
        refusal.fingerprint.clear();
        return link;
    }
    tls_close(link);
    return nullptr;
}

void tls_set_cancel(TlsLink* link, int cancel_fd) {
    link->cancel_fd = cancel_fd;
}

int tls_wait_readable(TlsLink* link, int timeout_ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        if (SSL_pending(link->ssl) > 0 || link->failure != 0) {
            return 1;
        }
        int ready = poll_cancellable(link->fd, POLLIN, link->cancel_fd, remaining_ms(deadline));
        if (ready != 1) {
            return ready;
        }
        // Bytes came: take in whole records without blocking, and see whether any of them carries data.
        const int flags = fcntl(link->fd, F_GETFL);
        fcntl(link->fd, F_SETFL, flags | O_NONBLOCK);
        ERR_clear_error();
        char byte;
        int rc = SSL_peek(link->ssl, &byte, 1);
        int saved_errno = errno;
        int error = SSL_get_error(link->ssl, rc);
        fcntl(link->fd, F_SETFL, flags);
        if (rc <= 0 && error != SSL_ERROR_WANT_READ) {
            io_failure(link, error, saved_errno); // kept for the read that follows
        }
        if (rc > 0 || error != SSL_ERROR_WANT_READ) {
            return 1; // data, the end, or a failure that the read will report
        }
        if (remaining_ms(deadline) == 0) {
            errno = 0;
            return 0;
        }
    }
}

ssize_t tls_read(TlsLink* link, void* into, std::size_t size) {
    if (failed_before(link)) {
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    ERR_clear_error();
    std::size_t got = 0;
    int rc = SSL_read_ex(link->ssl, into, size, &got);
    int saved_errno = errno;
    return rc == 1 ? static_cast<ssize_t>(got) : io_failure(link, SSL_get_error(link->ssl, rc), saved_errno);
}

ssize_t tls_write(TlsLink* link, const void* bytes, std::size_t size) {
    if (failed_before(link)) {
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    ERR_clear_error();
    std::size_t sent = 0;
    int rc = SSL_write_ex(link->ssl, bytes, size, &sent);
    int saved_errno = errno;
    if (rc == 1) {
        return static_cast<ssize_t>(sent);
    }
    if (io_failure(link, SSL_get_error(link->ssl, rc), saved_errno) == 0) {
        errno = EPIPE; // the server said goodbye: nothing more can be sent
    }
    return -1;
}

namespace {

// An address of a subjectAltName entry in the form people write it.
std::string address_text(const ASN1_OCTET_STRING* address) {
    char text[INET6_ADDRSTRLEN] = {};
    const int size = ASN1_STRING_length(address);
    const int family = size == 4 ? AF_INET : size == 16 ? AF_INET6 : AF_UNSPEC;
    if (family == AF_UNSPEC || inet_ntop(family, ASN1_STRING_get0_data(address), text, sizeof text) == nullptr) {
        return "?";
    }
    return text;
}

std::string string_text(const ASN1_STRING* text) {
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                       static_cast<std::size_t>(std::max(0, ASN1_STRING_length(text))));
}

// The names a certificate is valid for: DNS names and addresses of its subjectAltName, else its CN (which a
// verifier looks at only without a subjectAltName of DNS names).
std::vector<std::string> certificate_names(X509* certificate) {
    std::vector<std::string> names;
    auto* entries = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(entries); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(entries, i);
        if (entry->type == GEN_DNS) {
            names.push_back(string_text(entry->d.dNSName));
        } else if (entry->type == GEN_IPADD) {
            names.push_back(address_text(entry->d.iPAddress));
        }
    }
    GENERAL_NAMES_free(entries);
    if (names.empty()) {
        const X509_NAME* subject = X509_get_subject_name(certificate);
        const int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
        unsigned char* text = nullptr;
        const int size =
            at >= 0 ? ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at))) : -1;
        if (size >= 0) {
            names.emplace_back(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
        }
        OPENSSL_free(text);
    }
    return names;
}

} // namespace

TlsPeer tls_peer(const TlsLink* link) {
    TlsPeer peer;
    if (link == nullptr || link->ssl == nullptr) {
        return peer;
    }
    peer.protocol = SSL_get_version(link->ssl);
    peer.fingerprint = link->fingerprint;
    peer.pinned = link->pinned;
    if (X509* certificate = SSL_get0_peer_certificate(link->ssl)) {
        BIO* out = BIO_new(BIO_s_mem());
        if (out != nullptr) {
            X509_NAME_print_ex(out, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
            char* text = nullptr;
            long size = BIO_get_mem_data(out, &text);
            peer.subject.assign(text != nullptr ? text : "", size > 0 ? static_cast<std::size_t>(size) : 0);
            BIO_free(out);
        }
        peer.names = certificate_names(certificate);
    }
    return peer;
}

std::string tls_refusal_reason(int code) {
    return X509_verify_cert_error_string(code);
}

bool tls_refused_for_name(int code) {
    return code == X509_V_ERR_HOSTNAME_MISMATCH || code == X509_V_ERR_IP_ADDRESS_MISMATCH;
}

void tls_close(TlsLink* link) {
    if (link == nullptr) {
        return;
    }
    if (link->trusted && link->failure == 0) {
        ERR_clear_error();
        SSL_shutdown(link->ssl); // one alert sent, no answer awaited: the socket closes right after
    }
    SSL_free(link->ssl);
    SSL_CTX_free(link->ctx);
    ERR_clear_error();
    delete link;
}
