// SPDX-License-Identifier: GPL-3.0-or-later
#include "lamp/usb_serial.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <vector>

std::string serial_dir() {
    const char* dir = std::getenv("KD5LITE_SERIAL_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/dev/serial/by-id";
}

std::string_view open_serial(std::string_view serial_number) {
    return serial_number.size() <= 1 ? std::string_view{} : serial_number.substr(1);
}

std::string_view by_id_serial(std::string_view name) {
    std::size_t underscore = name.rfind('_');
    if (underscore == std::string_view::npos) {
        return {};
    }
    std::size_t start = underscore + 1;
    std::size_t end = name.find("-if", start);
    if (end == std::string_view::npos) {
        return {};
    }
    return name.substr(start, end - start);
}

std::string find_serial_entry(const std::string& dir, std::string_view serial) {
    if (serial.empty()) {
        errno = ENOENT;
        return {};
    }
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return {};
    }
    std::vector<std::string> names;
    while (const dirent* e = readdir(d)) {
        std::string_view name = e->d_name;
        if (by_id_serial(name) == serial) {
            names.emplace_back(name);
        }
    }
    closedir(d);
    if (names.empty()) {
        errno = ENOENT;
        return {};
    }
    return dir + "/" + *std::min_element(names.begin(), names.end());
}
