// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The lamp as the kernel sees it in sysfs, for a lamp with no entry under /dev/serial/by-id: an FTDI USB device
// (vendor 0403) whose product id the serial driver does not know is there, but has no tty.

inline constexpr char kFtdiVendor[] = "0403";

struct FtdiDevice {
    std::string product; // idProduct, four hex digits
    std::string tty;     // "ttyUSB0"; empty when no serial driver made one
};

// The sysfs root: $KD5LITE_SYSFS_ROOT when set and not empty (tests only), else /sys.
std::string sysfs_root();

// The FTDI device under root/bus/usb/devices whose serial is serial, if any.
std::optional<FtdiDevice> find_ftdi_device(const std::string& root, std::string_view serial);
