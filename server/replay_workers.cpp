#include "replay_workers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "server_limits.h"

extern char** environ;

namespace numoteka::server {

namespace {

// A message holds a replay's lines (at most limits::REPLAY_BYTES), or a win: its name, its code
// and its lines again.
constexpr size_t MESSAGE_ROOM = 4 * limits::REPLAY_BYTES + 1024;
constexpr int WORKER_SOCKET = 3;
// The marks of a replay, as bits of one number of its message.
constexpr uint32_t PRACTICE_FLAG = 1;
constexpr uint32_t RANKING_FOUND_FLAG = 2;

void putNumber(std::string& out, uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void putText(std::string& out, std::string_view text) {
    putNumber(out, static_cast<uint32_t>(text.size()));
    out.append(text);
}

// Reads a message's fields in turn; false once one is missing.
class Fields {
public:
    explicit Fields(std::string_view message) : rest_(message) {}

    bool number(uint32_t& value) {
        if (rest_.size() < sizeof value) {
            return ok_ = false;
        }
        std::memcpy(&value, rest_.data(), sizeof value);
        rest_.remove_prefix(sizeof value);
        return ok_;
    }
    bool text(std::string& value) {
        uint32_t size = 0;
        if (!number(size) || rest_.size() < size) {
            return ok_ = false;
        }
        value.assign(rest_.substr(0, size));
        rest_.remove_prefix(size);
        return ok_;
    }
    bool ok() const {
        return ok_ && rest_.empty();
    }

private:
    std::string_view rest_;
    bool ok_ = true;
};

std::string replayMessage(const Replay& replay) {
    std::string message;
    putNumber(message, replay.seed);
    putNumber(message, static_cast<uint32_t>(replay.day));
    putText(message, replay.typed);
    putNumber(message, (replay.practice ? PRACTICE_FLAG : 0) |
                           (replay.rankingFound ? RANKING_FOUND_FLAG : 0));
    return message;
}

std::string checkMessage(const ReplayCheck& check) {
    std::string message;
    putNumber(message, static_cast<uint32_t>(check.verdict));
    putNumber(message, static_cast<uint32_t>(check.win.day));
    putNumber(message, static_cast<uint32_t>(static_cast<unsigned char>(check.win.difficulty)));
    putNumber(message, static_cast<uint32_t>(check.win.turns));
    putText(message, check.win.name);
    putText(message, check.win.code);
    putText(message, check.win.unnamedLines);
    return message;
}

bool readCheck(std::string_view message, ReplayCheck& check) {
    Fields fields(message);
    uint32_t verdict = 0;
    uint32_t day = 0;
    uint32_t difficulty = 0;
    uint32_t turns = 0;
    fields.number(verdict);
    fields.number(day);
    fields.number(difficulty);
    fields.number(turns);
    fields.text(check.win.name);
    fields.text(check.win.code);
    fields.text(check.win.unnamedLines);
    check.verdict = static_cast<ReplayVerdict>(verdict);
    check.win.day = static_cast<Day>(day);
    check.win.difficulty = static_cast<Difficulty>(difficulty);
    check.win.turns = static_cast<int32_t>(turns);
    return fields.ok() && verdict <= static_cast<uint32_t>(ReplayVerdict::NOT_WON);
}

}  // namespace

ReplayWorkers::ReplayWorkers(std::string program, std::string workerArgument, unsigned count,
                             std::chrono::milliseconds replayTime, Now now)
    : program_(std::move(program)),
      workerArgument_(std::move(workerArgument)),
      replayTime_(replayTime),
      now_(std::move(now)),
      workers_(count) {
    if (count == 0) {
        throw std::invalid_argument("no replay workers: at least one is needed");
    }
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("no pipe for the replay workers: ") +
                                 std::strerror(errno));
    }
    for (Worker& worker : workers_) {
        if (!start(worker)) {
            const std::string why = lastFailure_;
            for (Worker& started : workers_) {
                end(started);
            }
            close(stopPipe_[0]);
            close(stopPipe_[1]);
            throw std::runtime_error(why);
        }
    }
}

ReplayWorkers::~ReplayWorkers() {
    stop();
    std::unique_lock lock(mutex_);
    // Checks under way end at the stop's word; their workers are ended once they have.
    idle_.wait(lock, [&] {
        return std::none_of(workers_.begin(), workers_.end(),
                            [](const Worker& worker) { return worker.busy; });
    });
    for (Worker& worker : workers_) {
        end(worker);
    }
    close(stopPipe_[0]);
    close(stopPipe_[1]);
}

void ReplayWorkers::stop() {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(stopPipe_[1], &byte, 1);
    idle_.notify_all();
}

unsigned ReplayWorkers::running() {
    const std::lock_guard lock(mutex_);
    return static_cast<unsigned>(std::count_if(workers_.begin(), workers_.end(),
                                               [](const Worker& worker) { return worker.pid > 0; }));
}

