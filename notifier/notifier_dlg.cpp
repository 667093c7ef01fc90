// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/notifier_dlg.h"

#include "credentials/token_stop.h"
#include "gui/about_box.h"
#include "lamp/quiet.h"
#include "lamp/sound.h"
#include "logging/log.h"
#include "notifier/acknowledge.h"
#include "notifier/bus_probe.h"
#include "notifier/diagnosis_window.h"
#include "notifier/end_signals.h"
#include "notifier/health.h"
#include "notifier/hook.h"
#include "notifier/mailbox.h"
#include "notifier/notifier_service.h"
#include "notifier/service_requests.h"
#include "notifier/service_view.h"
#include "notifier/tray_status.h"
#include "notifier/tray_text.h"
#include "platform/clock.h"
#include "platform/timing.h"
#include "push/push.h"
#include "settings/key_values.h"
#include "settings/settings_access.h"

#include "kd5_version.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Ticks between two reads of the quiet time from the settings file: every five seconds at 200 ms.
constexpr int kQuietReadTicks = 25;

// The setup and option programs as installed, on PATH; a build that is not installed has them beside the notifier.
void start_tool(const char* name) {
    QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (program.isEmpty()) {
        program = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
    }
    QProcess tool;
    tool.setProgram(program);
    if (!session_bus_usable()) {
        // Given the session bus the desktop gave the notifier, whatever the notifier made of it for itself.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(session_bus_address_at_start()));
        tool.setProcessEnvironment(env);
    }
    if (!tool.startDetached()) {
        write_error_logf("tray menu ---> A program cannot be started[%s]", name);
    }
}

} // namespace

CNotifierDlg::CNotifierDlg() {
    setWindowTitle(QStringLiteral("corvo KD-5 lite ver" KD5_VERSION " Chinese"));
    setWindowIcon(application_icon());

    build_menu();
    // Without a notification area (another desktop, or no display at all) the notifier works all the same. Started
    // at login before the desktop's panel, it keeps looking until the area is there.
    tray_ = new TrayArea(
        menu_, [this] { update_menu(); }, this);
    show_status();
    tray_->start();
    notifications_.start();
    set_theme_sound_elsewhere(theme_sound_taken);
    connect(&notifications_, &DesktopNotifications::acknowledge_requested, this,
            [this](int account) { acknowledge_mail(account); });

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

void CNotifierDlg::build_menu() {
    check_now_ = menu_.addAction(QStringLiteral("立即检查"), this, [] { request_check_now(); });
    start_ = menu_.addAction(QStringLiteral("开始使用"), this, [] { request_start(); });
    stop_ = menu_.addAction(QStringLiteral("停止使用"), this, [] { request_stop(); });
    ack_menu_ = menu_.addMenu(QStringLiteral("已读"));
    ack_all_ = ack_menu_->addAction(QStringLiteral("全部"), this, [this] { acknowledge_mail(-1); });
    for (int i = 0; i < 3; ++i) {
        ack_accounts_[static_cast<std::size_t>(i)] =
            ack_menu_->addAction(QString(), this, [this, i] { acknowledge_mail(i); });
    }
    menu_.addSeparator();
    snooze_hour_ = menu_.addAction(QStringLiteral("静音 1 小时"), this, [this] { snooze(clock_now() + 3600); });
    snooze_tomorrow_ =
        menu_.addAction(QStringLiteral("静音到明天"), this, [this] { snooze(quiet_tomorrow(clock_now())); });
    snooze_end_ = menu_.addAction(QStringLiteral("取消静音"), this, [this] { snooze(0); });
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

// Only what can be acted on now is offered: a pass needs a running monitor, a start a stopped one, an acknowledge
// mail that waits.
void CNotifierDlg::update_menu() {
    const TrayStatus status = tray_status();
    const bool monitoring = status.monitoring;
    check_now_->setEnabled(check_now_possible());
    start_->setEnabled(start_possible());
    stop_->setEnabled(stop_possible());
    const char* const lamps[3] = {"红", "绿", "黄"};
    std::array<std::string, 3> labels = account_labels();
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<std::size_t>(i);
        QAction* entry = ack_accounts_[k];
        const bool possible = monitoring && ack_possible(i);
        QString text = QString::fromUtf8(lamps[i]) + QLatin1Char(' ') + QString::fromStdString(labels[k]);
        if (possible) {
            text += QStringLiteral("（%1 封）").arg(status.accounts[k].count);
        }
        entry->setText(text);
        entry->setVisible(!labels[k].empty());
        entry->setEnabled(possible);
        any = any || possible;
    }
    ack_all_->setEnabled(any);
    ack_menu_->setEnabled(any);
    ack_menu_->menuAction()->setEnabled(any);
    const bool snoozed = quiet_snoozed_until() > clock_now();
    snooze_end_->setVisible(snoozed);
}

// What waits now no longer lights the lamp; a pass at once puts the LED out, and its notification goes now rather
// than at that pass. account: 0 to 2, -1 for all.
void CNotifierDlg::acknowledge_mail(int account) {
    if (request_acknowledge(account == -1 ? -1 : account + 1) == Refusal::none) {
        notifications_.close_mail(account);
        forget_standing_notification(account);
    }
}

void CNotifierDlg::snooze(std::time_t until) {
    quiet_snooze(until);
    show_status();
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
    if (mailbox_tick([] {}) == Dispatch::end_requested) {
        end_by_user();
    }
    // The 声音 tab's quiet time, read again every few seconds rather than at every tick.
    if (++ticks_ % kQuietReadTicks == 0) {
        ini_read_key(Key::QuietStart);
        ini_read_key(Key::QuietEnd);
    }
    take_announcements_in();
    show_status();
}

void CNotifierDlg::take_announcements_in() {
    std::vector<Announcement> arrived; // the bus and the hook hear of new mail only
    for (Announcement& announcement : take_announcements()) {
        if (announcement.kind == Announcement::Kind::withdrawn) {
            notifications_.close_mail(announcement.account);
            continue;
        }
        if (announcement.desktop) {
            notifications_.show_mail(announcement);
        }
        arrived.push_back(std::move(announcement));
    }
    tell_others(arrived);
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

// One picture, tip and status per change of what they show: the lamps, the health marks, quiet, monitoring, and a
// pass that has run for a while.
void CNotifierDlg::show_status() {
    const TrayStatus status = tray_status();
    const std::time_t now = clock_now();
    const QuietNow quiet = quiet_at(now);
    const bool checking = status.checking && std::chrono::steady_clock::now() - status.pass_began >=
                                                 std::chrono::milliseconds(timing().checking_mark_ms);
    icon_ = tray_icon_state(status, quiet.quiet, checking);
    std::string tip = ::tray_tip(status, account_labels());
    if (const std::string line = quiet_tip_line(quiet, now); !line.empty()) {
        tip += "\n" + line;
    }
    tip_ = QString::fromStdString(tip);
    if (monitoring_ && !status.monitoring) {
        notifications_.close_mail(-1); // monitoring stopped: what the notifications said no longer holds
        forget_standing_notification(-1);
    }
    monitoring_ = status.monitoring;
    update_menu();
    tray_->show(icon_, tip_, QString::fromLatin1(tray_item_status(status)));
    tray_->menu_changed();
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
    if (end_signal_ != nullptr) {
        end_signal_->setEnabled(false);
    }
    return true;
}

void CNotifierDlg::end_now() {
    ending_ = true;
    timer_.stop();
    tray_->hide();
    QCoreApplication::processEvents(); // lets the removal reach the notification area before the process goes
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
