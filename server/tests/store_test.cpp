// One table of the store's behaviour, run on both databases: SQLite in a scratch folder, and a
// PostgreSQL the test starts (scratch_postgres.h). Wins stored once, games ranked at their
// first submission, places exact, the limit of submissions, every commit synced, health that
// says when a win cannot be stored, and a database of version 2 brought up to date.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <future>
#include <set>
#include <vector>

#include "scratch.h"
#include "scratch_postgres.h"
#include "win_store.h"

namespace numoteka::server {
namespace {

const std::string TAROU = "たろう";
const std::string HANAKO = "はなこ";

std::string noGames(const std::string& code) {
    return "game of " + code;
}

class StoreTest : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "sqlite") {
            uri_ = scratch_ / "wins.db";
            return;
        }
        postgres_ = ScratchPostgres::start();
        if (!postgres_) {
            if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true") {
                FAIL() << "PostgreSQL (Debian's postgresql) is not installed";
            }
            GTEST_SKIP() << "PostgreSQL (Debian's postgresql) is not installed";
        }
        uri_ = postgres_->database("wins");
    }

    std::unique_ptr<WinStore> open() {
        return openStore(uri_, noGames, 4);
    }

    // `sql` straight to the database, as an operator would.
    void run(const std::string& sql) {
        if (GetParam() == "postgresql") {
            return ScratchPostgres::run(uri_, sql);
        }
        sqlite3* db = nullptr;
        sqlite3_open(uri_.c_str(), &db);
        char* error = nullptr;
        const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
        const std::string why = error != nullptr ? error : "";
        sqlite3_free(error);
        sqlite3_close(db);
        if (result != SQLITE_OK) {
            throw std::runtime_error(sql + ": " + why);
        }
    }

    ScratchFolder scratch_;
    std::unique_ptr<ScratchPostgres> postgres_;
    std::string uri_;
};

NewWin win(std::string code, std::string game, int turns, std::string name = TAROU,
           int difficulty = 1) {
    static int64_t received = 1796655600000;
    return {9800, difficulty, turns, std::move(name), std::move(code), std::move(game),
            ++received};
}

TEST_P(StoreTest, StoresOnceAndRanksGamesAtTheirFirstSubmission) {
    const std::unique_ptr<WinStore> store = open();
    const int64_t empty = store->version();
    struct Row {
        NewWin win;
        bool isNew;
        int64_t place;
        std::string firstName;  // of the game, when another submission of it came first
        int64_t others;
    };
    const Row rows[] = {
        {win("a", "g1", 12), true, 1, "", 0},
        {win("a", "g1", 12), false, 1, "", 0},
        {win("b", "g1", 12, HANAKO), true, 1, TAROU, 1},
        {win("c", "g2", 10, HANAKO), true, 1, "", 0},
        {win("d", "g3", 12), true, 3, "", 0},
        {win("e", "g4", 12, TAROU, 3), true, 1, "", 0},
        {win("f", "g1", 12, "x"), true, 2, TAROU, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.win.code);
        const int64_t before = store->version();
        const StoredWin stored = store->store(row.win);
        EXPECT_EQ(stored.isNew, row.isNew);
        EXPECT_EQ(stored.place, row.place);
        EXPECT_EQ(stored.name, row.win.name);
        EXPECT_EQ(stored.firstOfGame ? stored.firstOfGame->name : "", row.firstName);
        EXPECT_EQ(stored.firstOfGame ? stored.firstOfGame->others : 0, row.others);
        EXPECT_EQ(store->version() != before, row.isNew);
    }
    EXPECT_NE(store->version(), empty);
    const std::vector<RankedGame> best = store->bestGames(9800, 1, 10);
    ASSERT_EQ(best.size(), 3u);
    EXPECT_EQ((std::vector<std::string>{best[0].code, best[1].code, best[2].code}),
              (std::vector<std::string>{"c", "a", "d"}));
    EXPECT_EQ(best[1].others, 2);
    EXPECT_EQ(best[1].name, TAROU);
    EXPECT_EQ(store->bestGames(9800, 1, 2).size(), 2u);
    EXPECT_EQ(store->bestGames(9800, 3, 10).size(), 1u);
    EXPECT_TRUE(store->bestGames(9801, 1, 10).empty());
    EXPECT_EQ(store->health(), "");
}

