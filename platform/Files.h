#pragma once
// Making a written file durable: what the system still holds goes to the
// disk, and a rename is itself on the disk before it counts.

#include <cstdio>
#include <string>

namespace platform {

// Pushes what was written to file (flushed already) down to the disk; 0, or
// the system's error code.
int SyncFile(std::FILE* file);
// Renames from to to, replacing a file of that name, and syncs the folder so
// that the new name survives a crash; 0, or the system's error code.
int CommitRename(const std::string& from, const std::string& to);

}  // namespace platform
