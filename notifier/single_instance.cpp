// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/single_instance.h"

#include "logging/log.h"
#include "platform/corvo_dir.h"
#include "platform/notifier_lock.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Attempt {
    InstanceLock lock;
    int error; // why the lock is unavailable
};

// The lock file must be a regular file of this user: O_NOFOLLOW keeps a planted symbolic link from sending the
// lock (and its creation) elsewhere, and a file of another user could be held by that user to keep the notifier
// from ever running.
Attempt lock_at(const std::string& path) {
    // Close-on-exec, so that a sound player started later does not carry the lock past the notifier's end.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        return {InstanceLock::unavailable, errno};
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        return {InstanceLock::unavailable, EPERM};
    }
    int rc;
    while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        return {InstanceLock::held, 0}; // fd stays open for the life of the process
    }
    int err = errno;
    close(fd);
    return {err == EWOULDBLOCK ? InstanceLock::refused : InstanceLock::unavailable, err};
}

void report_unusable(const std::string& path, int error) {
    std::fprintf(stderr, "kd5lite: cannot use the lock file %s (%s)\n", path.c_str(), std::strerror(error));
    ini_read_key(Key::ErrorLog); // the settings are not loaded yet; the switch decides whether the line is written
    write_error_logf("single instance ---> The lock file cannot be used[error: %d]", error);
}

} // namespace

InstanceLock single_instance_lock() {
    // Every notifier of the user looks in the same two places in the same order, so a lock that cannot be made in
    // $XDG_RUNTIME_DIR still keeps a second notifier out through the settings directory.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        std::string path = std::string(runtime) + "/" + kNotifierLockName;
        Attempt attempt = lock_at(path);
        if (attempt.lock != InstanceLock::unavailable) {
            return attempt.lock;
        }
        report_unusable(path, attempt.error);
    }
    corvo_dir_ensure();
    std::string path = corvo_path(kNotifierLockName);
    Attempt attempt = lock_at(path);
    if (attempt.lock == InstanceLock::unavailable) {
        report_unusable(path, attempt.error);
    }
    return attempt.lock;
}
