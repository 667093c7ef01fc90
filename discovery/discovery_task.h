// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "discovery/discovery.h"

#include <QObject>
#include <functional>
#include <string>

class QThread;

// One discover_server on a thread of its own, for a window that must keep answering: progress and the result
// come back on the thread that made the task, through its event loop. Destroying the task stops the search and
// waits for its thread; what it had not yet handed back is dropped.
class DiscoveryTask : public QObject {
public:
    using Progress = std::function<void(const std::string& line)>;
    using Done = std::function<void(const DiscoveryResult& result)>;

    DiscoveryTask(std::string address, bool prefer_imap, Progress progress, Done done, QObject* parent = nullptr);
    ~DiscoveryTask() override;
    DiscoveryTask(const DiscoveryTask&) = delete;
    DiscoveryTask& operator=(const DiscoveryTask&) = delete;

    // Ends the search early; done is called with the stopped result all the same.
    void cancel() { stop_.stop(); }

private:
    DiscoveryStop stop_;
    QThread* thread_ = nullptr;
};
