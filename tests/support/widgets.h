// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

// The child of parent with the object name, which must exist and be of type T.
template <class T> T* child(const QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no child named " << name;
    return found;
}

// Types text into widget key by key, as a keyboard or an input method would; unlike QTest::keyClicks it takes
// characters beyond ASCII.
inline void type_text(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}
