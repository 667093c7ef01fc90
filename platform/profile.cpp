#include "platform/profile.h"

#include "platform/profile_text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool read_file(const char* path, std::string& text) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
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

// Holds the writers' lock file for one read-modify-write.
class WriterLock {
public:
    explicit WriterLock(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) {
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~WriterLock() {
        if (fd_ >= 0) {
            close(fd_); // releases the lock
        }
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

bool replace_file(const std::string& path, const std::string& text) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    fchmod(fd, 0600);
    bool ok = write_all(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace

std::size_t profile_get_string(const char* section, const char* key, const char* def, char* out, std::size_t size,
                               const char* path) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    std::string text;
    std::string value = def != nullptr ? def : "";
    if (read_file(path, text)) {
        if (auto found = profile_find(text, section, key)) {
            value = *found;
        }
    }
    std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return n;
}

bool profile_write_string(const char* section, const char* key, const char* value, const char* path) {
    std::string clean = value != nullptr ? value : "";
    clean = clean.substr(0, clean.find_first_of("\r\n"));
    WriterLock lock(std::string(path) + ".lock");
    if (!lock.held()) {
        return false;
    }
    std::string text;
    read_file(path, text);
    return replace_file(path, profile_update(text, section, key, clean));
}
