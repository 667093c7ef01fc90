// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <string>

// The field of a pinned certificate's fingerprint: 95 characters (32 hex pairs and their colons) never fit on one
// line of the page, so the field wraps them at any character and shows the whole value. It takes one line of text
// only: a line break typed or pasted is dropped, and anything past the limit is cut off as a line edit would.
class FingerprintEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    FingerprintEdit(QWidget* parent, int limit);

    std::string text() const;
    void set_text(const std::string& text);

private:
    void keep_to_one_line();

    int limit_;
};
