// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Tells an X11 window manager which boxes a fixed window's frame offers: moving, and closing when the window has a
// close box, but never the boxes that iconise or enlarge it. Qt leaves the choice to the window manager when a
// window asks for no box at all (the option program's window), and offers resizing with a close box, so some
// window managers then show a maximize box that does nothing. Elsewhere (offscreen, Wayland) it does nothing.
void offer_no_enlarging(QWidget* window, bool close_box);
