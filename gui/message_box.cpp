// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/message_box.h"

namespace {
QMessageBox::StandardButton g_next_answer = QMessageBox::NoButton;
QString g_last_caption;
QString g_last_text;
int g_asked = 0;
} // namespace

QMessageBox::StandardButton MessageBox::question(QWidget* parent, const char* caption, const char* text,
                                                 QMessageBox::StandardButtons buttons) {
    ++g_asked;
    g_last_caption = QString::fromUtf8(caption);
    g_last_text = QString::fromUtf8(text);
    if (g_next_answer != QMessageBox::NoButton) {
        QMessageBox::StandardButton answer = g_next_answer;
        g_next_answer = QMessageBox::NoButton;
        return answer;
    }
    QMessageBox box(QMessageBox::Information, g_last_caption, g_last_text, buttons, parent);
    box.setTextFormat(Qt::PlainText); // the keyring's own words may be in the text
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MessageBox::set_next_answer(QMessageBox::StandardButton answer) {
    g_next_answer = answer;
}

QString MessageBox::last_caption() {
    return g_last_caption;
}

QString MessageBox::last_text() {
    return g_last_text;
}

int MessageBox::asked() {
    return g_asked;
}
