// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts in the tools' windows are Chinese like ours: the buttons of a message box, an edit field's
// context menu, the file chooser's labels. Catches translations that are not found (another file name, another
// folder) or not installed, which would leave "OK" and "Cancel" among the Chinese captions.

#include "gui/qt_translations.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

namespace {

QStringList menu_texts(QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator()) {
            texts << action->text();
        }
    }
    return texts;
}

TEST(QtTranslations, QtsOwnTextsAreChinese) {
    ASSERT_TRUE(install_qt_translations(*qApp)) << "qtbase_zh_CN.qm not found: is qt6-translations-l10n installed?";

    QMessageBox box(QMessageBox::Information, "kd5lite", "text", QMessageBox::Ok | QMessageBox::Cancel);
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QFileDialog chooser(nullptr, QString(), QString(), QString::fromUtf8("WAV 声音文件 (*.wav);;所有文件 (*)"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    QString chooser_labels;
    for (QLabel* label : chooser.findChildren<QLabel*>()) {
        chooser_labels += label->text() + "|";
    }
    const struct {
        const char* what;
        QString shown;
        const char* english;
        const char* chinese;
    } rows[] = {
        {"OK button", box.button(QMessageBox::Ok)->text(), "OK", "确定"},
        {"Cancel button", box.button(QMessageBox::Cancel)->text(), "Cancel", "取消"},
        {"context menu", menu_texts(*menu).join("|"), "Paste", "粘贴"},
        {"file chooser", chooser_labels, "Look in", "查找"},
    };
    for (const auto& row : rows) {
        EXPECT_FALSE(row.shown.contains(QLatin1String(row.english))) << row.what << ": " << row.shown.toStdString();
        EXPECT_TRUE(row.shown.contains(QString::fromUtf8(row.chinese))) << row.what << ": " << row.shown.toStdString();
    }
}

} // namespace
