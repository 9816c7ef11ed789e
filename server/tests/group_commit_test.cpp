// Wins stored in groups: in the order they came, each told what its own storing came to, and
// a failed group's error told to every win of it, never a win reported stored that was not.
#include "group_commit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

namespace numoteka::server {
namespace {

NewWin winOf(int turns) {
    NewWin win;
    win.turns = turns;
    win.code = "code" + std::to_string(turns);
    return win;
}

TEST(GroupCommit, EachWinToldItsOwnResultInTheOrderCommitted) {
    std::vector<int> committed;
    std::vector<size_t> groups;
    GroupCommit group([&](const std::vector<const NewWin*>& wins) {
        groups.push_back(wins.size());
        std::vector<StoredWin> stored;
        for (const NewWin* win : wins) {
            committed.push_back(win->turns);
            stored.push_back({true, static_cast<int64_t>(committed.size()), win->code, 0, {}});
            std::this_thread::yield();
        }
        return stored;
    });
    constexpr int WINS = 64;
    std::vector<std::future<StoredWin>> answers;
    for (int turns = 1; turns <= WINS; ++turns) {
        answers.push_back(std::async(std::launch::async, [&, turns] {
            return group.store(winOf(turns));
        }));
    }
    std::vector<bool> seen(WINS + 1);
    for (int turns = 1; turns <= WINS; ++turns) {
        const StoredWin stored = answers[turns - 1].get();
        EXPECT_EQ(stored.name, "code" + std::to_string(turns));
        // Its place is where it was committed.
        ASSERT_GE(stored.place, 1);
        EXPECT_EQ(committed[stored.place - 1], turns);
        seen[stored.place] = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), WINS);
    size_t total = 0;
    for (const size_t size : groups) {
        total += size;
    }
    EXPECT_EQ(total, static_cast<size_t>(WINS));
}

TEST(GroupCommit, AFailedGroupIsAnErrorToEveryWinOfIt) {
    std::latch first(1);
    std::atomic<int> commits = 0;
    GroupCommit group([&](const std::vector<const NewWin*>& wins) -> std::vector<StoredWin> {
        if (commits++ == 0) {
            first.wait();  // the others gather meanwhile, as one group
            return std::vector<StoredWin>(wins.size(), StoredWin{true, 1, "x", 0, {}});
        }
        throw StoreUnavailable("database or disk is full");
    });
    auto holding = std::async(std::launch::async, [&] { return group.store(winOf(1)); });
    while (commits == 0) {
        std::this_thread::yield();
    }
    std::vector<std::future<StoredWin>> failing;
    for (int turns = 2; turns <= 9; ++turns) {
        failing.push_back(std::async(std::launch::async, [&, turns] {
            return group.store(winOf(turns));
        }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    first.count_down();
    EXPECT_TRUE(holding.get().isNew);
    for (std::future<StoredWin>& answer : failing) {
        EXPECT_THROW(answer.get(), StoreUnavailable);
    }
}

TEST(GroupCommit, ACommitThatAnswersForTooFewWinsIsAnError) {
    GroupCommit group([](const std::vector<const NewWin*>&) { return std::vector<StoredWin>{}; });
    EXPECT_THROW(group.store(winOf(1)), std::logic_error);
}

}  // namespace
}  // namespace numoteka::server
