#include "replay_workers.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

extern char** environ;

namespace numoteka::server {

namespace {

// A message holds a replay's lines (at most REPLAY_BYTE_LIMIT), or a win: its name, its code
// and its lines again.
constexpr size_t MESSAGE_ROOM = 4 * REPLAY_BYTE_LIMIT + 1024;
constexpr int WORKER_SOCKET = 3;

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
    putNumber(message, replay.practice ? 1 : 0);
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
                             std::chrono::milliseconds replayTime)
    : program_(std::move(program)),
      workerArgument_(std::move(workerArgument)),
      replayTime_(replayTime),
      workers_(count) {
    for (Worker& worker : workers_) {
        start(worker);
    }
}

ReplayWorkers::~ReplayWorkers() {
    for (Worker& worker : workers_) {
        stop(worker);
    }
}

void ReplayWorkers::start(Worker& worker) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error(std::string("no socket for a replay worker: ") +
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
        throw std::runtime_error(std::string("cannot start a replay worker: ") +
                                 std::strerror(failed));
    }
    worker.socket = ends[0];
    worker.busy = false;
}

void ReplayWorkers::stop(Worker& worker) {
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

ReplayCheck ReplayWorkers::check(const Replay& replay) {
    if (replay.typed.size() > REPLAY_BYTE_LIMIT) {
        return {ReplayVerdict::TOO_LONG, {}};
    }
    Worker* worker = nullptr;
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] {
            for (Worker& candidate : workers_) {
                if (!candidate.busy) {
                    worker = &candidate;
                    return true;
                }
            }
            return false;
        });
        worker->busy = true;
    }
    const auto done = [&](bool replace) {
        const std::lock_guard lock(mutex_);
        if (replace) {
            stop(*worker);
            start(*worker);
        }
        worker->busy = false;
        idle_.notify_one();
    };
    const std::string request = replayMessage(replay);
    // A worker that died while idle had nothing of ours: it is replaced and the replay sent on.
    if (send(worker->socket, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        const std::lock_guard lock(mutex_);
        stop(*worker);
        start(*worker);
        if (send(worker->socket, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
            worker->busy = false;
            idle_.notify_one();
            throw WorkerFailed("a replay worker cannot be reached");
        }
    }
    pollfd answer{worker->socket, POLLIN, 0};
    const int ready = poll(&answer, 1, static_cast<int>(replayTime_.count()));
    if (ready <= 0) {
        done(true);
        throw WorkerFailed("a replay worker overran its time");
    }
    std::string message(MESSAGE_ROOM, '\0');
    const ssize_t received = recv(worker->socket, message.data(), message.size(), 0);
    ReplayCheck check;
    if (received <= 0 || !readCheck(std::string_view(message.data(), received), check)) {
        done(true);
        throw WorkerFailed("a replay worker died");
    }
    done(false);
    return check;
}

int runReplayWorker(int socket) {
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
        uint32_t practice = 0;
        fields.number(replay.seed);
        fields.number(day);
        fields.text(replay.typed);
        fields.number(practice);
        replay.day = static_cast<Day>(day);
        replay.practice = practice != 0;
        if (!fields.ok()) {
            return 1;
        }
        const std::string answer = checkMessage(checkReplay(replay));
        if (send(socket, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) {
            return 1;
        }
    }
}

}  // namespace numoteka::server
