// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/loopback_listener.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>

namespace {

QByteArray page(const char* status, const char* type, const QByteArray& text) {
    const QByteArray body = text + '\n';
    return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
           "; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

LoopbackListener::LoopbackListener(std::string state) : state_(std::move(state)) {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
}

LoopbackListener::~LoopbackListener() {
    for (auto& [socket, received] : open_) {
        received.fill('\0');
        socket->abort();
    }
}

bool LoopbackListener::listen() {
    return server_.listen(QHostAddress(QHostAddress::LocalHost), 0);
}

void LoopbackListener::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (open_.size() >= kOpenMax) {
            auto oldest = std::min_element(age_.begin(), age_.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
            finish(oldest->first, false);
        }
        open_[socket];
        age_[socket] = accepted_++;
        QObject::connect(socket, &QTcpSocket::readyRead, &server_, [this, socket] { read(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, &server_, [this, socket] {
            if (open_.count(socket) != 0) {
                finish(socket, false);
            }
        });
        read(socket); // bytes may have come with the connection
    }
}

void LoopbackListener::read(QTcpSocket* socket) {
    const auto found = open_.find(socket);
    if (found == open_.end()) {
        return;
    }
    QByteArray& received = found->second;
    received += socket->read(static_cast<qint64>(kRedirectRequestMax) + 1 - received.size());
    const RedirectRequest request = read_redirect_request(
        std::string_view(received.constData(), static_cast<std::size_t>(received.size())), state_);
    if (request.kind == RedirectRequest::Kind::incomplete) {
        return;
    }
    const bool answer = request.kind != RedirectRequest::Kind::ignored && !done_;
    finish(socket, answer);
    if (answer) {
        done_ = true;
        if (answered) {
            answered(request);
        }
    }
}

// Answers and lets the connection go. The request held the code: its copy is wiped.
void LoopbackListener::finish(QTcpSocket* socket, bool answer) {
    auto found = open_.find(socket);
    if (found != open_.end()) {
        found->second.fill('\0');
        open_.erase(found);
    }
    age_.erase(socket);
    QObject::disconnect(socket, nullptr, &server_, nullptr);
    socket->write(answer ? page("200 OK", "text/html", QByteArray::fromStdString(answered_page))
                         : page("400 Bad Request", "text/plain", "kd5lite"));
    // Gone once the page is out: deleted at once, the socket would drop what it has not written yet.
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    }
}
