#include "ranking_server.h"

#include <ctime>
#include <deque>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <unordered_map>

#include "request.h"

namespace numoteka::server {

namespace {

// One row per verified win. The id is the order of receipt, which breaks ties of turns.
constexpr const char* SCHEMA = R"(
CREATE TABLE IF NOT EXISTS wins (
  id INTEGER PRIMARY KEY,
  day TEXT NOT NULL,            -- YYYY-MM-DD
  difficulty INTEGER NOT NULL,  -- 1 normal, 2 easy, 3 hard
  turns INTEGER NOT NULL,
  name BLOB NOT NULL,           -- code page 932, as the game read it
  code TEXT NOT NULL UNIQUE,    -- the replay code of the day's game
  received INTEGER NOT NULL     -- Unix time in milliseconds
);
CREATE INDEX IF NOT EXISTS wins_by_place ON wins (day, difficulty, turns, id);
)";

constexpr int64_t MINUTE_MS = 60 * 1000;

void check(Database& database, int result) {
    if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE) {
        throw std::runtime_error(sqlite3_errmsg(database.connection));
    }
}

// A prepared statement in use: its bindings and state are cleared when the use ends, however
// it ends.
struct Use {
    sqlite3_stmt* statement;
    ~Use() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

void bindText(Database& database, sqlite3_stmt* statement, int index, std::string_view text) {
    check(database, sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                                      SQLITE_TRANSIENT));
}

