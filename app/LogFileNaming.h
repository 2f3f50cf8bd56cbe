#pragma once
// Path helpers of the main window's file naming.

#include <QString>

// Everything up to and including the last path separator; empty without one.
QString DirectoryPart(const QString& path);
