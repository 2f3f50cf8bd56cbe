#pragma once
// The folder of a file the window program names or shows.

#include <QString>

#include <algorithm>

// Everything up to and including the last path separator; empty without one.
inline QString DirectoryPart(const QString& path) {
    qsizetype last = path.lastIndexOf('/');
#ifdef Q_OS_WIN
    last = std::max(last, path.lastIndexOf('\\'));
#endif
    return path.left(last + 1);
}
