#include "sql_store.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "group_commit.h"
#include "names.h"
#include "schema.h"
#include "server_limits.h"

namespace numoteka::server {

namespace {

struct Statement {
    const char* name;
    const char* sql;
};

// Every statement of the store, once for every database.
constexpr Statement INSERT_WIN = {
    "insert_win",
    "INSERT INTO wins (day, difficulty, turns, name, code, received, game) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (code) DO NOTHING RETURNING id"};
constexpr Statement ADD_TO_GAME = {
    "add_to_game",
    "INSERT INTO games (game, day, difficulty, turns, first_win, submissions) "
    "VALUES (?1, ?2, ?3, ?4, ?5, 1) "
    "ON CONFLICT (game) DO UPDATE SET submissions = games.submissions + 1"};
// This submission, and the first of its game.
constexpr Statement FIND_WIN = {
    "find_win",
    "SELECT w.name, w.received, CASE WHEN g.first_win = w.id THEN 1 ELSE 0 END, f.name, "
    "g.submissions, f.turns, f.received, f.code, g.day, g.difficulty, g.turns, g.first_win "
    "FROM wins w JOIN games g ON g.game = w.game JOIN wins f ON f.id = g.first_win "
    "WHERE w.code = ?1"};
constexpr Statement COUNT_AHEAD = {"count_ahead",
                                   "SELECT count(*) FROM games WHERE day = ?1 AND difficulty = ?2 "
                                   "AND (turns < ?3 OR (turns = ?3 AND first_win < ?4))"};
constexpr Statement BEST_GAMES = {
    "best_games",
    "SELECT f.name, g.submissions, g.turns, f.received, f.code "
    "FROM games g JOIN wins f ON f.id = g.first_win WHERE g.day = ?1 AND g.difficulty = ?2 "
    "ORDER BY g.turns, g.first_win LIMIT ?3"};
constexpr Statement BUMP_VERSION = {"bump_version",
                                    "UPDATE wins_version SET version = version + 1"};
constexpr Statement READ_VERSION = {"read_version", "SELECT version FROM wins_version"};
constexpr Statement FORGET_CLIENT = {"forget_client",
                                     "DELETE FROM submissions WHERE client = ?1 AND at <= ?2"};
constexpr Statement FORGET_ALL = {"forget_all", "DELETE FROM submissions WHERE at <= ?1"};
constexpr Statement COUNT_SUBMISSIONS = {"count_submissions",
                                         "SELECT count(*) FROM submissions WHERE client = ?1"};
constexpr Statement ADD_SUBMISSION = {"add_submission",
                                      "INSERT INTO submissions (client, at) VALUES (?1, ?2)"};
constexpr Statement SET_GAME = {"set_game", "UPDATE wins SET game = ?1 WHERE id = ?2"};
constexpr Statement SET_NAME = {"set_name", "UPDATE wins SET name_text = ?1 WHERE id = ?2"};
// The health check: each table read, and a write as large as a win's taken.
constexpr Statement READ_TABLES = {
    "read_tables",
    "SELECT (SELECT count(*) FROM (SELECT 1 FROM wins LIMIT 1) w), "
    "(SELECT count(*) FROM (SELECT 1 FROM games LIMIT 1) g), "
    "(SELECT count(*) FROM (SELECT 1 FROM submissions LIMIT 1) s)"};
constexpr Statement WRITE_PROBE = {"write_probe", "UPDATE health_probe SET payload = ?1"};
constexpr size_t PROBE_BYTES = 4096;

std::string hexBytes(const std::string& hex) {
    std::string bytes;
    for (size_t at = 0; at + 1 < hex.size(); at += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16)));
    }
    return bytes;
}

class SqlStore final : public WinStore {
public:
    SqlStore(const SqlDialect& dialect, SqlConnect connect, const GameOfCode& gameOfCode,
             unsigned connections)
        : dialect_(dialect), connect_(std::move(connect)), slots_(std::max(2u, connections)) {
        std::unique_ptr<SqlConnection> first = connect_();
        migrate(*first, gameOfCode);
        slots_[0] = std::move(first);
        // All made now, so that the descriptors they take are taken before the server counts
        // what it has left; one that breaks is made again at its next use.
        for (size_t i = 0; i < slots_.size(); ++i) {
            if (!slots_[i]) {
                slots_[i] = connect_();
            }
            free_.push_back(i);
        }
    }

