// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/notifier_dlg.h"

#include "credentials/token_stop.h"
#include "gui/about_box.h"
#include "logging/log.h"
#include "notifier/acknowledge.h"
#include "notifier/diagnosis_window.h"
#include "notifier/end_signals.h"
#include "notifier/health.h"
#include "notifier/hook.h"
#include "notifier/mailbox.h"
#include "notifier/notifier_service.h"
#include "notifier/service_requests.h"
#include "notifier/service_view.h"
#include "notifier/tray_status.h"
#include "platform/timing.h"
#include "push/push.h"
#include "settings/key_values.h"
#include "settings/settings_access.h"

#include "kd5_version.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QCursor>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

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

// The setup and option programs as installed, on PATH; a build that is not installed has them beside the notifier.
void start_tool(const char* name) {
    QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (program.isEmpty()) {
        program = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
    }
    if (!QProcess::startDetached(program, {})) {
        write_error_logf("tray menu ---> A program cannot be started[%s]", name);
    }
}

} // namespace

CNotifierDlg::CNotifierDlg() {
    setWindowTitle(QStringLiteral("corvo KD-5 lite ver" KD5_VERSION " Chinese"));
    setWindowIcon(application_icon());

    build_menu();
    show_status(false);
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
        connect(end_signal_, &QSocketNotifier::activated, this, [this, fd] {
            end_signals_drain(fd); // an unread byte would fire the notifier again at every event the end waits on
            end_of_session();
        });
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
    tray_ = new QSystemTrayIcon(tray_icon(look_, frame_), this);
    tip_ = tray_tip();
    tray_->setToolTip(tip_);
    tray_->setContextMenu(&menu_);
    // A left click opens the same menu: acknowledging by a click alone would put the lamp out by accident.
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            update_menu();
            menu_.popup(QCursor::pos());
        }
    });
    tray_->show();
}

void CNotifierDlg::build_menu() {
    check_now_ = menu_.addAction(QStringLiteral("立即检查"), this, [] { request_check_now(); });
    start_ = menu_.addAction(QStringLiteral("开始使用"), this, [] { request_start(); });
    stop_ = menu_.addAction(QStringLiteral("停止使用"), this, [] { request_stop(); });
    ack_menu_ = menu_.addMenu(QStringLiteral("已读"));
    ack_all_ = ack_menu_->addAction(QStringLiteral("全部"), this, [] { request_acknowledge(-1); });
    for (int i = 0; i < 3; ++i) {
        ack_accounts_[static_cast<std::size_t>(i)] =
            ack_menu_->addAction(QString(), this, [i] { request_acknowledge(i + 1); });
    }
    menu_.addSeparator();
    menu_.addAction(QStringLiteral("设定…"), this, [] { start_tool("kd5lite_ap"); });
    menu_.addAction(QStringLiteral("选项…"), this, [] { start_tool("kd5lite_op"); });
    menu_.addAction(QStringLiteral("诊断…"), this, [this] { diagnosis().run(); });
    menu_.addAction(QStringLiteral("关于"), this, [] {
        CAboutDlg about(nullptr, "kd5lite Version " KD5_VERSION " Chinese");
        about.exec();
    });
    menu_.addSeparator();
    menu_.addAction(QStringLiteral("关　　闭"), this, [this] { end_by_user(); });
    connect(&menu_, &QMenu::aboutToShow, this, [this] { update_menu(); });
}

// Only what can be acted on now is offered: a pass needs a running monitor, a start a stopped one.
void CNotifierDlg::update_menu() {
    check_now_->setEnabled(check_now_possible());
    start_->setEnabled(start_possible());
    stop_->setEnabled(stop_possible());
    const char* const lamps[3] = {"红", "绿", "黄"};
    std::array<std::string, 3> labels = account_labels();
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        QAction* entry = ack_accounts_[static_cast<std::size_t>(i)];
        const std::string& label = labels[static_cast<std::size_t>(i)];
        entry->setText(QString::fromUtf8(lamps[i]) + QLatin1Char(' ') + QString::fromStdString(label));
        entry->setVisible(!label.empty());
        entry->setEnabled(ack_possible(i));
        any = any || ack_possible(i);
    }
    ack_all_->setEnabled(any);
    ack_menu_->setEnabled(any);
}

