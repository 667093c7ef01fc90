// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

inline constexpr char kReplySeparator = '\x1e'; // ASCII record separator

// A server on a loopback port that plays a script for one connection at a time. The script is the server's replies,
// separated by kReplySeparator: the first goes out as soon as the client is in, each later one when the client has
// sent a line (its next command) or has been quiet for a moment (as a server that speaks unasked). After the last
// one the server closes its sending side and reads whatever the client sends until the client ends the connection.
// The mail code under test talks to it over a real TCP connection, as to any server.
class ReplayServer {
public:
    ReplayServer();
    ~ReplayServer();
    ReplayServer(const ReplayServer&) = delete;
    ReplayServer& operator=(const ReplayServer&) = delete;

    int port() const { return port_; }

    // Starts serving one connection with script; finish() waits until that connection has ended (or no client
    // came within a few seconds) and gives what the client sent.
    void start(std::string script);
    std::string finish();

private:
    struct Session;
    int listener_ = -1;
    int port_ = 0;
    Session* session_ = nullptr;
};
