// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QUrl;

// Hands a file or web address to the desktop, which opens it in the program it associates with it (a text
// viewer, the web browser). The result is not looked at.
void open_with_desktop(const QUrl& url);

// Replaces what open_with_desktop does (tests record the address instead of starting a program); an empty
// function restores the desktop.
void set_desktop_opener(std::function<void(const QUrl&)> opener);
