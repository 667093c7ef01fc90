// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/fingerprint_edit.h"

#include <QFontDatabase>
#include <QTextCursor>

FingerprintEdit::FingerprintEdit(QWidget* parent, int limit) : QPlainTextEdit(parent), limit_(limit) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere); // hex pairs and colons have no word breaks to wait for
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font().pointSizeF() * 0.85); // three lines of 32 or so hold the longest value
    setFont(fixed);
    document()->setDocumentMargin(1);
    connect(this, &QPlainTextEdit::textChanged, this, [this] { keep_to_one_line(); });
}

std::string FingerprintEdit::text() const {
    return toPlainText().toStdString();
}

void FingerprintEdit::set_text(const std::string& text) {
    setPlainText(QString::fromStdString(text));
}

void FingerprintEdit::keep_to_one_line() {
    const QString current = toPlainText();
    QString kept = current;
    kept.remove(QLatin1Char('\n')).remove(QLatin1Char('\r')).remove(QChar(QChar::ParagraphSeparator));
    kept.truncate(limit_);
    if (kept == current) {
        return;
    }
    const int at = std::min(static_cast<int>(textCursor().position()), static_cast<int>(kept.size()));
    QSignalBlocker quiet(this);
    setPlainText(kept);
    QTextCursor cursor = textCursor();
    cursor.setPosition(at);
    setTextCursor(cursor);
}
