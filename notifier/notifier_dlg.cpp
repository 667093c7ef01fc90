#include "notifier/notifier_dlg.h"

#include "mail/push.h"
#include "notifier/end_signals.h"
#include "notifier/mailbox.h"
#include "platform/timing.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

const char kTip[] = "corvo KD5 lite";

} // namespace

CNotifierDlg::CNotifierDlg() : frames_(tray_frames()) {
    setWindowTitle(QStringLiteral("corvo KD-5 lite ver2.30 Chinese"));
    setWindowIcon(application_icon());

    menu_.addAction(QStringLiteral("关　　闭"), this, [this] { end_by_user(); });
    // Without a notification area (another desktop, or no display at all) the notifier works all the same.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(frames_[0], this);
        tray_->setToolTip(QString::fromLatin1(kTip));
        tray_->setContextMenu(&menu_); // left and double clicks are left unconnected: they do nothing
        tray_->show();
    }

    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
    timer_.start(timing().poll_ms);

    if (int fd = end_signals_install(); fd >= 0) {
        end_signal_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(end_signal_, &QSocketNotifier::activated, this, [this] { end_of_session(); });
    }
#ifndef QT_NO_SESSIONMANAGER
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { end_of_session(); });
#endif
}

void CNotifierDlg::OnTimer() {
    mailbox_poll();
    if (mailbox_monitoring_requested()) {
        next_frame();
    }
    if (mailbox_busy()) {
        return;
    }
    if (mailbox_dispatch() == Dispatch::end_requested) {
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
