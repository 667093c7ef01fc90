// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/notifier_stand_in.h"

#include "platform/corvo_dir.h"
#include "platform/notifier_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

NotifierStandIn::NotifierStandIn() {
    corvo_dir_ensure();
    fd_ = open(corvo_path(kNotifierLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        flock(fd_, LOCK_EX);
    }
}

NotifierStandIn::~NotifierStandIn() {
    end();
}

void NotifierStandIn::end() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}
