// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the tray for the README and the user guide from sample settings, never the user's:
//     kd5lite_shots [directory]        (default docs/screenshots)
// tray.png: the icon as the panel shows it, monitoring off (grey), then red lit, then all lit; tray-menu.png: its
// menu while monitoring runs with mail on the red account.

#include "gui/app_font.h"
#include "notifier/notifier_dlg.h"
#include "notifier/tray_status.h"
#include "platform/timing.h"
#include "settings/log_markers.h"
#include "settings/mailbox_codes.h"
#include "settings/settings_access.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kShown = 48; // a panel's icon size on a desktop scaled 1.5 times

TrayIconState looking(std::array<LampLook, 3> lamps) {
    TrayIconState state;
    state.lamps = lamps;
    return state;
}

QImage icon_strip() {
    using enum LampLook;
    const TrayIconState states[] = {looking({grey, grey, grey}), looking({lit, dark, dark}), looking({lit, lit, lit})};
    QImage strip(8 + (kShown + 8) * 3, kShown + 16, QImage::Format_ARGB32_Premultiplied);
    strip.fill(QColor(0x30, 0x30, 0x34)); // a dark panel
    QPainter p(&strip);
    for (int i = 0; i < 3; ++i) {
        p.drawImage(QPoint(8 + (kShown + 8) * i, 8), tray_image(states[i], kShown));
    }
    return strip;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot make a temporary settings directory\n");
        return 1;
    }
    setenv("CORVO_HOME", home.path().toLocal8Bit().constData(), 1);
    connect_log_markers();
    Timing t;
    t.poll_ms = 3600000; // the pictures show no mailbox at work
    set_timing(t);
    put_request(Request::monitor);
    settings_put(Key::Switch, "1", 0);
    settings_put(Key::ID, "taro@example.org", 0);
    settings_put(Key::ServerName, "pop.example.org", 0);
    settings_put(Key::Switch, "1", 1);
    settings_put(Key::ID, "hana", 1);
    settings_put(Key::ServerName, "imap.example.org", 1);
    tray_status_monitoring(true);
    tray_status_checked(0, 2, true, 0);
    tray_status_checked(1, 0, false, 0);

    QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QApplication app(argc, argv);
    apply_dialog_font(app);
    QDir().mkpath(dir);
    CNotifierDlg dlg;
    QMenu& menu = dlg.tray_menu();
    menu.adjustSize();
    bool ok = icon_strip().save(dir + QStringLiteral("/tray.png")) &&
              menu.grab().save(dir + QStringLiteral("/tray-menu.png"));
    std::printf("%s in %s\n", ok ? "2 pictures" : "failed", qPrintable(dir));
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1); // as the notifier itself ends: no destructors behind a job thread
}
