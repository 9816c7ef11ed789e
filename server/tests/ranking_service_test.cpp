// The ranking without a socket, over a store in memory and a replay check the test decides:
// what each kind of refusal is answered, today as it is in Japan, the limit of submissions,
// the cached rankings, and a store or worker that fails answered 503, never a win kept that
// was not.
#include "ranking_service.h"

#include <gtest/gtest.h>

#include "daily/replay_code.h"
#include "fake_store.h"
#include "replay_workers.h"
#include "server_limits.h"

namespace numoteka::server {
namespace {

// 2026-12-08 00:00 in Japan.
constexpr int64_t MIDNIGHT_IN_JAPAN_MS = 1796655600000;
const std::string TAROU_CP932 = "\x82\xbd\x82\xeb\x82\xa4";
const std::string TAROU = "たろう";

std::string bodyOf(const std::string& date, const std::string& typed = "1\n") {
    const Day day = *parseDay(date);
    return R"({"code": ")" + encodeReplay({dailySeed(day), day, typed}) + R"("})";
}

class RankingServiceTest : public testing::Test {
protected:
    RankingServiceTest()
        : service_(store_, [this](const Replay& replay) { return check(replay); },
                   [this] { return now_; }, metrics_) {}

    ReplayCheck check(const Replay& replay) {
        if (workerFails_) {
            throw WorkerFailed("a replay worker died");
        }
        ReplayCheck found{verdict_, {}};
        found.win = {replay.day, '1', static_cast<int32_t>(replay.typed.size()), TAROU_CP932,
                     encodeReplay(replay), replay.typed};
        return found;
    }

    Answer submit(const std::string& body, const std::string& client = "192.0.2.1") {
        return service_.submitWin(std::nullopt, body, client);
    }

