// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/desktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
std::function<void(const QUrl&)> g_opener;
} // namespace

void open_with_desktop(const QUrl& url) {
    if (g_opener) {
        g_opener(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

void set_desktop_opener(std::function<void(const QUrl&)> opener) {
    g_opener = std::move(opener);
}
