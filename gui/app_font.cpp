// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/app_font.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace {
constexpr char kFamily[] = "Noto Sans CJK SC";
constexpr int kPointSize = 9;
} // namespace

QFont dialog_font() {
    QFont font = QApplication::font();
    if (QFontDatabase::families().contains(QLatin1String(kFamily))) {
        font.setFamily(QLatin1String(kFamily));
    }
    font.setPointSize(kPointSize);
    return font;
}

void apply_dialog_font(QApplication& app) {
    app.setFont(dialog_font());
}
