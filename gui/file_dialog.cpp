// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/file_dialog.h"

#include <QFileDialog>
#include <optional>

namespace {
std::optional<QString> g_next_name;
QString g_last_start;
QString g_last_filter;
} // namespace

QString FileDialog::get_open_file_name(QWidget* parent, const QString& start, const QString& filter) {
    g_last_start = start;
    g_last_filter = filter;
    if (g_next_name) {
        QString name = *g_next_name;
        g_next_name.reset();
        return name;
    }
    // QFileDialog::getOpenFileName accepts only an existing file and returns its absolute path.
    return QFileDialog::getOpenFileName(parent, QString(), start, filter);
}

void FileDialog::set_next_file_name(const QString& name) {
    g_next_name = name;
}

QString FileDialog::last_start() {
    return g_last_start;
}

QString FileDialog::last_filter() {
    return g_last_filter;
}