    FakeStore store_;
    Metrics metrics_;
    int64_t now_ = MIDNIGHT_IN_JAPAN_MS + 3600 * 1000;
    ReplayVerdict verdict_ = ReplayVerdict::WON;
    bool workerFails_ = false;
    RankingService service_;
};

TEST_F(RankingServiceTest, RefusalsByKind) {
    struct Row {
        std::string body;
        ReplayVerdict verdict;
        int status;
    };
    const Row rows[] = {
        {"{", ReplayVerdict::WON, 400},
        {R"({"code": 5})", ReplayVerdict::WON, 400},
        {R"({"code": "AAAA"})", ReplayVerdict::WON, 422},
        {bodyOf("2026-12-08"), ReplayVerdict::NOT_WON, 422},
        {bodyOf("2026-12-08"), ReplayVerdict::ENDS_EARLY, 422},
        {bodyOf("2026-12-08"), ReplayVerdict::TOO_LONG, 422},
        {bodyOf("2026-12-08"), ReplayVerdict::WON, 201},
        {bodyOf("2026-12-08"), ReplayVerdict::WON, 200},
    };
    int client = 0;
    for (const Row& row : rows) {
        verdict_ = row.verdict;
        const Answer answer = submit(row.body, "198.51.100." + std::to_string(++client));
        EXPECT_EQ(answer.status, row.status) << row.body << " " << answer.body;
        EXPECT_EQ(answer.retryAfter, 0);
    }
    ASSERT_EQ(store_.wins.size(), 1u);
    // Kept as text, shown as the game read it.
    EXPECT_EQ(store_.wins[0].name, TAROU);
    EXPECT_NE(submit(bodyOf("2026-12-08"), "203.0.113.9").body.find(R"("name":"たろう")"),
              std::string::npos);
}

TEST_F(RankingServiceTest, TodayIsTodayInJapan) {
    now_ = MIDNIGHT_IN_JAPAN_MS - 1;
    EXPECT_EQ(submit(bodyOf("2026-12-08")).status, 422);
    EXPECT_EQ(service_.submitWin("2026-12-08", bodyOf("2026-12-08"), "192.0.2.2").status, 400);
    EXPECT_EQ(service_.dayRanking("2026-12-08", "1").status, 400);
    EXPECT_EQ(service_.dayRanking("2026-12-07", "1").status, 200);
    now_ = MIDNIGHT_IN_JAPAN_MS;
    EXPECT_EQ(submit(bodyOf("2026-12-08"), "192.0.2.3").status, 201);
    EXPECT_EQ(service_.submitWin("2026-12-08", bodyOf("2026-12-08", "2\n"), "192.0.2.4").status,
              201);
    // The dated address checks the code's day against its own.
    EXPECT_EQ(service_.submitWin("2026-12-07", bodyOf("2026-12-08"), "192.0.2.5").status, 422);
}

TEST_F(RankingServiceTest, TheLimitOfSubmissionsCountsRefusedOnes) {
    verdict_ = ReplayVerdict::NOT_WON;
    for (int i = 0; i < limits::SUBMISSIONS_PER_WINDOW; ++i) {
        EXPECT_EQ(submit(bodyOf("2026-12-08")).status, 422);
    }
    verdict_ = ReplayVerdict::WON;
    const Answer refused = submit(bodyOf("2026-12-08"));
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.retryAfter, limits::RETRY_AFTER_LIMIT);
    EXPECT_EQ(submit(bodyOf("2026-12-08"), "192.0.2.99").status, 201);  // another client
    now_ += limits::SUBMISSION_WINDOW_MS;
    EXPECT_EQ(submit(bodyOf("2026-12-08")).status, 200);
}

TEST_F(RankingServiceTest, AStoreOrWorkerThatFailsIsTryAgainAndStoresNothing) {
    service_.probeHealth();
    EXPECT_EQ(service_.health().status, 200);
    store_.away = true;
    for (const Answer& answer :
         {submit(bodyOf("2026-12-08")), service_.dayRanking("2026-12-08", "1")}) {
        EXPECT_EQ(answer.status, 503) << answer.body;
        EXPECT_EQ(answer.retryAfter, limits::RETRY_AFTER_DATABASE);
        EXPECT_EQ(answer.body.find("new"), std::string::npos);
    }
    // Health says so at once, and until a probe finds the store well again.
    EXPECT_EQ(service_.health().status, 503);
    service_.probeHealth();
    EXPECT_EQ(service_.health().status, 503);
    store_.away = false;
    service_.probeHealth();
    EXPECT_EQ(service_.health().status, 200);
    store_.healthProblem = "database or disk is full";
    service_.probeHealth();
    EXPECT_EQ(service_.health().status, 503);
    EXPECT_NE(service_.health().body.find("disk is full"), std::string::npos);

    // A probe that hangs with the database: the last good one counts for HEALTH_STALE_MS.
    store_.healthProblem.clear();
    service_.probeHealth();
    now_ += limits::HEALTH_STALE_MS;
    EXPECT_EQ(service_.health().status, 200);
    now_ += 1;
    EXPECT_EQ(service_.health().status, 503);

    workerFails_ = true;
    const Answer unchecked = submit(bodyOf("2026-12-08"));
    EXPECT_EQ(unchecked.status, 503);
    EXPECT_EQ(unchecked.retryAfter, limits::RETRY_AFTER_WORKER);
    EXPECT_TRUE(store_.wins.empty());
}

TEST_F(RankingServiceTest, RankingsCachedUntilAWinIsStored) {
    EXPECT_FALSE(service_.dayRankingAtOnce("2026-12-08", "1"));
    EXPECT_EQ(service_.dayRankingAtOnce("2026-12-08", "7")->status, 400);
    EXPECT_EQ(service_.dayRanking("2026-12-08", "1").body.find(TAROU), std::string::npos);
    // Kept, and the store's version fresh: no need of the store.
    ASSERT_TRUE(service_.dayRankingAtOnce("2026-12-08", "1"));
    EXPECT_EQ(service_.dayRankingAtOnce("2026-12-08", "1")->body,
              service_.dayRanking("2026-12-08", "1").body);
    EXPECT_FALSE(service_.dayRankingAtOnce("2026-12-08", "2"));
    // This process's own win shows at once, with no time passing.
    ASSERT_EQ(submit(bodyOf("2026-12-08")).status, 201);
    EXPECT_FALSE(service_.dayRankingAtOnce("2026-12-08", "1"));
    EXPECT_NE(service_.dayRanking("2026-12-08", "1").body.find(TAROU), std::string::npos);
    const int read = store_.rankingsRead;
    EXPECT_EQ(service_.dayRanking("2026-12-08", "1").status, 200);
    EXPECT_EQ(store_.rankingsRead, read);
    // Another process's, within OTHER_WRITES_SEEN_WITHIN_MS.
    store_.storedElsewhere();
    now_ += limits::OTHER_WRITES_SEEN_WITHIN_MS - 1;
    service_.dayRanking("2026-12-08", "1");
    EXPECT_EQ(store_.rankingsRead, read);
    now_ += 1;
    service_.dayRanking("2026-12-08", "1");
    EXPECT_EQ(store_.rankingsRead, read + 1);
}

}  // namespace
}  // namespace numoteka::server
