// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check.h"

#include "platform/corvo_dir.h"
#include "settings/key_values.h"
#include "settings/keys.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kTopic[] = "settings";
constexpr char kFirstStart[] = ": start kd5lite once, then enter the lamp and an account with kd5lite_ap";

std::string user_name(uid_t uid) {
    if (const passwd* pw = getpwuid(uid); pw != nullptr && pw->pw_name != nullptr) {
        return pw->pw_name;
    }
    return std::to_string(uid);
}

std::string mode_text(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The directory (0700) and the file (0600) belong to the user alone: the file holds the accounts' passwords,
// scrambled but not encrypted.
void judge_owner_and_mode(CheckReport& report, const std::string& path, const struct stat& st, mode_t wanted) {
    std::string what = path + ", mode " + mode_text(st.st_mode) + ", owner " + user_name(st.st_uid);
    if (st.st_uid != geteuid()) {
        report.warn(kTopic, what + ": not yours; sudo chown " + user_name(geteuid()) + " " + path);
    } else if ((st.st_mode & 077) != 0) {
        report.warn(kTopic, what + ": others may read it; chmod " + mode_text(wanted).substr(1) + " " + path);
    } else {
        report.ok(kTopic, what);
    }
}

// Reads the file once by hand, as the settings store opens it (no link, no FIFO that would hang the read): the
// store reads a file it cannot open as an empty one, without a word. Empty when it reads; else why not.
std::string read_error(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    char byte;
    std::string error;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
    } else if (read(fd, &byte, 1) < 0) {
        error = std::strerror(errno);
    }
    close(fd);
    return error;
}

std::string log_switch(Key key) {
    return log_switched_on(key) ? "on" : "off";
}

} // namespace

bool check_settings(CheckReport& report) {
    const std::string dir = corvo_dir();
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        report.fail(kTopic, "no directory " + dir + kFirstStart);
        return false;
    }
    // The programs refuse a directory that someone else may write: they would read settings planted there.
    if (std::string why; !corvo_dir_trusted(&why)) {
        report.fail(kTopic, why + "; until then no program of kd5lite starts");
        return false;
    }
    judge_owner_and_mode(report, dir, st, 0700);

    const std::string file = corvo_path(kSettingsFileName);
    if (stat(file.c_str(), &st) != 0) {
        report.fail(kTopic, "no file " + file + kFirstStart);
        return false;
    }
    if (std::string error = read_error(file); !error.empty()) {
        report.fail(kTopic, "cannot read " + file + " (" + error + "): it must be a file of yours, chmod 600 " + file);
        return false;
    }
    judge_owner_and_mode(report, file, st, 0600);

    // The notifier's load and its defaults, in memory only: nothing is saved.
    ini_read_all();
    ini_check_all();
    report.info(kTopic, "state log " + log_switch(Key::StateLog) + ", error log " + log_switch(Key::ErrorLog) +
                            " (kd5lite_ap, 日志 tab)");
    return true;
}
