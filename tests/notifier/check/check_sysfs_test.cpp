// SPDX-License-Identifier: GPL-3.0-or-later
// The search for the lamp in sysfs when it has no tty, against fake sysfs trees.

#include "notifier/check/check_sysfs.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// One USB device as sysfs shows it: its attributes, and the entries a serial driver leaves in its interface.
struct FakeDevice {
    std::string name; // "1-2"
    std::string vendor;
    std::string product;
    std::string serial;
    std::string tty_entry; // "" none, "ttyUSB0" (usb-serial) or "tty/ttyACM0" (cdc-acm)
};

void make_device(const fs::path& root, const FakeDevice& d) {
    const fs::path device = root / "bus/usb/devices" / d.name;
    fs::create_directories(device / (d.name + ":1.0"));
    std::ofstream(device / "idVendor") << d.vendor << "\n";
    std::ofstream(device / "idProduct") << d.product << "\n";
    if (!d.serial.empty()) {
        std::ofstream(device / "serial") << d.serial << "\n";
    }
    if (!d.tty_entry.empty()) {
        fs::create_directories(device / (d.name + ":1.0") / d.tty_entry);
    }
}

TEST(CheckSysfs, FindsTheFtdiDeviceBySerialAndTellsWhetherItHasATty) {
    struct Row {
        const char* story;
        std::vector<FakeDevice> devices;
        const char* serial;
        bool found;
        const char* product;
        const char* tty;
    };
    const Row rows[] = {
        {"unknown product id: no tty", {{"1-2", "0403", "f0e9", "FT9Z", ""}}, "FT9Z", true, "f0e9", ""},
        {"bound by ftdi_sio", {{"1-2", "0403", "6001", "A1B2", "ttyUSB0"}}, "A1B2", true, "6001", "ttyUSB0"},
        {"a tty directory (cdc-acm)",
         {{"3-1", "0403", "6015", "A1B2", "tty/ttyACM0"}},
         "A1B2",
         true,
         "6015",
         "ttyACM0"},
        {"same serial, other maker", {{"1-2", "067b", "2303", "A1B2", ""}}, "A1B2", false, "", ""},
        {"serial is a prefix only", {{"1-2", "0403", "6001", "A1B2C", ""}}, "A1B2", false, "", ""},
        {"device without a serial", {{"1-2", "0403", "6001", "", ""}}, "A1B2", false, "", ""},
        {"empty serial finds nothing", {{"1-2", "0403", "6001", "", ""}}, "", false, "", ""},
        {"the right one among several",
         {{"1-1", "0403", "6001", "OTHER", "ttyUSB0"}, {"1-4", "0403", "f0e9", "A1B2", ""}},
         "A1B2",
         true,
         "f0e9",
         ""},
        {"no sysfs at all", {}, "A1B2", false, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.story);
        TempCorvo dir;
        const fs::path root = dir.path("sys");
        for (const FakeDevice& d : row.devices) {
            make_device(root, d);
        }
        std::optional<FtdiDevice> found = find_ftdi_device(root.string(), row.serial);
        ASSERT_EQ(found.has_value(), row.found);
        if (found) {
            EXPECT_EQ(found->product, row.product);
            EXPECT_EQ(found->tty, row.tty);
        }
    }
}

TEST(CheckSysfs, RootComesFromTheEnvironmentForTestsOnly) {
    unsetenv("KD5LITE_SYSFS_ROOT");
    EXPECT_EQ(sysfs_root(), "/sys");
    setenv("KD5LITE_SYSFS_ROOT", "/tmp/fake-sys", 1);
    EXPECT_EQ(sysfs_root(), "/tmp/fake-sys");
    unsetenv("KD5LITE_SYSFS_ROOT");
}

} // namespace
