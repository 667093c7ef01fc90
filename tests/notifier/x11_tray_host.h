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

private:
    xcb_connection_t* connection_ = nullptr;
    std::uint32_t window_ = 0;
    std::uint32_t opcode_ = 0;
};
