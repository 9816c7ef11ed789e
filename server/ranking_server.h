// The world ranking of the daily game: the wins the server has verified, kept in one SQLite
// file, and the answers of its API. Everything here works without a socket; main.cpp puts it on
// HTTP.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace numoteka::server {

// The open database: one connection, its statements prepared once, used by one request at a
// time.
struct Database {
    sqlite3* connection = nullptr;
    sqlite3_stmt* insertWin = nullptr;
    sqlite3_stmt* findWin = nullptr;
    sqlite3_stmt* countAhead = nullptr;
    sqlite3_stmt* bestTen = nullptr;
    std::mutex mutex;
};

// Opens (or makes) the database at `path` in WAL mode, its table in place. Throws
// std::runtime_error with SQLite's message when it cannot.
void openDatabase(Database& database, const std::string& path);

// Finishes every statement and closes the file: its write-ahead log goes back into it.
void closeDatabase(Database& database);

// An HTTP answer: status and JSON body.
struct Answer {
    int status;
    std::string body;
};

// POST /api/daily/wins: verifies the replay of the body and stores its win, of the day the code
// holds. 201 and the win's place in the day's ranking of its difficulty; 200 and its place when
// that game was in already; a refusal's status and reason otherwise. With `date` (the dated
// address, POST /api/daily/<date>/wins), the code must be of that day. `nowMs`: Unix time in
// milliseconds.
Answer submitWin(Database& database, std::optional<std::string_view> date, std::string_view body,
                 int64_t nowMs);

// GET /api/daily/<date>/ranking?difficulty=N: the best ten of the day, fewest turns first, the
// earliest received first among equal turns.
Answer dayRanking(Database& database, std::string_view date, std::string_view difficulty,
                  int64_t nowMs);

// Whether `address` may submit now: at most SUBMISSIONS_PER_MINUTE in any minute. Counts this
// one when it may.
inline constexpr int SUBMISSIONS_PER_MINUTE = 10;
bool takeSubmissionTurn(const std::string& address, int64_t nowMs);

// A refusal as an answer: {"error": reason}.
Answer errorAnswer(int status, std::string_view reason);

}  // namespace numoteka::server
