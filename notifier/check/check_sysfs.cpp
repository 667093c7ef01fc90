// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check_sysfs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute file; empty when it cannot be read.
std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The names in a directory; none when it cannot be read. Never throws, unlike the range-for over an iterator.
std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

// A USB-serial driver bound to one of the device's interfaces ("1-1:1.0") leaves a "ttyUSB0" directory there, or a
// "tty" directory that holds it (cdc-acm).
std::string tty_of(const fs::path& device) {
    for (const std::string& interface : entries(device)) {
        if (interface.find(':') == std::string::npos) {
            continue;
        }
        for (const std::string& name : entries(device / interface)) {
            if (name == "tty") {
                std::vector<std::string> inner = entries(device / interface / name);
                if (!inner.empty()) {
                    return inner.front();
                }
            } else if (name.starts_with("tty")) {
                return name;
            }
        }
    }
    return {};
}

} // namespace

std::string sysfs_root() {
    const char* root = std::getenv("KD5LITE_SYSFS_ROOT");
    return root != nullptr && *root != '\0' ? root : "/sys";
}

std::optional<FtdiDevice> find_ftdi_device(const std::string& root, std::string_view serial) {
    if (serial.empty()) {
        return std::nullopt;
    }
    const fs::path devices = fs::path(root) / "bus/usb/devices";
    for (const std::string& name : entries(devices)) {
        const fs::path device = devices / name;
        if (attribute(device / "idVendor") == kFtdiVendor && attribute(device / "serial") == serial) {
            return FtdiDevice{attribute(device / "idProduct"), tty_of(device)};
        }
    }
    return std::nullopt;
}
