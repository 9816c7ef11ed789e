// The replay check in worker processes. The game keeps its state in globals, so one process
// replays one code at a time: several processes replay side by side while the server stores
// their wins. A worker that dies or overruns its time is replaced; the submission it had is
// answered "try again" (WorkerFailed), never lost silently. No wait is without a deadline: a
// worker that cannot be replaced (no descriptor free, say) is tried again later, and a check
// that finds none running fails at once.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "daily/replay_check.h"
#include "daily/replay_code.h"

namespace numoteka::server {

// A replay that no worker finished: the server answers 503.
struct WorkerFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ReplayWorkers {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // Starts `count` (at least one) workers: `program` run with `workerArgument`, each talking
    // to the server on its file descriptor 3. Throws std::runtime_error when one cannot start.
    // `now` paces the starts tried again after one failed.
    ReplayWorkers(std::string program, std::string workerArgument, unsigned count,
                  std::chrono::milliseconds replayTime, Now now = Clock::now);
    ~ReplayWorkers();
    ReplayWorkers(const ReplayWorkers&) = delete;
    ReplayWorkers& operator=(const ReplayWorkers&) = delete;

    // Checks a replay in the next idle worker, waiting at most limits::WORKER_WAIT for one.
    // Throws WorkerFailed when none is free or running, or the worker dies or takes longer
    // than the replay time, or the server stops meanwhile.
    ReplayCheck check(const Replay& replay);

    // The server stops: checks under way and those waiting fail now.
    void stop();

    // Workers running now.
    unsigned running();

private:
    struct Worker {
        pid_t pid = -1;
        int socket = -1;
        bool busy = false;
        Clock::time_point startAgainAt{};  // when one that could not be started is tried again
    };

    // The caller holds mutex_ for these four.
    bool start(Worker& worker);
    bool failedToStart(Worker& worker, std::string why);
    void end(Worker& worker);
    bool replace(Worker& worker);

    Worker& take();
    void release(Worker& worker, bool replaceIt);

    std::string program_;
    std::string workerArgument_;
    std::chrono::milliseconds replayTime_;
    Now now_;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<Worker> workers_;
    std::string lastFailure_;
    bool stopping_ = false;
    int stopPipe_[2] = {-1, -1};  // readable once the server stops
};

// A worker's life: reads replays from `socket`, checks each with `check`, answers; returns at
// the end of its input. What `numoteka-server --replay-worker` runs.
int runReplayWorker(int socket,
                    const std::function<ReplayCheck(const Replay&)>& check = checkReplay);

}  // namespace numoteka::server
