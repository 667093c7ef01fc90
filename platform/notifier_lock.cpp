// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/notifier_lock.h"

#include "platform/corvo_dir.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Whether someone holds the exclusive lock on the file at path: a shared lock is refused then, and given up again
// at once otherwise. A missing file has never been locked.
bool held_at(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    int rc;
    while ((rc = flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
    }
    bool held = rc != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

} // namespace

bool notifier_lock_held() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0' && held_at(std::string(runtime) + "/" + kNotifierLockName)) {
        return true;
    }
    return held_at(corvo_path(kNotifierLockName));
}
