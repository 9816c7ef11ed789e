// The replay workers' pool as the server uses it, its workers the test program itself made to
// misbehave (fake_worker.h): each failure is answered "try again" (WorkerFailed), no check
// waits for ever, a late answer is never taken for another replay's, and the pool comes back
// by itself once it can start workers again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "fake_worker.h"
#include "replay_workers.h"
#include "scratch.h"
#include "server_limits.h"

namespace numoteka::server {
namespace {

using namespace std::chrono_literals;

class ReplayWorkersTest : public testing::Test {
protected:
    ReplayWorkersTest() {
        std::filesystem::create_symlink(std::filesystem::read_symlink("/proc/self/exe"), program_);
        setenv(FAKE_WORKER_FILE, trigger_.c_str(), 1);
    }

    ReplayWorkers pool(const char* mode, unsigned count = 1,
                       std::chrono::milliseconds replayTime = 5000ms) {
        return ReplayWorkers(program_, std::string(FAKE_WORKER) + mode, count, replayTime,
                             [this] { return now_; });
    }

    // While it is there, the fake workers misbehave.
    void misbehave(bool on) {
        if (on) {
            std::ofstream(trigger_).put('x');
        } else {
            std::filesystem::remove(trigger_);
        }
    }

    ScratchFolder scratch_;
    std::string program_ = scratch_ / "worker";
    std::string trigger_ = scratch_ / "misbehave";
    ReplayWorkers::Clock::time_point now_ = ReplayWorkers::Clock::now();
};

Replay someReplay(size_t bytes = 10) {
    return {1, 9800, std::string(bytes, '1')};
}

TEST_F(ReplayWorkersTest, AnswersAndRefusesWhatNoGameCouldPlay) {
    ReplayWorkers workers = pool("die");
    EXPECT_EQ(workers.check(someReplay()).win.name, "plain");
    // Over the limit, no worker is handed it (one that is would die here): refused as too long.
    misbehave(true);
    EXPECT_EQ(workers.check(someReplay(limits::REPLAY_BYTES + 1)).verdict,
              ReplayVerdict::TOO_LONG);
    EXPECT_EQ(workers.running(), 1u);
}

TEST_F(ReplayWorkersTest, AReplaysMarksReachTheWorker) {
    ReplayWorkers workers = pool("marks");
    Replay replay = someReplay();
    EXPECT_EQ(workers.check(replay).win.name, "--");
    replay.rankingFound = true;
    EXPECT_EQ(workers.check(replay).win.name, "-r");
    replay.practice = true;
    EXPECT_EQ(workers.check(replay).win.name, "pr");
    replay.rankingFound = false;
    EXPECT_EQ(workers.check(replay).win.name, "p-");
}

TEST_F(ReplayWorkersTest, AWorkerThatDiesIsReplaced) {
    ReplayWorkers workers = pool("die", 2);
    misbehave(true);
    EXPECT_THROW(workers.check(someReplay()), WorkerFailed);
    EXPECT_EQ(workers.running(), 2u);
    misbehave(false);
    EXPECT_EQ(workers.check(someReplay()).win.name, "plain");
}

TEST_F(ReplayWorkersTest, AWorkerThatOverrunsIsReplacedAndItsLateAnswerNeverRead) {
    ReplayWorkers workers = pool("stall", 1, 300ms);
    misbehave(true);
    EXPECT_THROW(workers.check(someReplay()), WorkerFailed);
    misbehave(false);
    // A worker kept would answer this with the first replay's late "win".
    const ReplayCheck next = workers.check(someReplay());
    EXPECT_EQ(next.win.name, "plain");
    EXPECT_EQ(next.verdict, ReplayVerdict::NOT_WON);
}

TEST_F(ReplayWorkersTest, NoCheckWaitsForEverForABusyPool) {
    ReplayWorkers workers = pool("hang", 1, 60000ms);
    misbehave(true);
    // Of two checks, one takes the worker, which never answers; the other gives up after
    // WORKER_WAIT, and the first ends at the stop.
    std::atomic<int> gaveUp = 0;
    std::atomic<int> ended = 0;
    const auto attempt = [&] {
        try {
            workers.check(someReplay());
        } catch (const WorkerFailed& failed) {
            gaveUp += std::string_view(failed.what()) == "no replay worker was free in time";
        }
        ++ended;
    };
    std::thread first(attempt);
    std::thread second(attempt);
    while (ended == 0) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(gaveUp, 1);
    workers.stop();
    first.join();
    second.join();
    EXPECT_EQ(ended, 2);
    EXPECT_THROW(workers.check(someReplay()), WorkerFailed);
}

TEST_F(ReplayWorkersTest, AWorkerThatCannotBeStartedIsTriedAgainLater) {
    ReplayWorkers workers = pool("die");
    std::filesystem::remove(program_);
    misbehave(true);
    EXPECT_THROW(workers.check(someReplay()), WorkerFailed);  // dies; no program to replace it
    EXPECT_EQ(workers.running(), 0u);
    misbehave(false);
    std::filesystem::create_symlink(std::filesystem::read_symlink("/proc/self/exe"), program_);
    // Not before its time has come, and then at the next check.
    EXPECT_THROW(workers.check(someReplay()), WorkerFailed);
    now_ += limits::WORKER_START_AGAIN;
    EXPECT_EQ(workers.check(someReplay()).win.name, "plain");
    EXPECT_EQ(workers.running(), 1u);
}

TEST_F(ReplayWorkersTest, DescriptorsExhaustedThenFreeAgain) {
    ReplayWorkers workers = pool("die");
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_cur, 512);
    setrlimit(RLIMIT_NOFILE, &files);
    misbehave(true);
    std::vector<int> taken;
    for (int descriptor; (descriptor = open("/dev/null", O_RDONLY)) >= 0;) {
        taken.push_back(descriptor);
    }
    try {
        workers.check(someReplay());
        ADD_FAILURE() << "a dead worker's replay answered";
    } catch (const WorkerFailed&) {
    }
    EXPECT_EQ(workers.running(), 0u);
    try {
        workers.check(someReplay());
        ADD_FAILURE() << "a replay answered with no worker";
    } catch (const WorkerFailed& failed) {
        EXPECT_NE(std::string(failed.what()).find("no socket for a replay worker"),
                  std::string::npos)
            << failed.what();
    }
    for (const int descriptor : taken) {
        close(descriptor);
    }
    misbehave(false);
    EXPECT_THROW(workers.check(someReplay()), WorkerFailed);  // not before its time
    now_ += limits::WORKER_START_AGAIN;
    EXPECT_EQ(workers.check(someReplay()).win.name, "plain");
}

TEST(ReplayWorkers, NeedsAWorker) {
    EXPECT_THROW(ReplayWorkers("/bin/true", "", 0, 1000ms), std::invalid_argument);
    EXPECT_THROW(ReplayWorkers("/nonexistent/program", "", 1, 1000ms), std::runtime_error);
}

}  // namespace
}  // namespace numoteka::server