    StoredWin store(const NewWin& win) override {
        return group_.store(win);
    }

    std::vector<RankedGame> bestGames(Day day, int difficulty, int count) override {
        return usingConnection([&](SqlConnection& connection) {
            const SqlRows best = run(connection, BEST_GAMES,
                                     {dayText(day), int64_t{difficulty}, int64_t{count}});
            std::vector<RankedGame> games;
            for (size_t row = 0; row < best.size(); ++row) {
                games.push_back({static_cast<int64_t>(row) + 1, best.text(row, 0),
                                 best.integer(row, 1) - 1,
                                 static_cast<int32_t>(best.integer(row, 2)), best.integer(row, 3),
                                 best.text(row, 4)});
            }
            return games;
        });
    }

    bool takeSubmissionTurn(const std::string& client, int64_t nowMs, int most,
                            int64_t windowMs) override {
        return usingConnection([&](SqlConnection& connection) {
            // A minute's counts are not worth a sync of the disk: what a power cut takes of
            // them costs nothing.
            const Unsynced unsynced(*this, connection);
            const Writing writing(*this);
            Transaction transaction(*this, connection);
            execute(connection, dialect_.quickInside);
            if (dialect_.lockClient != nullptr) {
                run(connection, {"lock_client", dialect_.lockClient}, {client});
            }
            run(connection, FORGET_CLIENT, {client, nowMs - windowMs});
            if (++submissions_ % limits::SUBMISSIONS_SWEPT_EVERY == 0) {
                run(connection, FORGET_ALL, {nowMs - windowMs});
            }
            const bool may = run(connection, COUNT_SUBMISSIONS, {client}).integer(0, 0) < most;
            if (may) {
                run(connection, ADD_SUBMISSION, {client, nowMs});
            }
            transaction.commit();
            return may;
        });
    }

    int64_t version() override {
        return usingConnection([&](SqlConnection& connection) {
            return run(connection, READ_VERSION, {}).integer(0, 0);
        });
    }

    std::string health() override {
        try {
            usingConnection([&](SqlConnection& connection) {
                if (const std::string why = connection.unwritable(); !why.empty()) {
                    throw StoreUnavailable(why);
                }
                const std::string durable = connection.execute(dialect_.durability).text(0, 0);
                if (durable != dialect_.durable) {
                    throw StoreUnavailable("a connection would store wins without syncing them");
                }
                // Not synced: whether the write is taken is what counts, and a sync would hold
                // up the wins' commits.
                const Unsynced unsynced(*this, connection);
                const Writing writing(*this);
                Transaction transaction(*this, connection);
                execute(connection, dialect_.quickInside);
                run(connection, READ_TABLES, {});
                run(connection, READ_VERSION, {});
                run(connection, WRITE_PROBE, {std::string(PROBE_BYTES, probes_++ % 2 ? 'a' : 'b')});
                transaction.commit();
                return 0;
            });
        } catch (const std::runtime_error& error) {
            return std::string("the database: ") + error.what();
        }
        return {};
    }

    void stop() override {
        stopping_ = true;
        returned_.notify_all();
    }

private:
    // This process's writers take turns here, within the query time, rather than in SQLite's
    // lock, whose waits are sleeps of milliseconds.
    struct Writing {
        explicit Writing(SqlStore& store) : store_(store) {
            if (!store_.writeMutex_.try_lock_for(limits::QUERY_TIME)) {
                throw StoreUnavailable("the database's writes did not take their turn in time");
            }
        }
        ~Writing() {
            store_.writeMutex_.unlock();
        }
        Writing(const Writing&) = delete;
        Writing& operator=(const Writing&) = delete;
        SqlStore& store_;
    };

