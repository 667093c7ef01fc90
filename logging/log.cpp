// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log.h"

#include "logging/log_gate.h"
#include "platform/corvo_dir.h"
#include "platform/local_time.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// One lock for every writer: a line is written whole, and a day's file is begun afresh only once. A plain mutex
// serves: what a writer calls under it cannot write a line. platform/ below writes none, the gate's calls hand
// their failures back as lines instead of writing them, and the capture only collects.
std::mutex g_log_mutex;

LogGate g_gate;                                           // under g_log_mutex
std::function<void(const std::string&)> g_error_capture; // under g_log_mutex

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

// The first line on a day other than the marker's. The switch may have been turned off on the log page since the
// record was loaded: the file has the last word on it, and only the day digits change. A file without the key, or
// one that cannot be read, leaves the record's switch. Returns the switch that holds now; the gate's failure lines
// go to reports.
std::string rotate(LogKind kind, const LocalTime& t, std::string value, std::string (&reports)[2]) {
    std::string stored = g_gate.stored_marker(kind, reports[0]);
    if (!stored.empty()) {
        value = stored;
    }
    if (switched_on(value)) {
        unlink(log_file_path(kind, t.day).c_str());
        char moved[8];
        std::snprintf(moved, sizeof moved, "1%02d", t.day);
        g_gate.move_marker(kind, moved, reports[1]);
    }
    return value;
}

void write_error_locked(const std::string& text, bool may_rotate);

// The state and error logs, under g_log_mutex: switch, rotation through the day marker, then the line. The
// failure lines of a rotation go to the error log before the line; those met rotating the error log itself go
// into the file just begun without a rotation of their own, so one line rotates each family at most once.
void write_switched(LogKind kind, const std::string& text, bool may_rotate) {
    std::string value = g_gate.marker != nullptr ? g_gate.marker(kind) : std::string();
    if (!switched_on(value)) {
        return;
    }
    LocalTime t{};
    get_local_time(t);
    if (may_rotate && text_to_int(value.c_str() + 1) != t.day) {
        std::string reports[2];
        value = rotate(kind, t, value, reports);
        for (const std::string& report : reports) {
            if (!report.empty()) {
                write_error_locked(report, kind != LogKind::err);
            }
        }
        if (!switched_on(value)) {
            return;
        }
    }
    write_line(kind, t, text + "\n");
}

void write_error_locked(const std::string& text, bool may_rotate) {
    if (g_error_capture) {
        g_error_capture(text);
        return;
    }
    write_switched(LogKind::err, text, may_rotate);
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

void set_log_gate(const LogGate& gate) {
    std::lock_guard lock(g_log_mutex);
    const bool whole = gate.marker != nullptr && gate.stored_marker != nullptr && gate.move_marker != nullptr;
    g_gate = whole ? gate : LogGate{};
}

void write_state_log(const char* text) {
    std::lock_guard lock(g_log_mutex);
    write_switched(LogKind::log, text != nullptr ? text : "", true);
}

void write_error_log(const char* text) {
    std::lock_guard lock(g_log_mutex);
    write_error_locked(text != nullptr ? text : "", true);
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
