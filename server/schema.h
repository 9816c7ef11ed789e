// The database's tables, made and brought up to date by version, alike for every database: each
// migration's statements are written once, with the few type names that differ filled in.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sql_store.h"

namespace numoteka::server {

struct Migration {
    int version;  // the schema's version once it has run
    std::vector<std::string> statements;
    // After the statements, each stored win's game is found from its code (the games table
    // filled from the wins).
    bool findsGames = false;
    // After the statements, each name's code page 932 bytes (the column name) are written as
    // text into the column name_text; then the statements after.
    bool convertsNames = false;
    std::vector<std::string> statementsAfter;
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
    std::function<void()> convertNames;
};

// Runs the migrations the database has not had. A database without the version table but with
// the wins table is of version 1, the first, which had none. Throws std::runtime_error for a
// database of a later version than this program's.
void bringUpToDate(const SqlDialect& dialect, const SchemaAccess& database);

inline constexpr int SCHEMA_VERSION = 3;

}  // namespace numoteka::server
