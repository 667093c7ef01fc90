#include "notifier/single_instance.h"

#include "platform/corvo_dir.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr char kLockName[] = "corvo KD-5 lite.lock";

const char* runtime_dir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && *runtime != '\0' ? runtime : nullptr;
}

std::string lock_path() {
    return runtime_dir() != nullptr ? std::string(runtime_dir()) + "/" + kLockName : corvo_path(kLockName);
}

} // namespace

std::string single_instance_path() {
    if (runtime_dir() == nullptr) {
        corvo_dir_ensure();
    }
    return lock_path();
}

bool single_instance_held() {
    int fd = open(lock_path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false; // no notifier has ever run here
    }
    // A shared lock is refused while the notifier holds its exclusive one, and given up again at once.
    int rc;
    while ((rc = flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
    }
    bool held = rc != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

InstanceLock single_instance_lock() {
    // Close-on-exec, so that a sound player started later does not carry the lock past the notifier's end.
    int fd = open(single_instance_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return InstanceLock::unavailable;
    }
    int rc;
    while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        return InstanceLock::held; // fd stays open for the life of the process
    }
    int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? InstanceLock::refused : InstanceLock::unavailable;
}
