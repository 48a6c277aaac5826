// A dialog's widgets as a test reaches them: by the object name each is given, as any tool
// that drives the dialog from outside does.
#pragma once

#include <gtest/gtest.h>

#include <QObject>

// The child of `parent` of type T named `name`; a missing one fails the current test.
template <class T>
T* Child(const QObject* parent, const char* name) {
    T* child = parent ? parent->findChild<T*>(QLatin1String(name)) : nullptr;
    if (!child)
        ADD_FAILURE() << "no widget named " << name;
    return child;
}
