// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Holds the notifier's single-instance lock in the settings directory while it lives, so that the tools see a
// running notifier without one being started. Make it after the TempCorvo whose directory it uses.
class NotifierStandIn {
public:
    NotifierStandIn();
    ~NotifierStandIn();
    NotifierStandIn(const NotifierStandIn&) = delete;
    NotifierStandIn& operator=(const NotifierStandIn&) = delete;

    // Gives the lock up early: the notifier has ended.
    void end();

private:
    int fd_ = -1;
};
