// The wins in one SQLite file, in WAL mode: readers never wait for a writer, and several server
// processes on one machine may share the file. Each connection of the pool keeps its statements
// prepared; a wait for another process's lock lasts at most the query time.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <memory>
#include <string>
#include <vector>

#include "server_limits.h"
#include "sql_store.h"

namespace numoteka::server {

namespace {

constexpr SqlDialect SQLITE = {
    '?',
    "INTEGER PRIMARY KEY",
    "BLOB",
    "hex({})",
    "BEGIN IMMEDIATE",  // the write lock at once, so that two writers never deadlock
    nullptr,
    nullptr,
    nullptr,
    // In WAL mode, NORMAL syncs only at checkpoints.
    "PRAGMA synchronous = NORMAL",
    nullptr,
    "PRAGMA synchronous = FULL",
    "PRAGMA synchronous",
    "2",
    "SELECT count(*) FROM sqlite_master WHERE name = ?1",
};

class SqliteConnection final : public SqlConnection {
public:
    explicit SqliteConnection(const std::string& path) : path_(path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw StoreUnavailable(why);
        }
        sqlite3_busy_timeout(db_, static_cast<int>(limits::QUERY_TIME.count()));
        try {
            // A day's rankings are a few pages; every connection of the pool keeps its own.
            execute("PRAGMA cache_size = -512");
            // A stored win is on the disk before it is answered.
            execute("PRAGMA synchronous = FULL");
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }

    ~SqliteConnection() override {
        for (const auto& [_, statement] : prepared_) {
            sqlite3_finalize(statement);
        }
        sqlite3_close(db_);
    }

    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    sqlite3* db() const {
        return db_;
    }

    SqlRows run(const char* name, const char* sql,
                const std::vector<SqlValue>& parameters) override {
        sqlite3_stmt*& statement = prepared_[name];
        if (statement == nullptr) {
            check(sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement,
                                     nullptr));
        }
        return rowsOf(statement, parameters);
    }

    SqlRows execute(const std::string& sql) override {
        sqlite3_stmt* statement = nullptr;
        check(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr));
        const struct Finished {
            sqlite3_stmt* statement;
            ~Finished() {
                sqlite3_finalize(statement);
            }
        } finished{statement};
        return rowsOf(statement, {});
    }

    bool broken() const override {
        return false;
    }

    std::string unwritable() const override {
        return access(path_.c_str(), W_OK) == 0 ? "" : "the database file cannot be written";
    }

private:
    void check(int result) const {
        if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE) {
            throw StoreUnavailable(sqlite3_errmsg(db_));
        }
    }

    SqlRows rowsOf(sqlite3_stmt* statement, const std::vector<SqlValue>& parameters) {
        // Reset when the use ends, however it ends.
        const struct Reset {
            sqlite3_stmt* statement;
            ~Reset() {
                sqlite3_reset(statement);
                sqlite3_clear_bindings(statement);
            }
        } reset{statement};
        int index = 0;
        for (const SqlValue& value : parameters) {
            ++index;
            if (const int64_t* number = std::get_if<int64_t>(&value)) {
                check(sqlite3_bind_int64(statement, index, *number));
            } else {
                const std::string& text = std::get<std::string>(value);
                check(sqlite3_bind_text(statement, index, text.data(),
                                        static_cast<int>(text.size()), SQLITE_TRANSIENT));
            }
        }
        SqlRows rows;
        for (;;) {
            const int result = sqlite3_step(statement);
            check(result);
            if (result != SQLITE_ROW) {
                return rows;
            }
            auto& row = rows.rows.emplace_back();
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
                row.emplace_back(bytes == nullptr ? "" : bytes,
                                 static_cast<size_t>(sqlite3_column_bytes(statement, column)));
            }
        }
    }

    std::string path_;
    sqlite3* db_ = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> prepared_;  // by the name's address
};

}  // namespace

std::unique_ptr<WinStore> openSqliteStore(const std::string& path, const GameOfCode& gameOfCode,
                                          unsigned connections) {
    {
        SqliteConnection first(path);
        // The file is opened at the first statement that needs it.
        first.execute("PRAGMA schema_version");
        if (sqlite3_db_readonly(first.db(), "main") == 1) {
            throw StoreUnavailable("the database is read-only");
        }
        if (first.execute("PRAGMA journal_mode = WAL").text(0, 0) != "wal") {
            throw StoreUnavailable("the database cannot be put in WAL mode");
        }
        std::string check = first.execute("PRAGMA quick_check").text(0, 0);
        if (check != "ok") {
            std::replace(check.begin(), check.end(), '\n', ' ');
            throw StoreUnavailable("the database is damaged (" + check + ")");
        }
    }
    return openSqlStore(
        SQLITE, [path] { return std::make_unique<SqliteConnection>(path); }, gameOfCode,
        connections);
}

}  // namespace numoteka::server
