#include "fake_worker.h"

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "replay_workers.h"

namespace numoteka::server {

int runFakeWorker(std::string_view argument) {
    const std::string mode(argument.substr(FAKE_WORKER.size()));
    return runReplayWorker(3, [&mode](const Replay& replay) {
        const char* file = std::getenv(FAKE_WORKER_FILE);
        ReplayCheck check{ReplayVerdict::NOT_WON, {}};
        check.win.name = "plain";
        if (mode == "marks") {
            // The marks that reached the worker, as the name of its answer.
            check.win.name = std::string(replay.practice ? "p" : "-") +
                             (replay.rankingFound ? "r" : "-");
            return check;
        }
        if (file == nullptr || !std::filesystem::exists(file)) {
            return check;
        }
        if (mode == "die") {
            _exit(1);
        }
        if (mode == "hang") {
            for (;;) {
                pause();
            }
        }
        pollfd next{3, POLLIN, 0};
        poll(&next, 1, -1);
        check.verdict = ReplayVerdict::WON;
        check.win.name = "late";
        return check;
    });
}

}  // namespace numoteka::server
