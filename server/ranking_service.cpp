#include "ranking_service.h"

#include <chrono>
#include <exception>

#include "api_json.h"
#include "names.h"
#include "replay_workers.h"
#include "request.h"
#include "server_limits.h"
#include "sha256.h"

namespace numoteka::server {

namespace {

Answer answered(int status, std::string body) {
    return {status, std::move(body), {}, 0};
}

Day todayInJapan(int64_t nowMs) {
    return dayInJapan(nowMs / 1000);
}

}  // namespace

std::string gameKey(const VerifiedWin& win) {
    return sha256Hex(dayText(win.day) + "\n" + win.unnamedLines);
}

RankingService::RankingService(WinStore& store, CheckReplay checkReplay,
                               std::function<int64_t()> nowMs, Metrics& metrics)
    : store_(store),
      checkReplay_(std::move(checkReplay)),
      nowMs_(std::move(nowMs)),
      metrics_(metrics) {}

Answer RankingService::refusal(const Refusal& refused) {
    metrics_.refused(refused.kind == RefusalKind::NOT_A_WIN  ? Metrics::Refused::NOT_A_WIN
                     : refused.kind == RefusalKind::TOO_MANY ? Metrics::Refused::TOO_MANY
                                                             : Metrics::Refused::MALFORMED);
    return {httpStatus(refused.kind),
            errorJson(refused.reason, refused.api != nullptr ? refused.api : apiKind(refused.kind)),
            refused.reason, refused.kind == RefusalKind::TOO_MANY ? limits::RETRY_AFTER_LIMIT : 0};
}

// The database cannot be used now: the client is told to try again (a proxy tries another
// server), and /healthz says so until a probe finds the store well again.
Answer RankingService::unavailable(const StoreUnavailable& failed) {
    metrics_.databaseError();
    {
        const std::lock_guard lock(healthMutex_);
        healthProblem_ = std::string("the database: ") + failed.what();
    }
    return {503, errorJson("the database cannot be used now: try again"), failed.what(),
            limits::RETRY_AFTER_DATABASE};
}

// What failed inside stays in the log; the client is told no more.
Answer RankingService::internalError(const std::exception& error) {
    metrics_.databaseError();
    return {500, errorJson("internal error"), error.what(), 0};
}

Answer RankingService::submitWin(std::optional<std::string_view> date, std::string_view body,
                                 const std::string& client) {
    try {
        const int64_t now = nowMs_();
        if (!store_.takeSubmissionTurn(client, now, limits::SUBMISSIONS_PER_WINDOW,
                                       limits::SUBMISSION_WINDOW_MS)) {
            refuse(RefusalKind::TOO_MANY, "too many submissions from this address: wait a minute");
        }
        const Day today = todayInJapan(now);
        const std::optional<Day> dated =
            date ? std::optional(requestedDay(*date, today)) : std::nullopt;
        const Replay replay = submittedReplay(body, today, dated);
        const auto replayed = std::chrono::steady_clock::now();
        const ReplayCheck check = checkReplay_(replay);
        metrics_.replay(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - replayed).count());
        const VerifiedWin win = wonGame(check);
        const int difficulty = difficultyIndex(win.difficulty) + 1;
        const StoredWin stored = store_.store(
            {win.day, difficulty, win.turns, nameAsText(win.name), win.code, gameKey(win), now});
        if (stored.isNew) {
            metrics_.winStored();
            versionReadMs_ = 0;  // this process's own win shows at once
        }
        return answered(stored.isNew ? 201 : 200,
                        storedWinJson(win.day, difficulty, win.turns, win.code, stored));
    } catch (const Refusal& refused) {
        return refusal(refused);
    } catch (const StoreUnavailable& failed) {
        return unavailable(failed);
    } catch (const WorkerFailed& failed) {
        metrics_.refused(Metrics::Refused::UNAVAILABLE);
        return {503, errorJson("the replay could not be checked now: try again", "unavailable"),
                failed.what(), limits::RETRY_AFTER_WORKER};
    } catch (const std::exception& error) {
        return internalError(error);
    }
}

Answer RankingService::dayRanking(std::string_view date, std::string_view difficulty) {
    try {
        const Day day = requestedDay(date, todayInJapan(nowMs_()));
        const int chosen = difficultyIndex(requestedDifficulty(difficulty)) + 1;
        const int64_t version = storeVersion();
        const std::pair key{day, chosen};
        {
            const std::lock_guard lock(cacheMutex_);
            const auto cached = cache_.find(key);
            if (cached != cache_.end() && cached->second.version == version) {
                return answered(200, cached->second.body);
            }
        }
        std::string body =
            rankingJson(day, chosen, store_.bestGames(day, chosen, limits::RANKING_PLACES));
        const std::lock_guard lock(cacheMutex_);
        if (cache_.size() >= limits::CACHED_RANKINGS) {
            cache_.clear();
        }
        cache_[key] = {version, body};
        return answered(200, std::move(body));
    } catch (const Refusal& refused) {
        return refusal(refused);
    } catch (const StoreUnavailable& failed) {
        return unavailable(failed);
    } catch (const std::exception& error) {
        return internalError(error);
    }
}

std::optional<Answer> RankingService::dayRankingAtOnce(std::string_view date,
                                                      std::string_view difficulty) {
    try {
        const int64_t now = nowMs_();
        const Day day = requestedDay(date, todayInJapan(now));
        const int chosen = difficultyIndex(requestedDifficulty(difficulty)) + 1;
        if (now - versionReadMs_ >= limits::OTHER_WRITES_SEEN_WITHIN_MS) {
            return std::nullopt;
        }
        const int64_t version = knownVersion_;
        const std::lock_guard lock(cacheMutex_);
        const auto cached = cache_.find({day, chosen});
        if (cached != cache_.end() && cached->second.version == version) {
            return answered(200, cached->second.body);
        }
        return std::nullopt;
    } catch (const Refusal& refused) {
        return refusal(refused);
    }
}

int64_t RankingService::storeVersion() {
    const int64_t now = nowMs_();
    if (now - versionReadMs_ >= limits::OTHER_WRITES_SEEN_WITHIN_MS) {
        knownVersion_ = store_.version();
        versionReadMs_ = now;
    }
    return knownVersion_;
}

Answer RankingService::health() {
    const int64_t now = nowMs_();
    const std::lock_guard lock(healthMutex_);
    std::string problem = healthProblem_;
    if (problem.empty() && now - probedWellMs_ > limits::HEALTH_STALE_MS) {
        problem = "the database has not answered for " + std::to_string(now - probedWellMs_) +
                  " ms";
    }
    if (problem.empty()) {
        return answered(200, R"({"status":"ok"})");
    }
    return {503, errorJson(problem), problem, limits::RETRY_AFTER_DATABASE};
}

void RankingService::probeHealth() {
    std::string problem;
    try {
        problem = store_.health();
    } catch (const std::exception& error) {
        problem = std::string("the database: ") + error.what();
    }
    if (!problem.empty()) {
        metrics_.databaseError();
    }
    const std::lock_guard lock(healthMutex_);
    if (problem.empty()) {
        probedWellMs_ = nowMs_();
    }
    healthProblem_ = std::move(problem);
}

}  // namespace numoteka::server
