// The database's tables, made and brought up to date by version, alike for every database: each
// migration's statements are written once, with the few type names that differ filled in.
#pragma once

#include <string>
#include <vector>

namespace numoteka::server {

// Type names of a database.
struct SqlDialect {
    const char* rowId;  // a table's own increasing key
    const char* bytes;  // bytes as they are
};

struct Migration {
    int version;  // the schema's version once it has run
    std::vector<std::string> statements;
    // After the statements, each stored win's game is found from its code (the games table
    // filled from the wins).
    bool findsGames = false;
};

// The migrations in order, for `dialect`. A database without the version table but with the
// wins table is of version 1, the first, which had none.
std::vector<Migration> migrations(const SqlDialect& dialect);

inline constexpr int SCHEMA_VERSION = 2;

}  // namespace numoteka::server
