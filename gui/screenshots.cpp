#include "gui/screenshots.h"

#include "gui/tab_window.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>

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