void bindInt(Database& database, sqlite3_stmt* statement, int index, int64_t value) {
    check(database, sqlite3_bind_int64(statement, index, value));
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return std::string(bytes == nullptr ? "" : bytes,
                       static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

// "2026-12-08T03:04:05Z".
std::string isoTime(int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// A stored win as the API shows it; the statement's columns are name, turns, received, code.
nlohmann::json entryJson(sqlite3_stmt* statement, int64_t place) {
    const std::string code = columnText(statement, 3);
    return {{"place", place},
            {"name", apiName(columnText(statement, 0))},
            {"turns", sqlite3_column_int64(statement, 1)},
            {"received", isoTime(sqlite3_column_int64(statement, 2))},
            {"code", code},
            {"replay", "/?replay=" + code}};
}

std::string jsonText(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Day todayInJapan(int64_t nowMs) {
    return dayInJapan(nowMs / 1000);
}

std::mutex g_turnsMutex;
std::unordered_map<std::string, std::deque<int64_t>> g_recentSubmissions;

}  // namespace

void openDatabase(Database& database, const std::string& path) {
    check(database, sqlite3_open_v2(path.c_str(), &database.connection,
                                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
    // A backup or a look with the sqlite3 program may hold the file for a moment.
    check(database, sqlite3_busy_timeout(database.connection, 5000));
    sqlite3_stmt* mode = nullptr;
    check(database,
          sqlite3_prepare_v2(database.connection, "PRAGMA journal_mode = WAL", -1, &mode, nullptr));
    const std::string journal = sqlite3_step(mode) == SQLITE_ROW ? columnText(mode, 0) : "";
    sqlite3_finalize(mode);
    if (journal != "wal") {
        throw std::runtime_error("the database cannot be put in WAL mode");
    }
    check(database, sqlite3_exec(database.connection, SCHEMA, nullptr, nullptr, nullptr));
    const auto prepare = [&](sqlite3_stmt*& statement, const char* sql) {
        check(database, sqlite3_prepare_v3(database.connection, sql, -1, SQLITE_PREPARE_PERSISTENT,
                                           &statement, nullptr));
    };
    prepare(database.insertWin,
            "INSERT INTO wins (day, difficulty, turns, name, code, received) "
            "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (code) DO NOTHING");
    prepare(database.findWin,
            "SELECT name, turns, received, code, id, difficulty FROM wins WHERE code = ?");
    prepare(database.countAhead,
            "SELECT count(*) FROM wins WHERE day = ? AND difficulty = ? "
            "AND (turns < ? OR (turns = ? AND id < ?))");
    prepare(database.bestTen,
            "SELECT name, turns, received, code FROM wins WHERE day = ? AND difficulty = ? "
            "ORDER BY turns, id LIMIT 10");
}

void closeDatabase(Database& database) {
    for (sqlite3_stmt* statement :
         {database.insertWin, database.findWin, database.countAhead, database.bestTen}) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(database.connection);
    database.connection = nullptr;
}

Answer errorAnswer(int status, std::string_view reason) {
    return {status, jsonText({{"error", reason}})};
}

Answer submitWin(Database& database, std::optional<std::string_view> date, std::string_view body,
                 int64_t nowMs) {
    try {
        const Day today = todayInJapan(nowMs);
        const std::optional<Day> dated =
            date ? std::optional(requestedDay(*date, today)) : std::nullopt;
        const VerifiedWin win = verifiedWin(submittedReplay(body, today, dated));
        const Day day = win.day;
        const std::lock_guard lock(database.mutex);
        {
            const Use use{database.insertWin};
            bindText(database, use.statement, 1, dayText(day));
            bindInt(database, use.statement, 2, difficultyIndex(win.difficulty) + 1);
            bindInt(database, use.statement, 3, win.turns);
            check(database, sqlite3_bind_blob(use.statement, 4, win.name.data(),
                                              static_cast<int>(win.name.size()), SQLITE_TRANSIENT));
            bindText(database, use.statement, 5, win.code);
            bindInt(database, use.statement, 6, nowMs);
            check(database, sqlite3_step(use.statement));
        }
        const bool stored = sqlite3_changes(database.connection) == 1;
        const Use found{database.findWin};
        bindText(database, found.statement, 1, win.code);
        if (sqlite3_step(found.statement) != SQLITE_ROW) {
            throw std::runtime_error(sqlite3_errmsg(database.connection));
        }
        const Use ahead{database.countAhead};
        bindText(database, ahead.statement, 1, dayText(day));
        bindInt(database, ahead.statement, 2, sqlite3_column_int64(found.statement, 5));
        bindInt(database, ahead.statement, 3, sqlite3_column_int64(found.statement, 1));
        bindInt(database, ahead.statement, 4, sqlite3_column_int64(found.statement, 1));
        bindInt(database, ahead.statement, 5, sqlite3_column_int64(found.statement, 4));
        check(database, sqlite3_step(ahead.statement));
        nlohmann::json answer =
            entryJson(found.statement, sqlite3_column_int64(ahead.statement, 0) + 1);
        answer["date"] = dayText(day);
        answer["difficulty"] = sqlite3_column_int64(found.statement, 5);
        answer["new"] = stored;
        return {stored ? 201 : 200, jsonText(answer)};
    } catch (const Refusal& refusal) {
        return errorAnswer(refusal.status, refusal.reason);
    }
}

Answer dayRanking(Database& database, std::string_view date, std::string_view difficulty,
                  int64_t nowMs) {
    try {
        const Day day = requestedDay(date, todayInJapan(nowMs));
        const Difficulty chosen = requestedDifficulty(difficulty);
        nlohmann::json ranking = nlohmann::json::array();
        const std::lock_guard lock(database.mutex);
        const Use use{database.bestTen};
        bindText(database, use.statement, 1, dayText(day));
        bindInt(database, use.statement, 2, difficultyIndex(chosen) + 1);
        int result = 0;
        while ((result = sqlite3_step(use.statement)) == SQLITE_ROW) {
            ranking.push_back(entryJson(use.statement, static_cast<int64_t>(ranking.size()) + 1));
        }
        check(database, result);
        return {200, jsonText({{"date", dayText(day)},
                               {"difficulty", difficultyIndex(chosen) + 1},
                               {"ranking", ranking}})};
    } catch (const Refusal& refusal) {
        return errorAnswer(refusal.status, refusal.reason);
    }
}

bool takeSubmissionTurn(const std::string& address, int64_t nowMs) {
    const std::lock_guard lock(g_turnsMutex);
    // Addresses quiet for a minute are forgotten, so the table holds one minute's senders.
    if (g_recentSubmissions.size() > 10000) {
        std::erase_if(g_recentSubmissions, [&](const auto& sender) {
            return sender.second.back() <= nowMs - MINUTE_MS;
        });
    }
    std::deque<int64_t>& times = g_recentSubmissions[address];
    while (!times.empty() && times.front() <= nowMs - MINUTE_MS) {
        times.pop_front();
    }
    if (times.size() >= SUBMISSIONS_PER_MINUTE) {
        return false;
    }
    times.push_back(nowMs);
    return true;
}

}  // namespace numoteka::server
