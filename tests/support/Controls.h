// Finding a window's controls by their names, as the tests do everywhere.
#pragma once

#include <QObject>
#include <QtGlobal>

// The child of `parent` named `name`; a missing control ends the test run,
// since every later check would be meaningless.
template <class T> T* Control(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

template <class T> T* Control(const QObject* parent, const char* name) {
    return Control<T>(*parent, name);
}
