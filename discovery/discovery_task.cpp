// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/discovery_task.h"

#include <QMetaObject>
#include <QThread>

DiscoveryTask::DiscoveryTask(std::string address, bool prefer_imap, Progress progress, Done done, QObject* parent)
    : QObject(parent) {
    thread_ = QThread::create(
        [this, address = std::move(address), prefer_imap, progress = std::move(progress), done = std::move(done)] {
            const DiscoveryResult result =
                discover_server(address, prefer_imap, stop_, [this, &progress](const std::string& line) {
                    QMetaObject::invokeMethod(
                        this,
                        [progress, line] {
                            if (progress) {
                                progress(line);
                            }
                        },
                        Qt::QueuedConnection);
                });
            QMetaObject::invokeMethod(
                this, [done, result] { done(result); }, Qt::QueuedConnection);
        });
    thread_->start();
}

DiscoveryTask::~DiscoveryTask() {
    stop_.stop();
    thread_->wait();
    delete thread_;
}
