// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into every program and test of the ThreadSanitizer build. Qt's libraries and the GLib and X11 (xcb)
// libraries under them are not built with it, so what their threads do (the file dialog's directory reader, the
// wake-up descriptor of a desktop-bus thread, the X11 event reader) is invisible to it and reported as races at
// the libraries' own copies, allocations and writes. Accesses made from inside them are left out; every access of
// ours is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libQt6XcbQpa.so.6\n"
           "called_from_lib:libxcb.so.1\n"
           "called_from_lib:libglib-2.0.so.0\n";
}
