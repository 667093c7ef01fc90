#include "platform/corvo_dir.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string home_dir() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/tmp";
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
    } else {
        dir = home_dir() + "/.config/corvo";
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

bool corvo_dir_ensure() { return make_dirs(corvo_dir()); }

std::string corvo_path(const std::string& name) { return corvo_dir() + "/" + name; }
