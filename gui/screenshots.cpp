#include "gui/screenshots.h"

#include "gui/app_font.h"
#include "gui/tab_window.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
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
    write_samples();

    QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QApplication app(argc, argv);
    apply_dialog_font(app);
    std::unique_ptr<TabWindow> window = make_window();
    int written = save_tab_screenshots(*window, dir, prefix);
    std::printf("%d pictures in %s\n", written, qPrintable(dir));
    return written == window->page_count() ? 0 : 1;
}