    // Commits on a connection not synced for a while; every commit after it synced again,
    // however it ends (what failed to set it back, the health probe finds).
    class Unsynced {
    public:
        Unsynced(SqlStore& store, SqlConnection& connection)
            : store_(store), connection_(connection) {
            store_.execute(connection_, store_.dialect_.quickBefore);
        }
        ~Unsynced() {
            try {
                store_.execute(connection_, store_.dialect_.durableAgain);
            } catch (const StoreUnavailable&) {
            }
        }
        Unsynced(const Unsynced&) = delete;
        Unsynced& operator=(const Unsynced&) = delete;

    private:
        SqlStore& store_;
        SqlConnection& connection_;
    };

    // A write from its beginning to COMMIT, or rolled back when it ends otherwise.
    class Transaction {
    public:
        Transaction(SqlStore& store, SqlConnection& connection) : connection_(connection) {
            store.execute(connection_, store.dialect_.beginWrite);
        }
        ~Transaction() {
            if (!committed_ && !connection_.broken()) {
                try {
                    connection_.execute("ROLLBACK");
                } catch (const StoreUnavailable&) {
                }
            }
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit() {
            connection_.execute("COMMIT");
            committed_ = true;
        }

    private:
        SqlConnection& connection_;
        bool committed_ = false;
    };

    // A connection of the pool for one use, made (again) when it has none that works; waited
    // for within the query time.
    class Lease {
    public:
        explicit Lease(SqlStore& store) : store_(store) {
            {
                std::unique_lock lock(store_.mutex_);
                if (!store_.returned_.wait_for(lock, limits::QUERY_TIME, [&] {
                        return store_.stopping_ || !store_.free_.empty();
                    })) {
                    throw StoreUnavailable("no connection to the database was free in time");
                }
                if (store_.stopping_) {
                    throw StoreUnavailable("the server is stopping");
                }
                slot_ = store_.free_.back();
                store_.free_.pop_back();
            }
            try {
                std::unique_ptr<SqlConnection>& connection = store_.slots_[slot_];
                if (!connection || connection->broken()) {
                    connection.reset();
                    connection = store_.connect_();
                }
            } catch (...) {
                release();
                throw;
            }
        }
        ~Lease() {
            release();
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        SqlConnection& operator*() const {
            return *store_.slots_[slot_];
        }
        SqlConnection* operator->() const {
            return store_.slots_[slot_].get();
        }

    private:
        void release() {
            {
                const std::lock_guard lock(store_.mutex_);
                store_.free_.push_back(slot_);
            }
            store_.returned_.notify_one();
        }
        SqlStore& store_;
        size_t slot_ = 0;
    };

    SqlRows run(SqlConnection& connection, const Statement& statement,
                const std::vector<SqlValue>& parameters) const {
        return connection.run(statement.name, statement.sql, parameters);
    }

    void execute(SqlConnection& connection, const char* sql) const {
        if (sql != nullptr) {
            connection.execute(sql);
        }
    }

    // Runs `work` on a connection of the pool. A connection the database dropped (it
    // restarted, say) fails its next use: the work is done again, once, on a new connection.
    // Each work is a transaction that left nothing behind, or one that stores wins by their
    // unique codes, which storing again does not repeat.
    template <class Work>
    std::invoke_result_t<Work&, SqlConnection&> usingConnection(Work work) {
        for (int attempt = 0;; ++attempt) {
            const Lease connection(*this);
            try {
                return work(*connection);
            } catch (const StoreUnavailable&) {
                if (attempt > 0 || !connection->broken()) {
                    throw;
                }
            }
        }
    }

    // Wins of every process take turns at the database's lock: their ids follow the order they
    // are committed in, so that the places answered are exact.
    std::vector<StoredWin> commitGroup(const std::vector<const NewWin*>& group) {
        return usingConnection([&](SqlConnection& connection) {
            const Writing writing(*this);
            Transaction transaction(*this, connection);
            execute(connection, dialect_.lockWins);
            std::vector<StoredWin> stored;
            bool anyNew = false;
            for (const NewWin* win : group) {
                stored.push_back(storeOne(connection, *win));
                anyNew = anyNew || stored.back().isNew;
            }
            if (anyNew) {
                run(connection, BUMP_VERSION, {});
            }
            transaction.commit();
            return stored;
        });
    }

