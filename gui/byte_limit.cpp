#include "gui/byte_limit.h"

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
