#pragma once
// The archive's tables, the same on SQLite and PostgreSQL, and their version:
// created on first use, an older archive brought up to this version, a newer
// one refused.

#include <string>

#include "archive/Database.h"

namespace archive {

inline constexpr int kSchemaVersion = 3;

// The statements that bring an archive from version - 1 to version.
std::string SchemaStep(int version, Engine engine);

// Empty when the archive holds this version's tables now; else why not, in
// words. broughtFrom: the older version this call brought the archive from,
// or 0 (it was of this version, or another program brought it meanwhile).
std::string PrepareSchema(Connection& db, int& broughtFrom);
// The archive's version; 0 for an empty database, -1 for one that holds
// other tables and no archive.
int SchemaVersion(Connection& db);

}  // namespace archive
