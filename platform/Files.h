#pragma once
// Files as the system keeps them: a file created new, never through what
// has its name already; what the system still holds goes to the disk, a
// rename is itself on the disk before it counts; whether a stream is a
// terminal; and the separators of a path.

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// All give 0, or the C library's error number (errno) on every system, the
// number a failed write of the C library gives too (ErrnoText says it in words).

// Creates path as a new, empty file and opens it for binary writing. Fails
// when anything has the name already, a symbolic link included (the link is
// not followed, whatever it points to): a file is never written through a
// name another program has planted. nullptr with *error set on failure.
std::FILE* CreateNewFile(const std::string& path, int* error);

// Pushes what was written to file (flushed already) down to the disk.
int SyncFile(std::FILE* file);
// Renames from to to, replacing a file of that name, and syncs the folder so
// that the new name survives a crash.
int CommitRename(const std::string& from, const std::string& to);
// Whether file is a terminal (or a console), where a live line can be shown.
bool IsTerminal(std::FILE* file);
// Whether this user may write the existing file at path: the system lets
// them, and the file is not marked read-only (no write permission for
// anyone), which even an administrator's program respects.
bool MayWrite(const std::string& path);

// The system's path separator, and every character that separates a path's
// parts (Windows takes '/' as well).
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
#endif
inline bool IsPathSeparator(char c) {
    return kPathSeparators.find(c) != std::string_view::npos;
}

// An output folder as file names are put after it: with a separator at its
// end, else the folder's name would run into every file name. Empty stays
// empty (the current folder).
inline std::string WithTrailingSeparator(std::string directory) {
    if (!directory.empty() && !IsPathSeparator(directory.back())) {
        directory += kPathSeparator;
    }
    return directory;
}

// Everything up to and including the last separator of path; empty without one.
inline std::string DirectoryPart(const std::string& path) {
    const std::size_t last = path.find_last_of(kPathSeparators);
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace platform
