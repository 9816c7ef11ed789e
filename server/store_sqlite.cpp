// The wins in one SQLite file, in WAL mode: readers never wait for a writer, and several server
// processes on one machine may share the file. A small pool of connections, each with its
// statements prepared once, serves the server's threads.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "group_commit.h"
#include "schema.h"
#include "win_store.h"

namespace numoteka::server {

namespace {

constexpr SqlDialect SQLITE = {"INTEGER PRIMARY KEY", "BLOB"};
// A backup, a look with the sqlite3 program or another server process may hold the file.
constexpr int BUSY_WAIT_MS = 5000;

// The statements the store uses, prepared on each connection.
enum Statement {
    INSERT_WIN,
    ADD_TO_GAME,
    FIND_WIN,
    COUNT_AHEAD,
    BEST_GAMES,
    BUMP_VERSION,
    READ_VERSION,
    FORGET_SUBMISSIONS,
    COUNT_SUBMISSIONS,
    ADD_SUBMISSION,
    STATEMENT_COUNT
};

constexpr const char* STATEMENT_SQL[STATEMENT_COUNT] = {
    "INSERT INTO wins (day, difficulty, turns, name, code, received, game) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (code) DO NOTHING",
    "INSERT INTO games (game, day, difficulty, turns, first_win, submissions) "
    "VALUES (?1, ?2, ?3, ?4, ?5, 1) "
    "ON CONFLICT (game) DO UPDATE SET submissions = submissions + 1",
    // This submission, and the first of its game.
    "SELECT w.name, w.received, g.first_win = w.id, f.name, g.submissions, f.turns, "
    "f.received, f.code, g.day, g.difficulty, g.turns, g.first_win "
    "FROM wins w JOIN games g ON g.game = w.game JOIN wins f ON f.id = g.first_win "
    "WHERE w.code = ?1",
    "SELECT count(*) FROM games WHERE day = ?1 AND difficulty = ?2 "
    "AND (turns < ?3 OR (turns = ?3 AND first_win < ?4))",
    "SELECT f.name, g.submissions, g.turns, f.received, f.code "
    "FROM games g JOIN wins f ON f.id = g.first_win WHERE g.day = ?1 AND g.difficulty = ?2 "
    "ORDER BY g.turns, g.first_win LIMIT ?3",
    "UPDATE wins_version SET version = version + 1",
    "SELECT version FROM wins_version",
    "DELETE FROM submissions WHERE at <= ?1",
    "SELECT count(*) FROM submissions WHERE client = ?1",
    "INSERT INTO submissions (client, at) VALUES (?1, ?2)",
};

class Connection {
public:
    explicit Connection(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error(why);
        }
        sqlite3_busy_timeout(db_, BUSY_WAIT_MS);
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

    ~Connection() {
        for (sqlite3_stmt* statement : statements_) {
            sqlite3_finalize(statement);
        }
        sqlite3_close(db_);
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* db() const {
        return db_;
    }

    void check(int result) const {
        if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE) {
            throw std::runtime_error(sqlite3_errmsg(db_));
        }
    }

    void execute(const std::string& sql) const {
        check(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr));
    }

    // A one-value query's text.
    std::string text(const char* sql) const {
        sqlite3_stmt* statement = nullptr;
        check(sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr));
        std::string value;
        if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr) {
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        const int result = sqlite3_finalize(statement);
        check(result);
        return value;
    }

    void prepareAll() {
        for (int i = 0; i < STATEMENT_COUNT; ++i) {
            check(sqlite3_prepare_v3(db_, STATEMENT_SQL[i], -1, SQLITE_PREPARE_PERSISTENT,
                                     &statements_[i], nullptr));
        }
    }

    sqlite3_stmt* statement(Statement which) const {
        return statements_[which];
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statements_[STATEMENT_COUNT] = {};
};

// A statement prepared for a while, finished when it is no longer needed.
struct Prepared {
    Prepared(const Connection& connection, const char* sql) {
        connection.check(sqlite3_prepare_v2(connection.db(), sql, -1, &statement, nullptr));
    }
    ~Prepared() {
        sqlite3_finalize(statement);
    }
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

    sqlite3_stmt* statement = nullptr;
};

// A statement in use, its values bound in turn; reset when the use ends, however it ends.
class Query {
public:
    Query(const Connection& connection, sqlite3_stmt* statement)
        : connection_(connection), statement_(statement) {}
    Query(const Connection& connection, Statement which)
        : Query(connection, connection.statement(which)) {}
    ~Query() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

