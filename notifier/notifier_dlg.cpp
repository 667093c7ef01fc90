#include "notifier/notifier_dlg.h"

#include "notifier/end_signals.h"
#include "notifier/mailbox.h"
#include "platform/timing.h"
#include "push/push.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

const char kTip[] = "corvo KD5 lite";

// A desktop's panel that hosts StatusNotifier items, the notification area of today's desktops.
bool status_notifier_host() {
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher)) {
        return false;
    }
    QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    return host.property("IsStatusNotifierHostRegistered").toBool();
}

// Qt settles at its first look, once per process, whether it uses a StatusNotifier host; asked before the panel
// has started, it would never use the host that comes later. So it is asked only once a host is there, or on X11,
// whose older kind of tray it looks for anew each time.
bool notification_area() {
    QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        return false; // no display: no notification area will ever come
    }
    if (status_notifier_host()) {
        return QSystemTrayIcon::isSystemTrayAvailable();
    }
    return platform == QLatin1String("xcb") && QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace

CNotifierDlg::CNotifierDlg() : frames_(tray_frames()) {
    setWindowTitle(QStringLiteral("corvo KD-5 lite ver2.30 Chinese"));
    setWindowIcon(application_icon());

    menu_.addAction(QStringLiteral("关　　闭"), this, [this] { end_by_user(); });
    // Without a notification area (another desktop, or no display at all) the notifier works all the same. Started
    // at login before the desktop's panel, it looks again every few seconds until the area is there.
    connect(&tray_look_, &QTimer::timeout, this, [this] { look_for_tray(); });
    look_for_tray();
    if (tray_ == nullptr) {
        tray_look_.start(timing().tray_look_ms);
    }

    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
    timer_.start(timing().poll_ms);

    if (int fd = end_signals_install(); fd >= 0) {
        end_signal_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(end_signal_, &QSocketNotifier::activated, this, [this] { end_of_session(); });
    }
    // The desktop's session manager also asks for commit data when it only saves the session, so that request
    // ends nothing; when the session really ends it tells the application to quit.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { end_of_session(); });
}

void CNotifierDlg::look_for_tray() {
    if (tray_ != nullptr || !notification_area()) {
        return;
    }
    tray_look_.stop();
    tray_ = new QSystemTrayIcon(frames_[frame_], this);
    tray_->setToolTip(QString::fromLatin1(kTip));
    tray_->setContextMenu(&menu_); // left and double clicks are left unconnected: they do nothing
    tray_->show();
}

void CNotifierDlg::OnTimer() {
    if (mailbox_tick([this] { next_frame(); }) == Dispatch::end_requested) {
        end_by_user();
    }
}

void CNotifierDlg::next_frame() {
    frame_ = (frame_ + 1) % frames_.size();
    if (tray_ != nullptr) {
        tray_->setIcon(frames_[frame_]);
    }
}

void CNotifierDlg::end_by_user() {
    notifier_end_recorded();
    end_now();
}

void CNotifierDlg::end_of_session() {
    pause_ms(timing().session_end_ms);
    end_now();
}

void CNotifierDlg::end_now() {
    timer_.stop();
    if (tray_ != nullptr) {
        tray_->hide();
        QCoreApplication::processEvents(); // lets the removal reach the notification area before the process goes
    }
    push_stop(); // the IMAP servers hear a LOGOUT rather than a dropped connection
    std::fflush(nullptr);
    // No destructors: the job thread may still be using the process-wide records.
    std::_Exit(1);
}
