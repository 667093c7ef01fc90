// SPDX-License-Identifier: GPL-3.0-or-later
#include "lamp/usb.h"

#include "lamp/protocol.h"
#include "lamp/usb_serial.h"
#include "logging/log.h"
#include "platform/timing.h"
#include "settings/settings_access.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The process's one connection to the lamp. The FTDI chip is reached through the kernel's serial
// driver, so the "device handle" is the tty's descriptor.
struct DeviceLink {
    int fd = -1;
    bool open = false;
};

DeviceLink g_link;

constexpr int kBufferSize = 128; // largest command; the reply buffer has the same size

int fail(const char* message) {
    write_error_logf("USB operation ---> %s[error: %d]", message, errno);
    return -1;
}

// The line settings: raw, 9600 baud, 8N1, no flow control. VMIN 0 with VTIME bounds every read()
// even when the poll below is skipped; VTIME counts tenths of a second, so at least one. HUPCL off: with it the
// close at the end of each lamp sequence would drop DTR and RTS, and a lamp that draws power or a reset from them
// would lose the LEDs it was just told to keep lit.
void configure(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VSTART] = 0;
    tio.c_cc[VSTOP] = 0;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = static_cast<cc_t>(std::clamp((timing().usb_read_timeout_ms + 99) / 100, 1, 255));
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
}

// Rounded up: a wait must not end before its deadline, or a bounded wait would come short of its bound.
int remaining_ms(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max(0, static_cast<int>(left.count()));
}

// Reads up to n bytes within timeout_ms, as the D2XX read does: it waits for all n bytes or the time-out,
// whichever comes first. Returns the count read, or -1 with errno set. A hung-up tty (the adapter unplugged)
// reads as end of file; that is an I/O error here, not an empty answer.
int read_bounded(int fd, unsigned char* buffer, int n, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return -1;
        }
        if (ready == 0) {
            break;
        }
        ssize_t r = read(fd, buffer + got, static_cast<std::size_t>(n - got));
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (r < 0) {
            return -1;
        }
        if (r == 0) {
            if (p.revents & (POLLHUP | POLLERR)) {
                errno = EIO;
                return -1;
            }
            break;
        }
        got += static_cast<int>(r);
    }
    return got;
}

// Waits at most timeout_ms for the tty to have bytes to read (or to hang up: the read then reports it).
void wait_for_answer(int fd, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, remaining_ms(deadline)) < 0 && errno == EINTR) {
    }
}

// A process this one starts (a hook, a token command, the mail program) holds a copy of the open descriptor from
// its fork until its exec closes it, and with it the lock: a pass that opens the lamp just then waits for that
// moment to pass rather than losing its updates. Another program holding the lamp still fails the open.
bool take_lock(int fd) {
    const Timing t = timing();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t.usb_lock_wait_ms);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        pause_ms(t.usb_lock_retry_ms);
    }
}

} // namespace

int usb_open() {
    usb_close(); // a second open would hold the old descriptor and its lock forever
    std::string serial_number = settings_get(Key::SerialNumber);
    std::string path = find_serial_entry(serial_dir(), open_serial(serial_number));
    if (path.empty()) {
        return fail("Open abnormality");
    }
    // O_NONBLOCK: the open must not wait for a carrier; CLOCAL below makes later calls ignore it too.
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail("Open abnormality");
    }
    // One program drives the lamp at a time. flock rather than TIOCEXCL: the kernel drops the lock when its holder
    // dies, whereas TIOCEXCL on a pseudo-terminal outlives a crashed holder and would lock every later user out.
    // A tty that cannot be configured is not the lamp.
    termios probe{};
    if (!take_lock(fd) || tcgetattr(fd, &probe) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return fail("Open abnormality");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The D2XX open also resets the chip; a tty has no such reset, and the modem lines (DTR/RTS) are left alone:
    // the lamp needs none, and a pseudo-terminal refuses them with ENOTTY.
    configure(fd);
    g_link.fd = fd;
    g_link.open = true;
    return 0;
}

int usb_write(const unsigned char* bytes, int length) {
    length = std::clamp(length, 0, kBufferSize);
    unsigned char buffer[kBufferSize + 1] = {};
    if (bytes != nullptr) {
        std::memcpy(buffer, bytes, static_cast<std::size_t>(length));
    }
    write_usb_trace(0, "(S)", buffer);
    if (!g_link.open) {
        errno = EBADF;
        return fail("Note abnormality");
    }
    if (length == 0) {
        return 0;
    }
    // Writes are bounded like the D2XX write time-out: wait for room at most usb_write_timeout_ms.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing().usb_write_timeout_ms);
    for (;;) {
        pollfd p{g_link.fd, POLLOUT, 0};
        int ready = poll(&p, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return fail("Note abnormality");
        }
        if (ready == 0) {
            errno = ETIMEDOUT;
            return fail("Note abnormality");
        }
        ssize_t w = write(g_link.fd, buffer, static_cast<std::size_t>(length));
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w < 0) {
            return fail("Note abnormality");
        }
        // A short write is still a success: the D2XX count of bytes written is not compared either.
        return 0;
    }
}

int usb_read() {
    if (!g_link.open) {
        errno = EBADF;
        return fail("Reading abnormality");
    }
    const Timing& t = timing();
    // Wait for the answer to start arriving, woken by the tty as soon as it does; after the looks' whole time
    // (usb_poll_count * usb_poll_ms) the read is made all the same, which is not an error.
    wait_for_answer(g_link.fd, t.usb_poll_count * t.usb_poll_ms);
    int read_timeout_ms = t.usb_read_timeout_ms;
    unsigned char buffer[kBufferSize + 1] = {};
    if (read_bounded(g_link.fd, buffer, kReplySize, read_timeout_ms) < 0) {
        return fail("Reading abnormality");
    }
    write_usb_trace(0, "(R)", buffer);
    // The lamp answers every command with three bytes; only the first counts.
    if (!reply_char_valid(buffer[0])) {
        write_error_log("USB operation ---> Reading abnormality [data abnormality]");
        return -1;
    }
    return buffer[0];
}

int usb_close() {
    if (g_link.open) {
        close(g_link.fd); // also releases the flock
        g_link.fd = -1;
        g_link.open = false;
    }
    return 0;
}
