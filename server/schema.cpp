#include "schema.h"

#include <stdexcept>

#include "win_store.h"

namespace numoteka::server {

namespace {

std::string filled(std::string statement, const SqlDialect& dialect) {
    for (const auto& [name, value] :
         {std::pair{"{ROW_ID}", dialect.rowId}, std::pair{"{BYTES}", dialect.bytes}}) {
        for (size_t at = statement.find(name); at != std::string::npos;
             at = statement.find(name, at)) {
            statement.replace(at, std::string(name).size(), value);
        }
    }
    return statement;
}

}  // namespace

std::vector<Migration> migrations(const SqlDialect& dialect) {
    std::vector<Migration> all = {
        // Every verified win, in the order received.
        {1,
         {"CREATE TABLE IF NOT EXISTS wins (id {ROW_ID}, day TEXT NOT NULL, "
          "difficulty INTEGER NOT NULL, turns INTEGER NOT NULL, name {BYTES} NOT NULL, "
          "code TEXT NOT NULL UNIQUE, received BIGINT NOT NULL)",
          "CREATE INDEX IF NOT EXISTS wins_by_place ON wins (day, difficulty, turns, id)"},
         false,
         false,
         {}},
        // Games: the wins that pressed the same keys under any name are one game, ranked once
        // at the place of its first submission. Recent submissions by client, for the limit
        // every process shares; and a version that any stored win changes, for caches.
        {2,
         {"ALTER TABLE wins ADD COLUMN game TEXT",
          "CREATE TABLE games (game TEXT PRIMARY KEY, day TEXT NOT NULL, "
          "difficulty INTEGER NOT NULL, turns INTEGER NOT NULL, first_win BIGINT NOT NULL, "
          "submissions BIGINT NOT NULL)",
          "CREATE INDEX games_by_place ON games (day, difficulty, turns, first_win)",
          "CREATE TABLE submissions (client TEXT NOT NULL, at BIGINT NOT NULL)",
          "CREATE INDEX submissions_by_client ON submissions (client, at)",
          "CREATE INDEX submissions_by_time ON submissions (at)",
          "CREATE TABLE wins_version (version BIGINT NOT NULL)",
          "INSERT INTO wins_version VALUES (0)"},
         true,
         false,
         {}},
        // Names as UTF-8 text, which sqlite3 and psql show as they are; and the row the health
        // check writes.
        {3,
         {"ALTER TABLE wins ADD COLUMN name_text TEXT NOT NULL DEFAULT ''",
          "CREATE TABLE health_probe (payload TEXT NOT NULL)",
          "INSERT INTO health_probe VALUES ('')"},
         false,
         true,
         {"ALTER TABLE wins DROP COLUMN name", "ALTER TABLE wins RENAME COLUMN name_text TO name"}},
    };
    for (Migration& migration : all) {
        for (std::string& statement : migration.statements) {
            statement = filled(statement, dialect);
        }
    }
    return all;
}

void bringUpToDate(const SqlDialect& dialect, const SchemaAccess& database) {
    int version = 0;
    if (database.hasTable("schema_version")) {
        version = database.version();
    } else {
        version = database.hasTable("wins") ? 1 : 0;
        database.execute("CREATE TABLE schema_version (version INTEGER NOT NULL)");
        database.execute("INSERT INTO schema_version VALUES (" + std::to_string(version) + ")");
    }
    if (version > SCHEMA_VERSION) {
        throw std::runtime_error("the database is of a later version (" + std::to_string(version) +
                                 ") of numoteka-server");
    }
    for (const Migration& migration : migrations(dialect)) {
        if (migration.version <= version) {
            continue;
        }
        for (const std::string& statement : migration.statements) {
            database.execute(statement);
        }
        if (migration.findsGames) {
            database.findGames();
        }
        if (migration.convertsNames) {
            database.convertNames();
        }
        for (const std::string& statement : migration.statementsAfter) {
            database.execute(statement);
        }
        database.execute("UPDATE schema_version SET version = " +
                         std::to_string(migration.version));
    }
}

std::unique_ptr<WinStore> openStore(const std::string& database, const GameOfCode& gameOfCode,
                                    unsigned connections) {
    if (database.starts_with("postgresql://") || database.starts_with("postgres://")) {
        return openPostgresStore(database, gameOfCode, connections);
    }
    return openSqliteStore(database, gameOfCode, connections);
}

}  // namespace numoteka::server
