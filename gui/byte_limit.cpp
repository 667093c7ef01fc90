// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/byte_limit.h"

#include "platform/secret.h"
#include "platform/text.h"

#include <QLineEdit>

ByteLimitValidator::ByteLimitValidator(int bytes, QObject* parent) : QValidator(parent), bytes_(bytes) {}

QValidator::State ByteLimitValidator::validate(QString& input, int&) const {
    return input.toUtf8().size() <= bytes_ ? Acceptable : Invalid;
}

void set_typed_limit(QLineEdit* edit, int bytes) {
    edit->setValidator(new ByteLimitValidator(bytes, edit));
}

std::string edit_text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

void set_edit_text(QLineEdit* edit, const std::string& text) {
    edit->setText(QString::fromStdString(text));
}

// The edit's own QString is shared with the widget and stays while the page shows the password; the UTF-8
// conversion is this function's alone and is wiped.
void secret_edit_text(const QLineEdit* edit, char* out, std::size_t size) {
    QByteArray bytes = edit->text().toUtf8();
    fit_text(out, size, bytes.constData());
    wipe_secret(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

void set_secret_edit_text(QLineEdit* edit, const char* text) {
    edit->setText(QString::fromUtf8(text));
}
