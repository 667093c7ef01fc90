// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log.h"

#include "platform/corvo_dir.h"
#include "platform/local_time.h"
#include "platform/text.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// One lock for every writer: a line is written whole, and a day's file is begun afresh only once. Recursive: the
// settings file that a rotation reads and writes reports its own failures as error lines, from inside a writer.
std::recursive_mutex g_log_mutex;

std::function<void(const std::string&)> g_error_capture;

const char* stem(LogKind kind) {
    switch (kind) {
    case LogKind::log: return "log";
    case LogKind::err: return "err";
    case LogKind::dbg: return "dbg";
    case LogKind::usb: return "usb";
    case LogKind::pop: return "pop";
    case LogKind::reg: return "reg";
    case LogKind::led: return "led";
    case LogKind::sys: return "sys";
    }
    return "log";
}

std::string prefix_of(const LocalTime& t) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%02d/%02d %02d:%02d:%02d ", t.month, t.day, t.hour, t.minute, t.second);
    return prefix;
}

// Every line feed is stored as CR LF; carriage returns stay as they are.
std::string with_crlf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

void append_to(const std::string& path, const std::string& bytes) {
    if (!corvo_dir_ensure()) {
        return; // no directory, or not the user's own
    }
    // O_NOFOLLOW: a link planted in place of a log would have the line appended to whatever it names.
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        return; // a lost line is not reported anywhere
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    close(fd);
}

void write_line(LogKind kind, const LocalTime& t, const std::string& body) {
    append_to(log_file_path(kind, t.day), with_crlf(prefix_of(t) + body));
}

bool switched_on(const std::string& value) { return !value.empty() && value[0] == '1'; }

// The state and error logs: switch, rotation through the day marker, then the line.
void write_switched(Key marker, LogKind kind, const char* text) {
    std::lock_guard lock(g_log_mutex);
    thread_local bool rotating[2] = {}; // per family: a failure met while rotating is logged without a rotation
    bool& busy = rotating[kind == LogKind::err ? 1 : 0];
    std::string value = settings_get(marker);
    if (!switched_on(value)) {
        return;
    }
    LocalTime t{};
    get_local_time(t);
    if (!busy && text_to_int(value.c_str() + 1) != t.day) {
        // The switch may have been turned off on the log page since the record was loaded: the file has the last
        // word on it, and only the day digits change. A file without the key, or one that cannot be read, leaves
        // the record's switch.
        busy = true;
        char section[64];
        key_section(marker, 0, section, sizeof section);
        char stored[kIniReadSize];
        if (ini_get(section, key_name(marker), stored) == 0 && stored[0] != '\0') {
            value = stored;
            settings_set(marker, stored);
        }
        if (switched_on(value)) {
            unlink(log_file_path(kind, t.day).c_str());
            char moved[8];
            std::snprintf(moved, sizeof moved, "1%02d", t.day);
            settings_put(marker, moved);
        }
        busy = false;
        if (!switched_on(value)) {
            return;
        }
    }
    write_line(kind, t, std::string(text != nullptr ? text : "") + "\n");
}

} // namespace

std::string log_file_path(LogKind kind, int day) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%02d.log", stem(kind), day);
    return corvo_path(name);
}

std::string log_prefix() {
    LocalTime t{};
    get_local_time(t);
    return prefix_of(t);
}

void write_state_log(const char* text) { write_switched(Key::StateLog, LogKind::log, text); }

void write_error_log(const char* text) {
    {
        std::lock_guard lock(g_log_mutex);
        if (g_error_capture) {
            g_error_capture(text != nullptr ? text : "");
            return;
        }
    }
    write_switched(Key::ErrorLog, LogKind::err, text);
}

std::function<void(const std::string&)> set_error_log_capture(std::function<void(const std::string&)> capture) {
    std::lock_guard lock(g_log_mutex);
    std::swap(g_error_capture, capture);
    return capture;
}

void write_trace(LogKind kind, int enable, const char* text) {
    if (enable != 1) {
        return;
    }
    std::lock_guard lock(g_log_mutex);
    LocalTime t{};
    get_local_time(t);
    write_line(kind, t, std::string(text != nullptr ? text : "") + "\n");
}

void write_pop_trace(int enable, const char* caption, const char* data) {
    if (enable != 1) {
        return;
    }
    std::lock_guard lock(g_log_mutex);
    LocalTime t{};
    get_local_time(t);
    // The POP3 data carries its own line end.
    write_line(LogKind::pop, t, std::string(caption != nullptr ? caption : "") + (data != nullptr ? data : ""));
}

void write_usb_trace(int enable, const char* caption, const unsigned char* data) {
    if (enable != 1 || data == nullptr) {
        return;
    }
    std::lock_guard lock(g_log_mutex);
    LocalTime t{};
    get_local_time(t);
    std::size_t n = std::strlen(reinterpret_cast<const char*>(data));
    if (n == 0) {
        return;
    }
    append_to(log_file_path(LogKind::usb, t.day), with_crlf(usb_dump(prefix_of(t), caption, data, n)));
}
