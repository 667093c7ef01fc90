// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check.h"

#include "lamp/protocol.h"
#include "lamp/usb.h"
#include "lamp/usb_serial.h"
#include "logging/log_text.h"
#include "notifier/check/check_sysfs.h"
#include "platform/notifier_lock.h"
#include "settings/settings_access.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kTopic[] = "lamp";

std::string group_name(gid_t gid) {
    if (const group* g = getgrgid(gid); g != nullptr && g->gr_name != nullptr) {
        return g->gr_name;
    }
    return std::to_string(gid);
}

bool member_of(gid_t gid) {
    if (getegid() == gid) {
        return true;
    }
    int n = getgroups(0, nullptr);
    std::vector<gid_t> groups(n > 0 ? static_cast<std::size_t>(n) : 0);
    n = getgroups(n, groups.data());
    for (int i = 0; i < n; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid) {
            return true;
        }
    }
    return false;
}

std::string real_path(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

// What lets the user open a tty that access() allows: root, ownership, the group, else the access list.
std::string access_grant(const struct stat& st) {
    if (geteuid() == 0) {
        return "as root";
    }
    if (st.st_uid == geteuid()) {
        return "as its owner";
    }
    if (member_of(st.st_gid) && (st.st_mode & S_IRGRP) != 0 && (st.st_mode & S_IWGRP) != 0) {
        return "through the group " + group_name(st.st_gid);
    }
    return "through its access list (uaccess)";
}

// Whether the user may open the tty, and what grants it: the desktop seat's access list (the uaccess tag of the
// udev rule) or the group, which is dialout on Debian.
bool judge_access(CheckReport& report, const std::string& entry) {
    const std::string tty = real_path(entry);
    struct stat st {};
    stat(tty.c_str(), &st);
    const std::string group = group_name(st.st_gid);
    if (faccessat(AT_FDCWD, tty.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        report.fail(kTopic, "you may not open " + tty + " (group " + group +
                                "): install the udev rule and plug the "
                                "lamp in again, or sudo adduser $USER " +
                                group + " and log in again");
        return false;
    }
    report.ok(kTopic, entry + " is " + tty + ", yours " + access_grant(st));
    return true;
}

// No entry under the by-id directory: the lamp is not plugged in, its serial is mistyped, or the kernel's serial
// driver does not know its product id and made no tty.
void explain_missing(CheckReport& report, std::string_view serial) {
    const std::string s(serial);
    std::optional<FtdiDevice> device = find_ftdi_device(sysfs_root(), serial);
    if (!device) {
        report.fail(kTopic, "no adapter with serial " + s + " in " + serial_dir() +
                                ": plug the lamp in, or correct the serial number (ls " + serial_dir() + ")");
        return;
    }
    const std::string id = std::string(kFtdiVendor) + " " + device->product;
    if (!device->tty.empty()) {
        report.fail(kTopic, "the lamp is /dev/" + device->tty + " but " + serial_dir() +
                                " has no entry for it: is udev running? sudo udevadm trigger --subsystem-match=tty");
        return;
    }
    report.fail(kTopic, "USB device " + id + " with serial " + s +
                            " has no serial driver; bind it now, as root: echo " + id +
                            " > /sys/bus/usb-serial/drivers/ftdi_sio/new_id");
    report.info(kTopic, "to bind it at every plug-in, put this line in /etc/udev/rules.d/71-kd5lite-" +
                            device->product + ".rules: ACTION==\"add\", SUBSYSTEM==\"usb\", ATTR{idVendor}==\"" +
                            kFtdiVendor + "\", ATTR{idProduct}==\"" + device->product +
                            "\", RUN+=\"/sbin/modprobe ftdi_sio\", RUN+=\"/bin/sh -c 'echo " + id +
                            " > /sys/bus/usb-serial/drivers/ftdi_sio/new_id'\"");
}

// One command and its answer, as the notifier's every lamp sequence begins: all LEDs off. An LED that the last
// notifier left lit when it ended (关闭 leaves the lamp as it is) goes dark with it, and the report says so: the
// user may have been looking at it.
void round_trip(CheckReport& report) {
    CapturedErrors errors;
    if (usb_open() != 0) {
        report.fail(kTopic, "cannot open it: " + errors.newest());
        return;
    }
    const LampCommand clear = cmd_clear();
    int answer = usb_write(clear.bytes, kCommandSize) == 0 ? usb_read() : -1;
    usb_close();
    if (answer == kAck) {
        report.ok(kTopic, "all LEDs off, answer 'Y'");
        report.info(kTopic, "the check switched off any LED left lit (关闭 leaves the lamp as it is), until a "
                            "running notifier's next check lights it again");
    } else if (answer >= 0) {
        report.fail(kTopic, "all LEDs off, answer '" + log_safe_text(std::string(1, static_cast<char>(answer))) +
                                "' instead of 'Y': the lamp refused; unplug it and plug it in again");
    } else {
        report.fail(kTopic, "all LEDs off, no answer (" + errors.newest() +
                                "): is it the lamp? unplug it and plug it in again");
    }
}

} // namespace

void check_lamp(CheckReport& report) {
    const std::string typed = settings_get(Key::SerialNumber);
    const std::string_view serial = open_serial(typed);
    if (serial.empty()) {
        report.fail(kTopic, "no serial number set: type the one on the lamp's sticker in kd5lite_ap, 系统 tab");
        return;
    }
    report.ok(kTopic, "serial number " + typed + " (the adapter's is " + std::string(serial) + ")");
    const std::string entry = find_serial_entry(serial_dir(), serial);
    if (entry.empty()) {
        explain_missing(report, serial);
        return;
    }
    if (!judge_access(report, entry)) {
        return;
    }
    // The notifier opens the lamp at every pass; a second program on the line would garble both.
    if (notifier_lock_held()) {
        report.info(kTopic, "not opened: the running notifier holds it");
        return;
    }
    round_trip(report);
}