    Query& bind(int64_t value) {
        connection_.check(sqlite3_bind_int64(statement_, ++bound_, value));
        return *this;
    }
    Query& bind(const std::string& text) {
        connection_.check(sqlite3_bind_text(statement_, ++bound_, text.data(),
                                            static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Query& bindBytes(const std::string& bytes) {
        connection_.check(sqlite3_bind_blob(statement_, ++bound_, bytes.data(),
                                            static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
        return *this;
    }

    // Steps once: whether a row came.
    bool row() {
        const int result = sqlite3_step(statement_);
        connection_.check(result);
        return result == SQLITE_ROW;
    }
    void run() {
        while (row()) {
        }
    }

    int64_t integer(int column) const {
        return sqlite3_column_int64(statement_, column);
    }
    std::string text(int column) const {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
        return std::string(bytes == nullptr ? "" : bytes,
                           static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
    }

private:
    const Connection& connection_;
    sqlite3_stmt* statement_;
    int bound_ = 0;
};

// BEGIN IMMEDIATE (the write lock at once, so that two writers never deadlock) to COMMIT, or
// ROLLBACK when it ends otherwise.
class Transaction {
public:
    explicit Transaction(const Connection& connection) : connection_(connection) {
        connection_.execute("BEGIN IMMEDIATE");
    }
    ~Transaction() {
        if (!committed_) {
            sqlite3_exec(connection_.db(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    void commit() {
        connection_.execute("COMMIT");
        committed_ = true;
    }

private:
    const Connection& connection_;
    bool committed_ = false;
};

class SqliteStore final : public WinStore {
public:
    SqliteStore(const std::string& path, const GameOfCode& gameOfCode, unsigned connections)
        : path_(path) {
        auto first = std::make_unique<Connection>(path);
        // The file is opened at the first statement that needs it.
        first->text("PRAGMA schema_version");
        if (sqlite3_db_readonly(first->db(), "main") == 1) {
            throw std::runtime_error("the database is read-only");
        }
        if (first->text("PRAGMA journal_mode = WAL") != "wal") {
            throw std::runtime_error("the database cannot be put in WAL mode");
        }
        std::string check = first->text("PRAGMA quick_check");
        if (check != "ok") {
            std::replace(check.begin(), check.end(), '\n', ' ');
            throw std::runtime_error("the database is damaged (" + check + ")");
        }
        migrate(*first, gameOfCode);
        first->prepareAll();
        idle_.push_back(std::move(first));
        for (unsigned i = 1; i < std::max(2u, connections); ++i) {
            auto connection = std::make_unique<Connection>(path);
            connection->prepareAll();
            idle_.push_back(std::move(connection));
        }
    }

    StoredWin store(const NewWin& win) override {
        return group_.store(win);
    }

    std::vector<RankedGame> bestGames(Day day, int difficulty, int count) override {
        const Lease connection(*this);
        Query best(*connection, BEST_GAMES);
        best.bind(dayText(day)).bind(difficulty).bind(count);
        std::vector<RankedGame> games;
        while (best.row()) {
            games.push_back({static_cast<int64_t>(games.size()) + 1, best.text(0),
                             best.integer(1) - 1, static_cast<int32_t>(best.integer(2)),
                             best.integer(3), best.text(4)});
        }
        return games;
    }

    bool takeSubmissionTurn(const std::string& client, int64_t nowMs, int most,
                            int64_t windowMs) override {
        const Lease connection(*this);
        // A minute's counts are not worth a sync of the disk: what a power cut takes of them
        // costs nothing. (In WAL mode, NORMAL syncs only at checkpoints.)
        connection->execute("PRAGMA synchronous = NORMAL");
        const struct Durable {
            const Connection& connection;
            ~Durable() {
                sqlite3_exec(connection.db(), "PRAGMA synchronous = FULL", nullptr, nullptr,
                             nullptr);
            }
        } durableAfter{*connection};
        const std::lock_guard writing(writeMutex_);
        Transaction transaction(*connection);
        // Rows leave in the order they came, so each submission costs the same however many
        // clients there are.
        Query(*connection, FORGET_SUBMISSIONS).bind(nowMs - windowMs).run();
        Query count(*connection, COUNT_SUBMISSIONS);
        count.bind(client).row();
        const bool may = count.integer(0) < most;
        if (may) {
            Query(*connection, ADD_SUBMISSION).bind(client).bind(nowMs).run();
        }
        transaction.commit();
        return may;
    }

    int64_t version() override {
        const Lease connection(*this);
        Query read(*connection, READ_VERSION);
        read.row();
        return read.integer(0);
    }

    std::string health() override {
        if (access(path_.c_str(), W_OK) != 0) {
            return "the database file cannot be written";
        }
        try {
            const Lease connection(*this);
            const std::lock_guard writing(writeMutex_);
            Transaction transaction(*connection);
            Query(*connection, READ_VERSION).run();
            Query(*connection, BUMP_VERSION).run();
            // Rolled back: only whether the write is taken matters.
        } catch (const std::runtime_error& error) {
            return std::string("the database: ") + error.what();
        }
        return {};
    }

private:
    std::vector<StoredWin> commitGroup(const std::vector<const NewWin*>& group) {
        const Lease connection(*this);
        const std::lock_guard writing(writeMutex_);
        Transaction transaction(*connection);
        std::vector<StoredWin> stored;
        bool anyNew = false;
        for (const NewWin* win : group) {
            stored.push_back(storeOne(*connection, *win));
            anyNew = anyNew || stored.back().isNew;
        }
        if (anyNew) {
            Query(*connection, BUMP_VERSION).run();
        }
        transaction.commit();
        return stored;
    }

    // Inserts a win (unless its code is in) and finds its game's place.
    static StoredWin storeOne(const Connection& connection, const NewWin& win) {
        Query insert(connection, INSERT_WIN);
        insert.bind(dayText(win.day))
            .bind(win.difficulty)
            .bind(win.turns)
            .bindBytes(win.name)
            .bind(win.code)
            .bind(win.receivedMs)
            .bind(win.game)
            .run();
        const bool isNew = sqlite3_changes(connection.db()) == 1;
        if (isNew) {
            Query(connection, ADD_TO_GAME)
                .bind(win.game)
                .bind(dayText(win.day))
                .bind(win.difficulty)
                .bind(win.turns)
                .bind(sqlite3_last_insert_rowid(connection.db()))
                .run();
        }
        Query found(connection, FIND_WIN);
        if (!found.bind(win.code).row()) {
            throw std::runtime_error("a stored win is not there");
        }
        StoredWin stored;
        stored.isNew = isNew;
        stored.name = found.text(0);
        stored.receivedMs = found.integer(1);
        if (found.integer(2) == 0) {
            stored.firstOfGame = RankedGame{0,
                                            found.text(3),
                                            found.integer(4) - 1,
                                            static_cast<int32_t>(found.integer(5)),
                                            found.integer(6),
                                            found.text(7)};
        }
        Query ahead(connection, COUNT_AHEAD);
        ahead.bind(found.text(8))
            .bind(found.integer(9))
            .bind(found.integer(10))
            .bind(found.integer(11));
        ahead.row();
        stored.place = ahead.integer(0) + 1;
        return stored;
    }

    // A connection taken from the pool for one use.
    class Lease {
    public:
        explicit Lease(SqliteStore& store) : store_(store) {
            std::unique_lock lock(store_.mutex_);
            store_.returned_.wait(lock, [&] { return !store_.idle_.empty(); });
            connection_ = std::move(store_.idle_.back());
            store_.idle_.pop_back();
        }
        ~Lease() {
            {
                const std::lock_guard lock(store_.mutex_);
                store_.idle_.push_back(std::move(connection_));
            }
            store_.returned_.notify_one();
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Connection& operator*() const {
            return *connection_;
        }
        Connection* operator->() const {
            return connection_.get();
        }

    private:
        SqliteStore& store_;
        std::unique_ptr<Connection> connection_;
    };

    static void migrate(Connection& connection, const GameOfCode& gameOfCode) {
        // Another process may be migrating too: the version is read under the write lock.
        Transaction transaction(connection);
        bringUpToDate(
            SQLITE,
            {[&](const std::string& sql) { connection.execute(sql); },
             [&](const char* table) {
                 const Prepared named(connection, "SELECT 1 FROM sqlite_master WHERE name = ?1");
                 return Query(connection, named.statement).bind(table).row();
             },
             [&] { return std::stoi(connection.text("SELECT version FROM schema_version")); },
             [&] { findGames(connection, gameOfCode); }});
        transaction.commit();
    }

    // Each stored win's game, in the order the wins came: the first of a game is its first.
    static void findGames(Connection& connection, const GameOfCode& gameOfCode) {
        struct Win {
            int64_t id;
            std::string code;
            std::string day;
            int64_t difficulty;
            int64_t turns;
        };
        std::vector<Win> wins;
        {
            const Prepared all(connection,
                               "SELECT id, code, day, difficulty, turns FROM wins ORDER BY id");
            Query read(connection, all.statement);
            while (read.row()) {
                wins.push_back({read.integer(0), read.text(1), read.text(2), read.integer(3),
                                read.integer(4)});
            }
        }
        const Prepared setGame(connection, "UPDATE wins SET game = ?1 WHERE id = ?2");
        const Prepared addToGame(connection, STATEMENT_SQL[ADD_TO_GAME]);
        for (const Win& win : wins) {
            const std::string game = gameOfCode(win.code);
            Query(connection, setGame.statement).bind(game).bind(win.id).run();
            Query(connection, addToGame.statement)
                .bind(game)
                .bind(win.day)
                .bind(win.difficulty)
                .bind(win.turns)
                .bind(win.id)
                .run();
        }
    }

    std::string path_;
    // This process's writers take turns here rather than in SQLite's lock, whose waits are
    // sleeps of milliseconds.
    std::mutex writeMutex_;

    GroupCommit group_{
        [this](const std::vector<const NewWin*>& wins) { return commitGroup(wins); }};

    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace

std::unique_ptr<WinStore> openSqliteStore(const std::string& path, const GameOfCode& gameOfCode,
                                          unsigned connections) {
    return std::make_unique<SqliteStore>(path, gameOfCode, connections);
}

}  // namespace numoteka::server