bool ReplayWorkers::start(Worker& worker) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        return failedToStart(worker, std::string("no socket for a replay worker: ") +
                                         std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], WORKER_SOCKET);
    char* arguments[] = {program_.data(), workerArgument_.data(), nullptr};
    const int failed =
        posix_spawn(&worker.pid, program_.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (failed != 0) {
        close(ends[0]);
        worker.pid = -1;
        return failedToStart(worker, std::string("cannot start a replay worker: ") +
                                         std::strerror(failed));
    }
    worker.socket = ends[0];
    return true;
}

bool ReplayWorkers::failedToStart(Worker& worker, std::string why) {
    worker.startAgainAt = now_() + limits::WORKER_START_AGAIN;
    lastFailure_ = std::move(why);
    return false;
}

void ReplayWorkers::end(Worker& worker) {
    if (worker.socket >= 0) {
        close(worker.socket);  // the worker ends at the end of its input
        worker.socket = -1;
    }
    if (worker.pid > 0) {
        kill(worker.pid, SIGKILL);
        waitpid(worker.pid, nullptr, 0);
        worker.pid = -1;
    }
}

bool ReplayWorkers::replace(Worker& worker) {
    end(worker);
    return start(worker);
}

ReplayWorkers::Worker& ReplayWorkers::take() {
    std::unique_lock lock(mutex_);
    Worker* chosen = nullptr;
    const bool free =
        idle_.wait_for(lock, limits::WORKER_WAIT, [&] {
            if (stopping_) {
                return true;
            }
            for (Worker& candidate : workers_) {
                if (!candidate.busy && candidate.pid > 0) {
                    chosen = &candidate;
                    return true;
                }
            }
            // None running: one that could not be started is tried again when its time has come.
            for (Worker& candidate : workers_) {
                if (!candidate.busy && candidate.pid <= 0) {
                    if (candidate.startAgainAt <= now_() && start(candidate)) {
                        chosen = &candidate;
                    }
                    return true;
                }
            }
            return false;
        });
    if (stopping_) {
        throw WorkerFailed("the server is stopping");
    }
    if (!free) {
        throw WorkerFailed("no replay worker was free in time");
    }
    if (chosen == nullptr) {
        throw WorkerFailed("no replay worker is running: " + lastFailure_);
    }
    chosen->busy = true;
    return *chosen;
}

void ReplayWorkers::release(Worker& worker, bool replaceIt) {
    {
        const std::lock_guard lock(mutex_);
        if (replaceIt && !stopping_) {
            replace(worker);
        }
        worker.busy = false;
    }
    idle_.notify_one();
}

ReplayCheck ReplayWorkers::check(const Replay& replay) {
    // A worker takes only what the game would play: anything longer is refused here.
    if (replay.typed.size() > limits::REPLAY_BYTES) {
        return {ReplayVerdict::TOO_LONG, {}};
    }
    Worker& worker = take();
    const std::string request = replayMessage(replay);
    // A worker that died while idle had nothing of ours: it is replaced and the replay sent on.
    if (send(worker.socket, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        std::string why;
        {
            const std::lock_guard lock(mutex_);
            if (!replace(worker)) {
                why = lastFailure_;
            } else if (send(worker.socket, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
                why = std::strerror(errno);
            }
        }
        if (!why.empty()) {
            release(worker, false);
            throw WorkerFailed("a replay worker cannot be reached: " + why);
        }
    }
    pollfd waits[2] = {{worker.socket, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int ready = poll(waits, 2, static_cast<int>(replayTime_.count()));
    if (ready <= 0 || (waits[1].revents & POLLIN) != 0) {
        // Its late answer must never be read as another replay's: the worker goes.
        release(worker, true);
        throw WorkerFailed(ready <= 0 ? "a replay worker overran its time"
                                      : "the server is stopping");
    }
    std::string message(MESSAGE_ROOM, '\0');
    const ssize_t received = recv(worker.socket, message.data(), message.size(), 0);
    ReplayCheck check;
    if (received <= 0 || !readCheck(std::string_view(message.data(), received), check)) {
        release(worker, true);
        throw WorkerFailed("a replay worker died");
    }
    release(worker, false);
    return check;
}

int runReplayWorker(int socket, const std::function<ReplayCheck(const Replay&)>& check) {
    // Stopping is the server's to decide: it lets the replays under way finish, then closes
    // the workers' sockets, at which they end.
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    std::string message(MESSAGE_ROOM, '\0');
    for (;;) {
        const ssize_t received = recv(socket, message.data(), message.size(), 0);
        if (received <= 0) {
            return received == 0 ? 0 : 1;
        }
        Fields fields(std::string_view(message.data(), static_cast<size_t>(received)));
        Replay replay;
        uint32_t day = 0;
        uint32_t marks = 0;
        fields.number(replay.seed);
        fields.number(day);
        fields.text(replay.typed);
        fields.number(marks);
        replay.day = static_cast<Day>(day);
        replay.practice = (marks & PRACTICE_FLAG) != 0;
        replay.rankingFound = (marks & RANKING_FOUND_FLAG) != 0;
        if (!fields.ok()) {
            return 1;
        }
        const std::string answer = checkMessage(check(replay));
        if (send(socket, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) {
            return 1;
        }
    }
}

}  // namespace numoteka::server
