#pragma once
// Where an archive is, as the user writes it: the path of an SQLite file, or
// a PostgreSQL server's as libpq takes it, a URI (postgresql://...,
// postgres://..., in any letter case) or a key=value connection string
// (host=db dbname=arvelo). A path is what starts as one (/, \, ., ~, C:\) or
// is neither a URI ("scheme:/") nor a connection string (a keyword and "="
// first, or an "=" and a blank). Another URI is refused, never taken for a
// file's name; so is a server's location that holds a password: that belongs
// in ~/.pgpass, a service file or the environment, never in the settings.
// The dialog, arvelo-cli and the archive all read a location here.

#include <string>
#include <string_view>

namespace archive {

struct Location {
    enum class Kind { File, Server, Refused };
    Kind kind = Kind::File;
    // File: the path (empty: the default); Server: the text libpq takes.
    std::string text;
    std::string why;  // Refused: why, in words
};

// Blanks around written do not count.
Location ReadLocation(std::string_view written);
// written as a message may show it: a server's location with every password
// in it, and all after a password given as a value, as "***"; a path as it is.
std::string Shown(std::string_view written);

}  // namespace archive
