// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/oauth_redirect.h"

#include <QByteArray>
#include <QTcpServer>

#include <functional>
#include <map>
#include <string>

class QTcpSocket;

// Waits on 127.0.0.1, at a port the system chose, for the browser's return to a sign-in (RFC 8252 7.3). Every
// connection's request is read up to kRedirectRequestMax bytes and answered with a short page; the first that
// carries the sign-in's state (read_redirect_request) is handed to answered, every other is ignored. At most
// kOpenMax connections are kept: a new one beyond them closes the oldest, so connections that never finish their
// request cannot shut the browser out. Lives in the thread's event loop.
class LoopbackListener {
public:
    explicit LoopbackListener(std::string state);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool listen();
    quint16 port() const { return server_.serverPort(); }

    std::function<void(const RedirectRequest&)> answered;
    // The HTML page the browser is left on once the sign-in heard its answer.
    std::string answered_page = "<meta charset=\"utf-8\"><p>kd5lite</p>";

    static constexpr std::size_t kOpenMax = 8;

private:
    void accept();
    void read(QTcpSocket* socket);
    void finish(QTcpSocket* socket, bool answer);

    std::string state_;
    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> open_; // each connection's request so far, by age of the connection
    std::map<QTcpSocket*, unsigned long> age_;
    unsigned long accepted_ = 0;
    bool done_ = false;
};
