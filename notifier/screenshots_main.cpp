// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the tray for the README and the user guide from sample settings, never the user's:
//     kd5lite_shots [directory]        (default docs/screenshots)
// tray.png: the icon as the panel shows it, monitoring off (grey), then red lit, then all lit; tray-menu.png: its
// menu while monitoring runs with mail on the red account; tray-tip-health.png: the tip while the red account needs
// the user and the green one is late; diagnosis.png: the 诊断… window with a sample report.

#include "gui/app_font.h"
#include "notifier/diagnosis_window.h"
#include "notifier/notifier_dlg.h"
#include "notifier/tray_status.h"
#include "platform/timing.h"
#include "settings/log_markers.h"
#include "settings/mailbox_codes.h"
#include "settings/settings_access.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolTip>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kShown = 48; // a panel's icon size on a desktop scaled 1.5 times

// The tip as a panel shows it, in the tooltip's colours and font: a label, since a tooltip itself never shows on
// the offscreen platform.
QImage tip_picture(const QString& tip) {
    QLabel label(tip);
    label.setTextFormat(Qt::PlainText);
    label.setFont(QToolTip::font());
    label.setPalette(QToolTip::palette());
    label.setAutoFillBackground(true);
    label.setMargin(6);
    label.setFrameShape(QFrame::Box);
    label.adjustSize();
    return label.grab().toImage();
}

std::time_t today_at(int hour, int minute, int second) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return std::mktime(&t);
}

// A report as kd5lite --check prints it for these sample settings.
constexpr char kSampleReport[] =
    "ok   settings: read from ~/.config/corvo/corvo_kd5lite.ini\n"
    "ok   notifier: runs and monitors mail (last pass 10:12:03)\n"
    "ok   lamp: KD-5lite A1B2C3D4 answers\n"
    "ok   account 1 (red): pop.example.org is 192.0.2.10; port 995\n"
    "FAIL account 1 (red): the server refused the login: check the ID and type the password again (kd5lite_ap, "
    "账户 tab)\n"
    "FAIL account 2 (green): cannot connect: TCP/IP connection is abnormal[no.1 error: 111]\n"
    "warn sound: BeepTime is 1: the sound files are not played\n"
    "Monitoring cannot work until each FAIL line is mended.\n";

QImage icon_strip() {
    using enum LampLook;
    const std::array<LampLook, 3> looks[] = {{grey, grey, grey}, {lit, dark, dark}, {lit, lit, lit}};
    QImage strip(8 + (kShown + 8) * 3, kShown + 16, QImage::Format_ARGB32_Premultiplied);
    strip.fill(QColor(0x30, 0x30, 0x34)); // a dark panel
    QPainter p(&strip);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int i = 0; i < 3; ++i) {
        p.drawImage(QRect(8 + (kShown + 8) * i, 8, kShown, kShown), tray_image(looks[i], 0));
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
    tray_status_interval(10);

    QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QApplication app(argc, argv);
    apply_dialog_font(app);
    QDir().mkpath(dir);
    CNotifierDlg dlg;
    QMenu& menu = dlg.tray_menu();
    menu.adjustSize();
    bool ok = icon_strip().save(dir + QStringLiteral("/tray.png")) &&
              menu.grab().save(dir + QStringLiteral("/tray-menu.png"));

    // The red account's password was refused at 10:12 after a good check at 09:41; the green server has not
    // answered since 09:30.
    tray_status_checked(0, 2, true, today_at(9, 41, 0));
    tray_status_check_failed(0, today_at(10, 12, 3));
    tray_status_health(0, Health::needs_you, "服务器拒绝了密码", "请在 kd5lite_ap 的「账户」页重新输入密码");
    tray_status_checked(1, 0, false, today_at(9, 30, 0));
    tray_status_check_failed(1, today_at(10, 12, 4));
    tray_status_health(1, Health::late, "无法连接 imap.example.org", "会自动重试；如持续失败，请用托盘菜单的「诊断…」");
    const std::string tip = tray_tip(tray_status(), {"taro@example.org", "hana@imap.example.org", ""});
    ok = tip_picture(QString::fromStdString(tip)).save(dir + QStringLiteral("/tray-tip-health.png")) && ok;

    // The window as a run leaves it: a stand-in prints the sample report and ends as a failing check does.
    DiagnosisWindow diagnosis(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("printf '%s' \"$0\"; exit 1"), QString::fromUtf8(kSampleReport)});
    diagnosis.run();
    while (diagnosis.running()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    QCoreApplication::processEvents();
    ok = diagnosis.grab().save(dir + QStringLiteral("/diagnosis.png")) && ok;
    std::printf("%s in %s\n", ok ? "4 pictures" : "failed", qPrintable(dir));
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1); // as the notifier itself ends: no destructors behind a job thread
}
