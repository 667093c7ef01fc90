// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// TLS with OpenSSL on the mail check's connected socket. The server's certificate is trusted when its chain leads
// to an authority of the system's trust store and it names the host the user wrote, or else when its SHA-256
// fingerprint is the one the account pins. TLS 1.2 at least.
struct TlsLink;

// What kd5lite --check shows of a TLS link, or of a handshake whose certificate was refused: the protocol version,
// the certificate's subject and fingerprint, and why it was trusted.
struct TlsPeer {
    std::string protocol;    // "TLSv1.3"
    std::string subject;     // one line, RFC 2253 ("CN=pop.example.org,O=Example")
    std::string fingerprint; // SHA-256, as TlsFingerprint takes it
    bool pinned = false;     // trusted through the account's pin rather than the system's trust store
    // The host names and addresses it is valid for: its subjectAltName entries (RFC 6125 6.4), else its CN. As the
    // certificate has them, which need not be printable.
    std::vector<std::string> names{};
};
// Why tls_open gave no link.
struct TlsRefusal {
    enum class Kind { none, handshake, untrusted };
    Kind kind = Kind::none;
    // handshake: errno of a transport failure (ETIMEDOUT for a handshake that stalled), or the OpenSSL reason
    // code of a protocol failure (a plain server, no common version or cipher); untrusted: the X509_V_ERR_ code.
    int code = 0;
    std::string fingerprint; // untrusted: the certificate's SHA-256, in the form TlsFingerprint takes
    TlsPeer peer;            // untrusted: what the refused server showed
};

// Runs the handshake on the connected socket fd, all of it within timeout_ms, and judges the certificate. host is
// the server's name or address as the user wrote it; pin is the account's TlsFingerprint. nullptr, with refusal
// saying why, when the link cannot be had or trusted. The socket stays open either way. The handshake and every
// later wait end with ECANCELED once the eventfd cancel_fd (-1: none) is readable.
TlsLink* tls_open(int fd, const std::string& host, const char* pin, int timeout_ms, TlsRefusal& refusal,
                  int cancel_fd = -1);

// Waits at most timeout_ms for data to read: 1 when there is data or the server's end of the connection, 0 when
// the wait ran out (errno 0), -1 when the wait failed. Records without data, such as the session tickets a TLS 1.3
// server sends after the handshake, do not count: they must not cut short a wait for a slow server's reply.
int tls_wait_readable(TlsLink* link, int timeout_ms);

// As recv and send on the blocking socket, whose time-outs bound them: bytes moved, 0 when the server closed the
// connection with its closing alert (reading only), -1 with errno set. A connection that ends without the alert
// (truncation), or bytes that are not TLS, fail with EPROTO.
ssize_t tls_read(TlsLink* link, void* into, std::size_t size);
ssize_t tls_write(TlsLink* link, const void* bytes, std::size_t size);

TlsPeer tls_peer(const TlsLink* link);

// The eventfd that ends the link's waits from now on (-1: none).
void tls_set_cancel(TlsLink* link, int cancel_fd);

// Why the verifier refused a certificate, in OpenSSL's words, for an untrusted refusal's code.
std::string tls_refusal_reason(int code);
// Whether an untrusted refusal's code says the certificate names other hosts than the one asked for. The verifier
// looks at the names only once the chain is trusted, so such a certificate is otherwise sound.
bool tls_refused_for_name(int code);

// Sends the closing alert (close_notify) when the session is sound, and frees it. The socket stays open.
void tls_close(TlsLink* link);
