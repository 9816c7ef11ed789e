// Wins stored in groups: the first caller to find no group being committed commits every win
// waiting, in one transaction, so that many submissions share one sync of the disk and the
// order in which wins get their ids is the order they are committed in (which keeps the places
// answered exact across processes).
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "win_store.h"

namespace numoteka::server {

class GroupCommit {
public:
    // Stores a group in one transaction: for each win, what storing it came to.
    using Commit = std::function<std::vector<StoredWin>(const std::vector<const NewWin*>& group)>;

    explicit GroupCommit(Commit commit) : commit_(std::move(commit)) {}

    // What storing `win` came to; throws what its group's commit threw, to every win of it.
    // A wait lasts at most as long as the commits before it, each bounded by the database's
    // own timeouts.
    StoredWin store(const NewWin& win) {
        Pending mine{&win, {}, nullptr, false};
        std::unique_lock lock(mutex_);
        waiting_.push_back(&mine);
        while (!mine.done) {
            if (committing_) {
                committed_.wait(lock);
                continue;
            }
            committing_ = true;
            const std::vector<Pending*> group = std::exchange(waiting_, {});
            lock.unlock();
            Outcome outcome = commitGroup(group);
            lock.lock();
            // Handed over under the lock: a waiter woken early reads them only once done.
            for (size_t i = 0; i < group.size(); ++i) {
                group[i]->error = outcome.error;
                if (!outcome.error) {
                    group[i]->stored = std::move(outcome.stored[i]);
                }
                group[i]->done = true;
            }
            committing_ = false;
            committed_.notify_all();
        }
        if (mine.error) {
            std::rethrow_exception(mine.error);
        }
        return std::move(mine.stored);
    }

private:
    struct Pending {
        const NewWin* win;
        StoredWin stored;
        std::exception_ptr error;
        bool done;
    };

    struct Outcome {
        std::vector<StoredWin> stored;
        std::exception_ptr error;
    };

    Outcome commitGroup(const std::vector<Pending*>& group) {
        std::vector<const NewWin*> wins;
        for (const Pending* pending : group) {
            wins.push_back(pending->win);
        }
        Outcome outcome;
        try {
            outcome.stored = commit_(wins);
            if (outcome.stored.size() != wins.size()) {
                throw std::logic_error("a group's commit answered for another number of wins");
            }
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    }

    Commit commit_;
    std::mutex mutex_;
    std::condition_variable committed_;
    std::vector<Pending*> waiting_;
    bool committing_ = false;
};

}  // namespace numoteka::server
