// A store in memory for the tests of what sits on a store: its wins in a list, its turns per
// client, and a switch that makes every use fail as a database that is away would.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "win_store.h"

namespace numoteka::server {

class FakeStore final : public WinStore {
public:
    StoredWin store(const NewWin& win) override {
        use();
        for (const NewWin& earlier : wins) {
            if (earlier.code == win.code) {
                return {false, 1, earlier.name, earlier.receivedMs, {}};
            }
        }
        wins.push_back(win);
        ++version_;
        return {true, static_cast<int64_t>(wins.size()), win.name, win.receivedMs, {}};
    }

    std::vector<RankedGame> bestGames(Day day, int difficulty, int count) override {
        use();
        ++rankingsRead;
        std::vector<RankedGame> games;
        for (const NewWin& win : wins) {
            if (win.day == day && win.difficulty == difficulty) {
                games.push_back({0, win.name, 0, win.turns, win.receivedMs, win.code});
            }
        }
        std::stable_sort(games.begin(), games.end(),
                         [](const auto& a, const auto& b) { return a.turns < b.turns; });
        games.resize(std::min<size_t>(games.size(), static_cast<size_t>(count)));
        for (size_t i = 0; i < games.size(); ++i) {
            games[i].place = static_cast<int64_t>(i) + 1;
        }
        return games;
    }

    bool takeSubmissionTurn(const std::string& client, int64_t nowMs, int most,
                            int64_t windowMs) override {
        use();
        std::vector<int64_t>& times = turns[client];
        std::erase_if(times, [&](int64_t at) { return at <= nowMs - windowMs; });
        if (static_cast<int>(times.size()) >= most) {
            return false;
        }
        times.push_back(nowMs);
        return true;
    }

    int64_t version() override {
        use();
        return version_;
    }

    std::string health() override {
        return away ? "away" : healthProblem;
    }

    void stop() override {}

    // Another process stored a win.
    void storedElsewhere() {
        ++version_;
    }

    std::vector<NewWin> wins;
    std::map<std::string, std::vector<int64_t>> turns;
    bool away = false;
    std::string healthProblem;
    int rankingsRead = 0;

private:
    void use() const {
        if (away) {
            throw StoreUnavailable("connection refused");
        }
    }

    int64_t version_ = 0;
};

}  // namespace numoteka::server
