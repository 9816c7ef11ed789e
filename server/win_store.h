// Where the server keeps the wins it has verified: every submission, the games they are of,
// and the recent submissions of each client. One interface; one file per database that
// answers it (store_sqlite.cpp, the default, one file; store_postgresql.cpp, for several
// server processes).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "daily/day.h"

namespace numoteka::server {

// A verified win as it is stored.
struct NewWin {
    Day day = 0;
    int difficulty = 0;  // 1 normal, 2 easy, 3 hard
    int32_t turns = 0;
    std::string name;  // UTF-8
    std::string code;  // the replay code of the day's game, unique
    std::string game;  // the key of the game: the same for every name that played the same keys
    int64_t receivedMs = 0;
};

// A game of a day's ranking: its first submission, and how many others sent the same game.
struct RankedGame {
    int64_t place = 0;
    std::string name;  // UTF-8
    int64_t others = 0;
    int32_t turns = 0;
    int64_t receivedMs = 0;
    std::string code;
};

// What storing a win came to.
struct StoredWin {
    bool isNew = false;  // false: this very code was stored before
    int64_t place = 0;   // the place of its game
    std::string name;    // this submission's
    int64_t receivedMs = 0;
    std::optional<RankedGame> firstOfGame;  // when another submission of the game came first
};

// The database cannot be used now: it is away, hung, full, locked or broken. Thrown by every
// use of a store that fails for the database (a wait beyond limits::QUERY_TIME among them); the
// server answers 503, try again.
struct StoreUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class WinStore {
public:
    virtual ~WinStore() = default;

    // Stores `win` (once: a code stored before is not stored again) and finds its game's place
    // among the day's games of its difficulty, all in one transaction.
    virtual StoredWin store(const NewWin& win) = 0;

    // The day's first `count` games of a difficulty: fewest turns first, then the first
    // received.
    virtual std::vector<RankedGame> bestGames(Day day, int difficulty, int count) = 0;

    // Whether `client` may submit at `nowMs`: fewer than `most` submissions within the last
    // `windowMs`. Counts this one when it may. The count holds for every process of the store.
    virtual bool takeSubmissionTurn(const std::string& client, int64_t nowMs, int most,
                                    int64_t windowMs) = 0;

    // A number that changes whenever a win is stored, by this process or another.
    virtual int64_t version() = 0;

    // Empty when the database answers a query and takes a write as large as a win's; else
    // what is wrong. Within limits::QUERY_TIME or so.
    virtual std::string health() = 0;

    // The server stops: what has not begun fails at once (StoreUnavailable).
    virtual void stop() = 0;
};

// The key of a stored win's game from its code, for databases made before games had keys.
using GameOfCode = std::function<std::string(const std::string& code)>;

// Opens the SQLite database at `path` (made when missing), checks it and brings its schema up
// to date; `connections` threads may use it at once. Throws std::runtime_error, with one line
// saying why, when it cannot.
std::unique_ptr<WinStore> openSqliteStore(const std::string& path, const GameOfCode& gameOfCode,
                                          unsigned connections);

// The same for a PostgreSQL database, named by a libpq connection string or URI.
std::unique_ptr<WinStore> openPostgresStore(const std::string& uri, const GameOfCode& gameOfCode,
                                            unsigned connections);

// The store `database` names: a postgresql:// (or postgres://) URI, else a SQLite file.
std::unique_ptr<WinStore> openStore(const std::string& database, const GameOfCode& gameOfCode,
                                    unsigned connections);

}  // namespace numoteka::server
