// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/notifier_app.h"

#include "gui/qt_translations.h"
#include "notifier/mailbox.h"
#include "notifier/notifier_service.h"
#include "notifier/notifier_dlg.h"
#include "notifier/single_instance.h"
#include "notifier/tray_icons.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

CNotifierApp::CNotifierApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("kd5lite"));
    setQuitOnLastWindowClosed(false); // the tray menu closing must not end the program
    setWindowIcon(application_icon());
    install_qt_translations(*this); // the OK buttons of the refusal and the About box
}

void CNotifierApp::choose_platform() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (!set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
}

int CNotifierApp::InitInstance() {
    // Taken before the tray icon and the timer exist, so a refused instance never touches the mailbox or the lamp.
    if (single_instance_lock() == InstanceLock::refused) {
        refuse();
        return 1;
    }
    // A notifier of another lock (another runtime directory) on this session bus is the same user's notifier.
    NotifierService service;
    if (service.claim() == BusName::taken) {
        refuse();
        return 1;
    }
    // Also without any lock: keys left busy by a notifier that died mid-job would otherwise keep this one idle.
    mailbox_reset();
    CNotifierDlg dlg;
    dlg.attach_service(&service);
    exec();
    dlg.end_now(); // not reached: the dialog ends the program as the event loop ends
}

void CNotifierApp::refuse() {
    QString platform = platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        std::fprintf(stderr, "%s\n%s\n", kRefusalMessage, kRefusalNote);
        return;
    }
    const QString text = QString::fromLatin1(kRefusalMessage) + QLatin1String("\n\n") + QString::fromUtf8(kRefusalNote);
    QMessageBox box(QMessageBox::NoIcon, applicationName(), text, QMessageBox::Ok);
    box.exec();
}
