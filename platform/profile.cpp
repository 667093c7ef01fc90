// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile.h"

#include "platform/profile_text.h"
#include "platform/timing.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes a descriptor at the end of a scope, keeping errno as it was.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            int saved = errno;
            close(fd_);
            errno = saved;
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool fail(int error) {
    errno = error;
    return false;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Holds the writers' lock file for one transaction. A writer stopped while holding it (Ctrl-Z, a debugger) must
// not hang every other program, so the wait is bounded. O_NOFOLLOW: a link planted as the lock file would have it
// created wherever the link points.
class WriterLock {
public:
    explicit WriterLock(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600)) {
        if (fd_.get() < 0) {
            return;
        }
        const Timing& t = timing();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t.settings_lock_wait_ms);
        for (;;) {
            if (flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
                held_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                busy_ = true;
                errno = ETIMEDOUT;
                return;
            }
            pause_ms(t.settings_lock_retry_ms);
        }
    }
    bool held() const { return held_; }
    bool busy() const { return busy_; }

private:
    Fd fd_; // closing it releases the lock
    bool held_ = false;
    bool busy_ = false;
};

// mkostemp's six letters and digits after the file's own name and a dot.
bool is_temp_name(const std::string& name, const std::string& base) {
    if (name.size() != base.size() + 7 || name.compare(0, base.size(), base) != 0 || name[base.size()] != '.') {
        return false;
    }
    for (std::size_t i = base.size() + 1; i < name.size(); ++i) {
        char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// A writer killed between its temporary file and the rename leaves the file behind, holding the scrambled
// passwords. Only the lock's holder calls this, so no live writer's file is older than a few milliseconds.
void remove_stale_temps(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    std::time_t oldest = std::time(nullptr) - timing().stale_temp_age_ms / 1000;
    while (const dirent* e = readdir(d)) {
        struct stat st {};
        if (is_temp_name(e->d_name, base) && fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_mtime < oldest) {
            unlinkat(dirfd(d), e->d_name, 0);
        }
    }
    closedir(d);
}

bool replace_file(const std::string& path, const std::string& text) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    fchmod(fd, 0600);
    bool ok = write_all(fd, text) && fsync(fd) == 0;
    int saved = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        saved = ok ? errno : saved;
        unlink(tmp.c_str());
        errno = saved;
        return false;
    }
    return true;
}

} // namespace

bool profile_replace(const std::string& path, const std::string& text) {
    return replace_file(path, text);
}

bool profile_read(const char* path, std::string& text) {
    text.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOFOLLOW: a link could lead anywhere.
    Fd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) {
        return errno == ENOENT;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        return fail(EINVAL);
    }
    if (static_cast<std::size_t>(st.st_size) > kProfileMaxBytes) {
        return fail(EFBIG);
    }
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = read(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            text.clear();
            return false;
        }
        if (n == 0) {
            text.clear();
            return fail(EIO); // the file shrank under us or the disk gave less than it holds
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t profile_get_string(const char* section, const char* key, const char* def, char* out, std::size_t size,
                               const char* path) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    std::string text;
    std::string value = def != nullptr ? def : "";
    if (profile_read(path, text)) {
        if (auto found = profile_find(text, section, key)) {
            value = *found;
        }
    }
    std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return n;
}

ProfileWrite profile_write_entries(const std::vector<ProfileEntry>& entries, const char* path) {
    WriterLock lock(std::string(path) + ".lock");
    if (!lock.held()) {
        return lock.busy() ? ProfileWrite::lock_busy : ProfileWrite::failed;
    }
    remove_stale_temps(path);
    std::string text;
    if (!profile_read(path, text)) {
        return ProfileWrite::unreadable;
    }
    for (const ProfileEntry& e : entries) {
        text = profile_update(text, e.section, e.key, e.value.substr(0, e.value.find_first_of("\r\n")));
    }
    return replace_file(path, text) ? ProfileWrite::done : ProfileWrite::failed;
}

bool profile_write_string(const char* section, const char* key, const char* value, const char* path) {
    return profile_write_entries({{section, key, value != nullptr ? value : ""}}, path) == ProfileWrite::done;
}
