// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Tells an X11 window manager which boxes a fixed window's frame offers: moving and closing, but never the boxes
// that iconise or enlarge it. Qt offers resizing with a close box, so some window managers would show a maximize
// box that does nothing. Elsewhere (offscreen, Wayland) it does nothing.
void offer_no_enlarging(QWidget* window);
