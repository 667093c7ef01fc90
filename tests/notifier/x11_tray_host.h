// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

struct xcb_connection_t;

// A notification area of the X11 kind (the system tray protocol) on a display: it takes the tray selection,
// announces itself to the clients as a panel does when it starts, and sees the windows that ask to be docked.
class X11TrayHost {
public:
    explicit X11TrayHost(const std::string& display);
    ~X11TrayHost();
    X11TrayHost(const X11TrayHost&) = delete;
    X11TrayHost& operator=(const X11TrayHost&) = delete;

    bool ok() const { return window_ != 0; }
    // True once a client asked to dock its icon, within timeout_ms.
    bool wait_for_dock_request(int timeout_ms);

    // A press and release of a mouse button (1 left, 3 right) on the docked icon, as the panel passes them on.
    void click_icon(int button);
    // True once a popup window (a menu) is mapped, within timeout_ms.
    bool wait_for_popup(int timeout_ms);
    // A press and release of a key (an X keycode) in the popup last mapped.
    void press_key_in_popup(int keycode);

private:
    template <typename Seen> bool wait_for_event(int timeout_ms, Seen seen);
    void send_to(std::uint32_t window, std::uint8_t type, std::uint8_t detail, std::uint32_t mask);

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t window_ = 0;
    std::uint32_t opcode_ = 0;
    std::uint32_t root_ = 0;
    std::uint32_t icon_ = 0;  // the window the client asked to dock
    std::uint32_t popup_ = 0; // the popup window mapped last
};
