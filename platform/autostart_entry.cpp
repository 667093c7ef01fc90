// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart_entry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string home_dir() {
    std::string home = env("HOME");
    if (home.empty()) {
        if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
            home = pw->pw_dir;
        }
    }
    return home;
}

std::string user_config_dir() {
    const std::string config = env("XDG_CONFIG_HOME");
    if (!config.empty() && config[0] == '/') { // a relative value is invalid and ignored (XDG base directories)
        return config;
    }
    const std::string home = home_dir();
    return home.empty() ? "" : home + "/.config";
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool make_dirs(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            if (mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

std::string user_autostart_path() {
    const std::string config = user_config_dir();
    return config.empty() ? "" : config + "/autostart/" + kAutostartFileName;
}

bool system_autostart_present() {
    std::string dirs = env("XDG_CONFIG_DIRS");
    if (dirs.empty()) {
        dirs = "/etc/xdg";
    }
    std::stringstream list(dirs);
    std::string dir;
    while (std::getline(list, dir, ':')) {
        struct stat st {};
        if (!dir.empty() && stat((dir + "/autostart/" + kAutostartFileName).c_str(), &st) == 0) {
            return true;
        }
    }
    return false;
}

std::string desktop_exec_argument(const std::string& path) {
    // freedesktop.org's desktop entry rules, "The Exec key": the reserved characters, and those escaped in quotes.
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    constexpr std::string_view kEscapedInQuotes = "\"`$\\";
    const bool quoted = path.find_first_of(kReserved) != std::string::npos;
    std::string argument = quoted ? "\"" : "";
    for (char c : path) {
        if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) {
            argument += '\\';
        }
        argument += c == '%' ? "%%" : std::string(1, c);
    }
    if (quoted) {
        argument += '"';
    }
    // The rules of a string value come on top, and are undone first by whoever reads the entry.
    std::string value;
    for (char c : argument) {
        switch (c) {
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c; break;
        }
    }
    return value;
}

std::string autostart_entry_text(bool on, const std::string& path) {
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=corvo KD5 lite\n"
                       "Comment=Lights the mail lamp when mail arrives\n"
                       "Exec=" +
                       desktop_exec_argument(path) +
                       "\n"
                       "Icon=kd5lite\n"
                       "Terminal=false\n";
    text += on ? "X-GNOME-Autostart-enabled=true\n" : "Hidden=true\n";
    return text;
}

bool autostart_entry_hidden(std::string_view text) {
    bool in_entry = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.starts_with('[')) {
            in_entry = line == "[Desktop Entry]";
            continue;
        }
        std::size_t eq = line.find('=');
        if (!in_entry || eq == std::string_view::npos) {
            continue;
        }
        std::string_view key = trimmed(line.substr(0, eq));
        std::string_view value = trimmed(line.substr(eq + 1));
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return true;
        }
    }
    return false;
}

bool autostart_at_login(bool settings_file_exists) {
    const std::string path = user_autostart_path();
    std::ifstream in(path, std::ios::binary);
    if (!path.empty() && in) {
        std::ostringstream text;
        text << in.rdbuf();
        return !autostart_entry_hidden(text.str());
    }
    return settings_file_exists && system_autostart_present();
}

int autostart_write(bool on, const std::string& exec) {
    const std::string path = user_autostart_path();
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    if (!make_dirs(path.substr(0, path.rfind('/')))) {
        return -1;
    }
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        return -1;
    }
    const std::string text = autostart_entry_text(on, exec);
    fchmod(fd, 0644); // an autostart entry is no secret, and the desktop reads it as any other
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    int error = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        errno = error != 0 ? error : EIO;
        return -1;
    }
    return 0;
}
