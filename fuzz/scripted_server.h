#pragma once

#include <string>

// A server on a loopback port that plays a script for one connection at a time: it sends the script's bytes as
// soon as the client is in, closes its sending side, then reads whatever the client sends until the client ends
// the connection. The mail code under test talks to it over a real TCP connection, as to any server.
class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

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
