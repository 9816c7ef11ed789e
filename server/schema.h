// The database's tables, made and brought up to date by version, alike for every database: each
// migration's statements are written once, with the few type names that differ filled in.
#pragma once

#include <functional>
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

// The migrations in order, for `dialect`.
std::vector<Migration> migrations(const SqlDialect& dialect);

// What bringing a schema up to date needs of a database, in one transaction that holds the
// database's lock (several processes may start at once).
struct SchemaAccess {
    std::function<void(const std::string& sql)> execute;
    std::function<bool(const char* table)> hasTable;
    std::function<int()> version;  // the one row of schema_version
    std::function<void()> findGames;
};

// Runs the migrations the database has not had. A database without the version table but with
// the wins table is of version 1, the first, which had none. Throws std::runtime_error for a
// database of a later version than this program's.
void bringUpToDate(const SqlDialect& dialect, const SchemaAccess& database);

inline constexpr int SCHEMA_VERSION = 2;

}  // namespace numoteka::server
