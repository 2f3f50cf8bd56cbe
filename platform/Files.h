#pragma once
// Files as the system keeps them: what it still holds goes to the disk, a
// rename is itself on the disk before it counts; and whether a stream is a
// terminal.

#include <cstdio>
#include <string>

namespace platform {

// Both give 0, or the C library's error number (errno) on every system, the
// number a failed write of the C library gives too (ErrnoText says it in words).

// Pushes what was written to file (flushed already) down to the disk.
int SyncFile(std::FILE* file);
// Renames from to to, replacing a file of that name, and syncs the folder so
// that the new name survives a crash.
int CommitRename(const std::string& from, const std::string& to);
// Whether file is a terminal (or a console), where a live line can be shown.
bool IsTerminal(std::FILE* file);

}  // namespace platform
