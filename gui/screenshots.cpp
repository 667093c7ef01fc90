// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/screenshots.h"

#include "gui/app_font.h"
#include "gui/tab_window.h"
#include "settings/log_markers.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

int save_tab_screenshots(TabWindow& window, const QString& dir, const QString& prefix) {
    QDir().mkpath(dir);
    window.show();
    int written = 0;
    for (int i = 0; i < window.page_count(); ++i) {
        window.tabs()->setCurrentIndex(i);
        QApplication::processEvents();
        QString path = QDir(dir).filePath(QStringLiteral("%1-%2.png").arg(prefix).arg(i + 1));
        if (window.grab().save(path)) {
            ++written;
        }
    }
    return written;
}

bool save_about_screenshot(TabWindow& window, const QString& dir, const QString& prefix) {
    if (window.about_action() == nullptr) {
        return false;
    }
    QString path = QDir(dir).filePath(QStringLiteral("%1-about.png").arg(prefix));
    bool saved = false;
    // The box is modal: it is taken and closed from the event loop that opening it runs.
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget(); box != nullptr) {
            saved = box->grab().save(path);
            box->close();
        }
    });
    window.about_action()->trigger();
    return saved;
}

int screenshots_main(int argc, char** argv, const QString& prefix, const std::function<void()>& write_samples,
                     const std::function<std::unique_ptr<TabWindow>()>& make_window) {
    // The pictures must not depend on the desktop the command runs in.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot make a temporary settings directory\n");
        return 1;
    }
    setenv("CORVO_HOME", home.path().toLocal8Bit().constData(), 1);
    connect_log_markers();
    write_samples();

    QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QApplication app(argc, argv);
    apply_dialog_font(app);
    std::unique_ptr<TabWindow> window = make_window();
    int written = save_tab_screenshots(*window, dir, prefix);
    bool about = save_about_screenshot(*window, dir, prefix);
    std::printf("%d pictures in %s\n", written + (about ? 1 : 0), qPrintable(dir));
    return written == window->page_count() && about ? 0 : 1;
}
