// The replay check in worker processes. The game keeps its state in globals, so one process
// replays one code at a time: several processes replay side by side while the server stores
// their wins. A worker that dies or overruns its time is replaced; the submission it had is
// answered "try again" (WorkerFailed), never lost silently.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
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
    // Starts `count` workers: `program` run with `workerArgument`, each talking to the server on
    // its file descriptor 3. Throws std::runtime_error when one cannot start.
    ReplayWorkers(std::string program, std::string workerArgument, unsigned count,
                  std::chrono::milliseconds replayTime);
    ~ReplayWorkers();
    ReplayWorkers(const ReplayWorkers&) = delete;
    ReplayWorkers& operator=(const ReplayWorkers&) = delete;

    // Checks a replay in the next idle worker, waiting for one. Throws WorkerFailed when the
    // worker dies or takes longer than the replay time.
    ReplayCheck check(const Replay& replay);

private:
    struct Worker {
        pid_t pid = -1;
        int socket = -1;
        bool busy = false;
    };

    void start(Worker& worker);
    void stop(Worker& worker);

    std::string program_;
    std::string workerArgument_;
    std::chrono::milliseconds replayTime_;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<Worker> workers_;
};

// A worker's life: reads replays from `socket`, checks each, answers; returns at the end of its
// input. What `numoteka-server --replay-worker` runs.
int runReplayWorker(int socket);

}  // namespace numoteka::server
