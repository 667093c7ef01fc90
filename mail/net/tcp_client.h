// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/net/mail_connection.h"

#include <cstddef>

// A small blocking TCP client for one mail server at a time: the one MailSocket of the process, a MailConnection
// (pop3_connection()) that these operations drive. They take the server's bytes as they come; every wait is bounded
// by the poll time-outs, attempts and budget of the timing record. Results: 0 on success, -1 on failure (with
// one "LAN operation ---> " line in the error log and errno kept at the failure's error number).

int c_init_socket();
int c_make_socket(const char* server); // "host", "host:port" or "[v6]:port"; plain hosts use the "pop3" service
int c_connect_socket();
int c_send_socket(const char* bytes, int length);
int c_recv_socket(char* buffer, int* length, char line_end);    // in: capacity; out: bytes before the line end
int c_recv_socket_setlen(char* buffer, int* length, int count); // in: bytes to clear; out: bytes received
int c_close_socket();
int c_end_socket();

// c_make_socket with the services entry to look up for a plain host name ("pop3" there).
int c_make_socket_for(const char* server, const char* service);

// Turns the connected socket into a TLS connection (after c_connect_socket, or after the server agreed to STLS):
// handshake within the connect time-out, then the certificate is checked against the system's trust store and
// the host of the server name, or else against fingerprint (the account's TlsFingerprint, SHA-256). From then on
// the send and receive operations carry their bytes through TLS, with the same waits and messages.
int c_start_tls(const char* fingerprint);
