// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/notifier/gui_bus.h"

#include <cstdlib>
#include <filesystem>

namespace {

// Removed at the program's end, after the bus that lives in it (made later, so ended first).
struct OwnDir {
    OwnDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kd5lite-gui-bus-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~OwnDir() {
        std::error_code ignored;
        if (!path.empty()) {
            std::filesystem::remove_all(path, ignored);
        }
    }
    std::string path;
};

} // namespace

const std::string& gui_bus_dir() {
    static const OwnDir dir;
    return dir.path;
}

PrivateSessionBus& gui_bus() {
    static PrivateSessionBus bus(gui_bus_dir());
    return bus;
}
