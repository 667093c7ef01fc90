// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/corvo_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Never a shared directory such as /tmp: settings there would be anybody's to read and to replace.
std::string home_dir() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    passwd entry {};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && *found->pw_dir != '\0') {
        return found->pw_dir;
    }
    return {};
}

bool make_dirs(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    std::string::size_type slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_dirs(path.substr(0, slash))) {
        return false;
    }
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

} // namespace

std::string corvo_dir() {
    std::string dir;
    if (const char* own = std::getenv("CORVO_HOME"); own != nullptr && *own != '\0') {
        dir = own;
    } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
        dir = std::string(xdg) + "/corvo";
    } else if (std::string home = home_dir(); !home.empty()) {
        dir = home + "/.config/corvo";
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

bool corvo_dir_trusted(std::string* why) {
    auto refuse = [why](int error, const std::string& text) {
        if (why != nullptr) {
            *why = text;
        }
        errno = error;
        return false;
    };
    std::string dir = corvo_dir();
    if (dir.empty()) {
        return refuse(ENOENT, "no home directory is known for this user (HOME is unset and the password database "
                              "has none)");
    }
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        return errno == ENOENT || refuse(errno, "the settings directory " + dir + " cannot be looked at: " +
                                                    std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode)) {
        return refuse(ENOTDIR, "the settings directory " + dir + " is not a directory");
    }
    if (st.st_uid != geteuid()) {
        return refuse(EPERM, "the settings directory " + dir + " belongs to user " + std::to_string(st.st_uid) +
                                 ", not to you (user " + std::to_string(geteuid()) + ")");
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return refuse(EPERM, "the settings directory " + dir + " may be written by its group or by others; " +
                                 "make it yours alone with: chmod go-w " + dir);
    }
    return true;
}

bool corvo_dir_check_at_start(const char* program) {
    std::string why;
    if (corvo_dir_trusted(&why)) {
        return true;
    }
    std::fprintf(stderr, "%s: %s. The settings are not read or written there; the program ends.\n", program,
                 why.c_str());
    return false;
}

bool corvo_dir_ensure() {
    std::string dir = corvo_dir();
    return !dir.empty() && make_dirs(dir) && corvo_dir_trusted();
}

std::string corvo_path(const std::string& name) { return corvo_dir() + "/" + name; }