TEST_P(StoreTest, WinsStoredTogetherGetExactPlaces) {
    const std::unique_ptr<WinStore> store = open();
    std::vector<std::future<StoredWin>> answers;
    for (int n = 0; n < 24; ++n) {
        answers.push_back(std::async(std::launch::async, [&, n] {
            return store->store(win("c" + std::to_string(n), "g" + std::to_string(n), 20));
        }));
    }
    std::set<int64_t> places;
    for (auto& answer : answers) {
        places.insert(answer.get().place);
    }
    EXPECT_EQ(places.size(), 24u);
    EXPECT_EQ(*places.begin(), 1);
    EXPECT_EQ(*places.rbegin(), 24);
}

TEST_P(StoreTest, TheLimitOfSubmissionsAndEveryWinSyncedAfterIt) {
    const std::unique_ptr<WinStore> store = open();
    for (int turn = 0; turn < 3; ++turn) {
        EXPECT_TRUE(store->takeSubmissionTurn("192.0.2.1", 1000 + turn, 3, 60000));
    }
    EXPECT_FALSE(store->takeSubmissionTurn("192.0.2.1", 2000, 3, 60000));
    EXPECT_TRUE(store->takeSubmissionTurn("192.0.2.2", 2000, 3, 60000));
    EXPECT_TRUE(store->takeSubmissionTurn("192.0.2.1", 61000, 3, 60000));
    // The turns' commits skip the sync; the connection that took them syncs again.
    EXPECT_EQ(store->health(), "");
}

TEST_P(StoreTest, HealthSaysWhenAWinCannotBeStored) {
    const std::unique_ptr<WinStore> store = open();
    EXPECT_EQ(store->health(), "");
    run("DROP TABLE games");
    EXPECT_NE(store->health(), "");
    EXPECT_THROW(store->store(win("a", "g1", 12)), StoreUnavailable);
    store->stop();
    EXPECT_THROW(store->version(), StoreUnavailable);
}

TEST_P(StoreTest, AVersion2DatabaseIsBroughtUpToDateWithItsNamesAsText) {
    const bool postgres = GetParam() == "postgresql";
    const std::string id = postgres ? "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"
                                    : "INTEGER PRIMARY KEY";
    const std::string tarou = postgres ? "'\\x82bd82eb82a4'" : "X'82bd82eb82a4'";
    for (const std::string& sql : std::vector<std::string>{
             "CREATE TABLE schema_version (version INTEGER NOT NULL)",
             std::string("INSERT INTO schema_version VALUES (2)"),
             "CREATE TABLE wins (id " + id +
                 ", day TEXT NOT NULL, difficulty INTEGER NOT NULL, turns INTEGER NOT NULL, "
                 "name " +
                 (postgres ? "BYTEA" : "BLOB") +
                 " NOT NULL, code TEXT NOT NULL UNIQUE, received BIGINT NOT NULL, game TEXT)",
             std::string("CREATE TABLE games (game TEXT PRIMARY KEY, day TEXT NOT NULL, "
                         "difficulty INTEGER NOT NULL, turns INTEGER NOT NULL, "
                         "first_win BIGINT NOT NULL, submissions BIGINT NOT NULL)"),
             std::string("CREATE TABLE submissions (client TEXT NOT NULL, at BIGINT NOT NULL)"),
             std::string("CREATE TABLE wins_version (version BIGINT NOT NULL)"),
             std::string("INSERT INTO wins_version VALUES (0)"),
             "INSERT INTO wins (day, difficulty, turns, name, code, received, game) VALUES "
             "('2026-10-31', 1, 12, " +
                 tarou + ", 'a', 1, 'g1')",
             std::string("INSERT INTO games VALUES ('g1', '2026-10-31', 1, 12, 1, 1)"),
         }) {
        run(sql);
    }
    const std::unique_ptr<WinStore> store = open();
    const std::vector<RankedGame> best = store->bestGames(*parseDay("2026-10-31"), 1, 10);
    ASSERT_EQ(best.size(), 1u);
    EXPECT_EQ(best[0].name, TAROU);
    EXPECT_EQ(store->store(win("b", "g1", 12, HANAKO)).firstOfGame->name, TAROU);
    EXPECT_EQ(store->health(), "");
    // Opened again: nothing more to do.
    EXPECT_EQ(openStore(uri_, noGames, 2)->bestGames(*parseDay("2026-10-31"), 1, 10)[0].name,
              TAROU);
}

INSTANTIATE_TEST_SUITE_P(Databases, StoreTest, testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace numoteka::server
