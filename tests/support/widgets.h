#pragma once

#include <QObject>
#include <QString>
#include <gtest/gtest.h>

// The child of parent with the object name, which must exist and be of type T.
template <class T>
T* child(const QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no child named " << name;
    return found;
}
