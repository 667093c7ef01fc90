// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/notifier/x11_tray_host.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

namespace {

constexpr std::uint32_t kRequestDock = 0; // system tray protocol: SYSTEM_TRAY_REQUEST_DOCK

xcb_atom_t atom(xcb_connection_t* c, const std::string& name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    xcb_atom_t a = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

} // namespace

X11TrayHost::X11TrayHost(const std::string& display) {
    int screen_number = 0;
    connection_ = xcb_connect(display.c_str(), &screen_number);
    if (xcb_connection_has_error(connection_) != 0) {
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screen_number; ++i) {
        xcb_screen_next(&it);
    }
    xcb_screen_t* screen = it.data;
    root_ = screen->root;
    // Popups (the tray menu) are override-redirect children of the root: their mapping is seen here.
    const std::uint32_t root_events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &root_events);
    xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_atom_t selection = atom(connection_, "_NET_SYSTEM_TRAY_S" + std::to_string(screen_number));
    opcode_ = atom(connection_, "_NET_SYSTEM_TRAY_OPCODE");
    xcb_set_selection_owner(connection_, window, selection, XCB_CURRENT_TIME);

    xcb_client_message_event_t manager{};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = screen->root;
    manager.type = atom(connection_, "MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = window;
    xcb_send_event(connection_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&manager));
    xcb_flush(connection_);
    window_ = window;
}

X11TrayHost::~X11TrayHost() {
    xcb_disconnect(connection_);
}

template <typename Seen> bool X11TrayHost::wait_for_event(int timeout_ms, Seen seen) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (ok()) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            bool found = seen(event);
            std::free(event);
            if (found) {
                return true;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || xcb_connection_has_error(connection_) != 0) {
            return false;
        }
        pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left.count()));
    }
    return false;
}

bool X11TrayHost::wait_for_dock_request(int timeout_ms) {
    return wait_for_event(timeout_ms, [this](xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) {
            return false;
        }
        auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->type != opcode_ || message->data.data32[1] != kRequestDock) {
            return false;
        }
        icon_ = message->data.data32[2];
        return true;
    });
}

bool X11TrayHost::wait_for_popup(int timeout_ms) {
    return wait_for_event(timeout_ms, [this](xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY) {
            return false;
        }
        auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (map->override_redirect == 0 || map->window == icon_) {
            return false;
        }
        popup_ = map->window;
        return true;
    });
}

void X11TrayHost::send_to(std::uint32_t window, std::uint8_t type, std::uint8_t detail, std::uint32_t mask) {
    // Button and key events share their layout.
    xcb_button_press_event_t e{};
    e.response_type = type;
    e.detail = detail;
    e.time = XCB_CURRENT_TIME;
    e.root = root_;
    e.event = window;
    e.child = XCB_NONE;
    e.root_x = 20;
    e.root_y = 20;
    e.event_x = 8;
    e.event_y = 8;
    e.state = 0;
    e.same_screen = 1;
    xcb_send_event(connection_, 0, window, mask, reinterpret_cast<const char*>(&e));
    xcb_flush(connection_);
}

void X11TrayHost::click_icon(int button) {
    auto detail = static_cast<std::uint8_t>(button);
    send_to(icon_, XCB_BUTTON_PRESS, detail, XCB_EVENT_MASK_BUTTON_PRESS);
    send_to(icon_, XCB_BUTTON_RELEASE, detail, XCB_EVENT_MASK_BUTTON_RELEASE);
}

void X11TrayHost::press_key_in_popup(int keycode) {
    auto detail = static_cast<std::uint8_t>(keycode);
    send_to(popup_, XCB_KEY_PRESS, detail, XCB_EVENT_MASK_KEY_PRESS);
    send_to(popup_, XCB_KEY_RELEASE, detail, XCB_EVENT_MASK_KEY_RELEASE);
}
