// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <sys/types.h>

// A desktop panel that hosts StatusNotifier items (GNOME's AppIndicator extension, KDE's panel), played by
// python3-dbusmock with our template (tray_host_mock.py) on the test's private session bus. A Qt program on a
// display then shows its tray icon as an item on the bus, and the test reads the item as the panel would: its tip.
// Ended with the object; a mock that does not come up fails wait_ready(), never skips.
class TrayHostMock {
public:
    explicit TrayHostMock(const std::string& dir);
    ~TrayHostMock();
    TrayHostMock(const TrayHostMock&) = delete;
    TrayHostMock& operator=(const TrayHostMock&) = delete;

    // True once the watcher answers on the bus, within timeout_ms.
    bool wait_ready(int timeout_ms);
    // The item's bus name, once a program has registered one; empty before.
    std::string item() const;
    // The title of the item's ToolTip, which the panel shows as the tip; empty when there is no item to read.
    std::string tip() const;

private:
    pid_t pid_ = -1;
    std::string dir_;
};
