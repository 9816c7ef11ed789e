// The world ranking of the daily game without a socket: a submitted replay checked and its win
// stored, a day's ranking, the server's health. The HTTP layer (http_server.cpp) puts it on the
// network; its tests and fuzz target use it as it is.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "daily/replay_check.h"
#include "metrics.h"
#include "request.h"
#include "win_store.h"

namespace numoteka::server {

// An answer of the API.
struct Answer {
    int status = 200;
    std::string body;    // JSON
    std::string reason;  // for the log: why it was refused, or what failed inside
    int retryAfter = 0;  // seconds, when it is worth trying again later
};

// Plays a replay through the game and says what it was.
using CheckReplay = std::function<ReplayCheck(const Replay& replay)>;

// The key of a verified win's game: a SHA-256 of its day and its lines without the name
// answers, so that everyone who pressed the same keys has the same game.
std::string gameKey(const VerifiedWin& win);

class RankingService {
public:
    RankingService(WinStore& store, CheckReplay checkReplay, std::function<int64_t()> nowMs,
                   Metrics& metrics);

    // POST /api/daily/wins, or /api/daily/<date>/wins with `date`: verifies the code of the
    // body and stores its win. 201 when stored now, 200 when that code was stored before;
    // either way with its game's place.
    Answer submitWin(std::optional<std::string_view> date, std::string_view body,
                     const std::string& client);

    // GET /api/daily/<date>/ranking?difficulty=N: the day's best games, kept in memory until a
    // win is stored (by any process of the store).
    Answer dayRanking(std::string_view date, std::string_view difficulty);

    // The same when it needs nothing of the store (the ranking kept and the store's version
    // read within limits::OTHER_WRITES_SEEN_WITHIN_MS, or a refusal): answered on the
    // connection's own thread. Nothing otherwise.
    std::optional<Answer> dayRankingAtOnce(std::string_view date, std::string_view difficulty);

    // GET /healthz: 200 when the last probe of the store found it answering and taking writes,
    // no win failed to be stored since, and that probe is at most limits::HEALTH_STALE_MS old
    // (a probe may hang with the database); 503 and why otherwise. Never waits for the store.
    Answer health();

    // Probes the store (within its query time): what health() answers from now on. The server
    // probes every limits::HEALTH_PROBE_EVERY.
    void probeHealth();

private:
    // The store's version, read again at most every limits::OTHER_WRITES_SEEN_WITHIN_MS, and at
    // once after this process stored a win.
    int64_t storeVersion();

    Answer refusal(const Refusal& refused);
    Answer unavailable(const StoreUnavailable& failed);
    Answer internalError(const std::exception& error);

    WinStore& store_;
    CheckReplay checkReplay_;
    std::function<int64_t()> nowMs_;
    Metrics& metrics_;

    struct CachedRanking {
        int64_t version;
        std::string body;
    };
    std::atomic<int64_t> knownVersion_ = -1;
    std::atomic<int64_t> versionReadMs_ = 0;
    std::mutex cacheMutex_;
    std::map<std::pair<Day, int>, CachedRanking> cache_;

    std::mutex healthMutex_;
    std::string healthProblem_ = "not probed yet";  // empty when healthy
    int64_t probedWellMs_ = 0;                      // when a probe last found it well
};

}  // namespace numoteka::server
