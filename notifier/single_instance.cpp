#include "notifier/single_instance.h"

#include "platform/corvo_dir.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr char kLockName[] = "corvo KD-5 lite.lock";

} // namespace

std::string single_instance_path() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        return std::string(runtime) + "/" + kLockName;
    }
    corvo_dir_ensure();
    return corvo_path(kLockName);
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
