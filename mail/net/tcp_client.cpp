// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/net/tcp_client.h"

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
    return pop3_connection().resolve(server, service);
}

int c_connect_socket() {
    return pop3_connection().connect();
}

int c_send_socket(const char* bytes, int length) {
    return pop3_connection().send(bytes, length);
}

int c_recv_socket(char* buffer, int* length, char line_end) {
    return pop3_connection().recv_line(buffer, length, line_end);
}

int c_recv_socket_setlen(char* buffer, int* length, int count) {
    return pop3_connection().recv_block(buffer, length, count);
}

int c_start_tls(const char* fingerprint) {
    return pop3_connection().start_tls(fingerprint);
}

int c_close_socket() {
    return pop3_connection().close();
}