    // Inserts a win (unless its code is in) and finds its game's place.
    StoredWin storeOne(SqlConnection& connection, const NewWin& win) const {
        const SqlRows inserted =
            run(connection, INSERT_WIN,
                {dayText(win.day), int64_t{win.difficulty}, int64_t{win.turns}, win.name,
                 win.code, win.receivedMs, win.game});
        const bool isNew = inserted.size() == 1;
        if (isNew) {
            run(connection, ADD_TO_GAME,
                {win.game, dayText(win.day), int64_t{win.difficulty}, int64_t{win.turns},
                 inserted.integer(0, 0)});
        }
        const SqlRows found = run(connection, FIND_WIN, {win.code});
        if (found.size() != 1) {
            throw StoreUnavailable("a stored win is not there");
        }
        StoredWin stored;
        stored.isNew = isNew;
        stored.name = found.text(0, 0);
        stored.receivedMs = found.integer(0, 1);
        if (found.integer(0, 2) == 0) {
            stored.firstOfGame =
                RankedGame{0,
                           found.text(0, 3),
                           found.integer(0, 4) - 1,
                           static_cast<int32_t>(found.integer(0, 5)),
                           found.integer(0, 6),
                           found.text(0, 7)};
        }
        const SqlRows ahead =
            run(connection, COUNT_AHEAD,
                {found.text(0, 8), found.integer(0, 9), found.integer(0, 10),
                 found.integer(0, 11)});
        stored.place = ahead.integer(0, 0) + 1;
        return stored;
    }

    void migrate(SqlConnection& connection, const GameOfCode& gameOfCode) {
        // Another process may be migrating too: the version is read under the lock.
        Transaction transaction(*this, connection);
        execute(connection, dialect_.lockMigration);
        bringUpToDate(
            dialect_,
            {[&](const std::string& sql) { connection.execute(sql); },
             [&](const char* table) {
                 return run(connection, {"has_table", dialect_.hasTable}, {std::string(table)})
                            .integer(0, 0) != 0;
             },
             [&] {
                 return static_cast<int>(
                     connection.execute("SELECT version FROM schema_version").integer(0, 0));
             },
             [&] {
                 const SqlRows wins = connection.execute(
                     "SELECT id, code, day, difficulty, turns FROM wins ORDER BY id");
                 for (size_t row = 0; row < wins.size(); ++row) {
                     const std::string game = gameOfCode(wins.text(row, 1));
                     run(connection, ADD_TO_GAME,
                         {game, wins.text(row, 2), wins.integer(row, 3), wins.integer(row, 4),
                          wins.integer(row, 0)});
                     run(connection, SET_GAME, {game, wins.integer(row, 0)});
                 }
             },
             [&] {
                 std::string hexOfName = dialect_.hexOf;
                 hexOfName.replace(hexOfName.find("{}"), 2, "name");
                 const SqlRows names =
                     connection.execute("SELECT id, " + hexOfName + " FROM wins ORDER BY id");
                 for (size_t row = 0; row < names.size(); ++row) {
                     run(connection, SET_NAME,
                         {nameAsText(hexBytes(names.text(row, 1))), names.integer(row, 0)});
                 }
             }});
        transaction.commit();
    }

    const SqlDialect& dialect_;
    SqlConnect connect_;
    std::timed_mutex writeMutex_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<SqlConnection>> slots_;
    std::vector<size_t> free_;
    std::atomic<bool> stopping_ = false;
    std::atomic<int64_t> submissions_ = 0;
    std::atomic<int64_t> probes_ = 0;
    GroupCommit group_{
        [this](const std::vector<const NewWin*>& wins) { return commitGroup(wins); }};
};

}  // namespace

std::string withParameterMark(const std::string& sql, char mark) {
    if (mark == '?') {
        return sql;
    }
    std::string written = sql;
    for (size_t at = 0; at + 1 < written.size(); ++at) {
        if (written[at] == '?' && written[at + 1] >= '1' && written[at + 1] <= '9') {
            written[at] = mark;
        }
    }
    return written;
}

std::unique_ptr<WinStore> openSqlStore(const SqlDialect& dialect, const SqlConnect& connect,
                                       const GameOfCode& gameOfCode, unsigned connections) {
    return std::make_unique<SqlStore>(dialect, connect, gameOfCode, connections);
}

}  // namespace numoteka::server