// The check runs as a child of its own, kd5lite --check: it waits for servers and the keyring for seconds, which
// the notifier's window thread must not.
DiagnosisWindow& CNotifierDlg::diagnosis() {
    if (diagnosis_ == nullptr) {
        diagnosis_ = new DiagnosisWindow(QCoreApplication::applicationFilePath(), {QStringLiteral("--check")});
    }
    return *diagnosis_;
}

QMenu& CNotifierDlg::tray_menu() {
    update_menu();
    return menu_;
}

void CNotifierDlg::OnTimer() {
    bool stepped = false;
    if (mailbox_tick([&stepped] { stepped = true; }) == Dispatch::end_requested) {
        end_by_user();
    }
    show_status(stepped);
    const std::vector<Announcement> news = take_announcements();
    for (const Announcement& announcement : news) {
        if (announcement.desktop) {
            notifications_.show(announcement);
        }
    }
    tell_others(news);
    for (const HealthNoticeRequest& notice : take_health_notices()) {
        if (notice.close) {
            notifications_.close_health(notice.account);
        } else {
            notifications_.show_health(notice.account, QString::fromStdString(notice.summary),
                                       QString::fromStdString(notice.body));
        }
    }
}

// The bus service and the hook command hear of what changed, once per tick, from one view of the monitor's record.
void CNotifierDlg::tell_others(const std::vector<Announcement>& news) {
    const ServiceView now = read_service_view();
    const std::vector<ServiceEvent> events = view_events(view_, now);
    if (service_ != nullptr) {
        service_->publish(news, now, events);
    }
    hook_events(news, now, events);
    view_ = now;
}

void CNotifierDlg::show_status(bool step_frame) {
    std::array<LampLook, 3> look = tray_look(tray_status());
    bool changed = look != look_;
    if (step_frame) {
        frame_ = (frame_ + 1) % kTrayFrameCount;
    }
    look_ = look;
    if (tray_ == nullptr) {
        return; // no tip to build: nobody would see it, five times a second
    }
    if (changed || step_frame) {
        tray_->setIcon(tray_icon(look_, frame_));
    }
    if (QString tip = tray_tip(); tip != tip_) {
        tip_ = std::move(tip);
        tray_->setToolTip(tip_);
    }
}

QString CNotifierDlg::tray_tip() const {
    return QString::fromStdString(::tray_tip(tray_status(), account_labels()));
}

void CNotifierDlg::end_by_user() {
    if (!begin_end()) {
        return;
    }
    notifier_end_recorded();
    end_now();
}

void CNotifierDlg::end_of_session() {
    if (!begin_end()) {
        return;
    }
    pause_ms(timing().session_end_ms);
    end_now();
}

// The end lets events through (the tray icon's removal), and among them may be a second signal, the session's
// quit or the menu entry: each of those would begin the end again inside the first one, deeper in the stack each
// time, and never reach the exit. The first end is the one that counts.
bool CNotifierDlg::begin_end() {
    if (ending_) {
        return false;
    }
    ending_ = true;
    timer_.stop();
    tray_look_.stop();
    if (end_signal_ != nullptr) {
        end_signal_->setEnabled(false);
    }
    return true;
}

void CNotifierDlg::end_now() {
    ending_ = true;
    timer_.stop();
    if (tray_ != nullptr) {
        tray_->hide();
        QCoreApplication::processEvents(); // lets the removal reach the notification area before the process goes
    }
    if (diagnosis_ != nullptr) {
        diagnosis_->stop(); // the process ends without destructors: its child would outlive it
    }
    hook_end();         // a hook under way would outlive the process
    token_stop_raise(); // a watcher fetching a token ends the fetch rather than hold the end
    push_stop();        // the IMAP servers hear a LOGOUT rather than a dropped connection
    std::fflush(nullptr);
    // No destructors: the job thread may still be using the process-wide records.
    std::_Exit(1);
}
