// Wins stored in groups: the first caller to find no group being committed commits every win
// waiting, in one transaction, so that many submissions share one sync of the disk and the
// order in which wins get their ids is the order they are committed in (which keeps the places
// answered exact across processes).
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "win_store.h"

namespace numoteka::server {

class GroupCommit {
public:
    // Stores a group in one transaction: for each win, what storing it came to.
    using Commit = std::function<std::vector<StoredWin>(const std::vector<const NewWin*>& group)>;

    explicit GroupCommit(Commit commit) : commit_(std::move(commit)) {}

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
            commitGroup(group);
            lock.lock();
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

    void commitGroup(const std::vector<Pending*>& group) {
        std::vector<const NewWin*> wins;
        for (const Pending* pending : group) {
            wins.push_back(pending->win);
        }
        std::exception_ptr error;
        std::vector<StoredWin> stored;
        try {
            stored = commit_(wins);
        } catch (...) {
            error = std::current_exception();
        }
        for (size_t i = 0; i < group.size(); ++i) {
            group[i]->error = error;
            if (!error) {
                group[i]->stored = std::move(stored[i]);
            }
            group[i]->done = true;
        }
    }

    Commit commit_;
    std::mutex mutex_;
    std::condition_variable committed_;
    std::vector<Pending*> waiting_;
    bool committing_ = false;
};

}  // namespace numoteka::server
