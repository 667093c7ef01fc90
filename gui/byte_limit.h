// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QValidator>

#include <string>

class QLineEdit;

// A typed limit counted in the bytes the settings file stores (UTF-8), not in characters: a field that holds 16
// bytes takes 16 Latin letters but only 5 Chinese characters, so what the user typed is never cut on saving.
class ByteLimitValidator : public QValidator {
    Q_OBJECT
public:
    ByteLimitValidator(int bytes, QObject* parent);
    State validate(QString& input, int& pos) const override;

private:
    int bytes_;
};

// Puts a typed limit of bytes on the edit; typing or pasting beyond it is refused.
void set_typed_limit(QLineEdit* edit, int bytes);

// The text of an edit as the settings record holds it, and back.
std::string edit_text(const QLineEdit* edit);
void set_edit_text(QLineEdit* edit, const std::string& text);

// The same for a password edit, through a fixed buffer of size bytes, with the conversion buffers wiped.
void secret_edit_text(const QLineEdit* edit, char* out, std::size_t size);
void set_secret_edit_text(QLineEdit* edit, const char* text);
