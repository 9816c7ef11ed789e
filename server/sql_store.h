// The store of wins on an SQL database, written once for every database: its statements, its
// pool of connections, its transactions, its health check and its schema. A database is a
// dialect (the few words that differ) and a connection (store_sqlite.cpp, store_postgresql.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "win_store.h"

namespace numoteka::server {

// What differs between databases, beside their connections.
struct SqlDialect {
    char parameterMark;  // what "?1" is written with: '?' or '$'
    const char* rowId;   // a table's own increasing key
    const char* bytes;   // bytes as they are (names before they were text)
    const char* hexOf;   // an expression of the hex digits of bytes, "{}" for the column
    const char* beginWrite;     // a transaction that writes
    const char* lockMigration;  // taken in it while the schema is brought up to date, if any
    const char* lockWins;       // taken in it while wins are stored, if any
    const char* lockClient;     // one client's turns, ?1 the client, if any
    const char* quickBefore;    // before a write whose loss costs nothing: no sync, if any
    const char* quickInside;    // the same, inside its transaction
    const char* durableAgain;   // after it: every commit synced again, if any
    const char* durability;     // a query of whether commits are synced, and its answer then
    const char* durable;
    const char* hasTable;  // a query of whether table ?1 is there: 1 or 0
};

using SqlValue = std::variant<int64_t, std::string>;

struct SqlRows {
    std::vector<std::vector<std::string>> rows;

    size_t size() const {
        return rows.size();
    }
    const std::string& text(size_t row, size_t column) const {
        return rows.at(row).at(column);
    }
    int64_t integer(size_t row, size_t column) const {
        return std::stoll(text(row, column));
    }
};

// A connection to a database. Every failure throws StoreUnavailable; a connection that must be
// made again (the database restarted, a query overran limits::QUERY_TIME) says so.
class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    // `sql` (its parameters written "?1", "?2"...) with its parameters, prepared once on this
    // connection under `name`; both are the store's string literals, which outlive it.
    virtual SqlRows run(const char* name, const char* sql,
                        const std::vector<SqlValue>& parameters) = 0;
    // `sql` once, without parameters.
    virtual SqlRows execute(const std::string& sql) = 0;
    virtual bool broken() const = 0;
    // Why the database could not take a write now, when it can tell without one (a file
    // made read-only under a connection already open, say); empty otherwise.
    virtual std::string unwritable() const {
        return {};
    }
};

using SqlConnect = std::function<std::unique_ptr<SqlConnection>()>;

// The store on a database of `dialect`: brings its schema up to date on a first connection,
// then keeps a pool of `connections` made by `connect`. Throws StoreUnavailable when the
// database cannot be used.
std::unique_ptr<WinStore> openSqlStore(const SqlDialect& dialect, const SqlConnect& connect,
                                       const GameOfCode& gameOfCode, unsigned connections);

// "?1" in `sql` written with the dialect's mark.
std::string withParameterMark(const std::string& sql, char mark);

}  // namespace numoteka::server
