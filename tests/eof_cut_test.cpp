// A whole won and saved game, with its input cut after every byte in turn: each cut ends in
// the farewell, and the ranking files are either as they were or whole with the new win.
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/game.h"
#include "core/primitives.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

const std::string SAVED = "セーブしました！\n";
// Menu, a name with full-width characters and CR LF (so that cuts fall inside a character and
// between CR and LF), normal difficulty; then "1", "1", Enter over and over until the game is
// won and saved. (Plain "1" and Enter can fall out of step: a menu that reads Enter as its
// answer drops the "1" after it, and so on for ever. With two "1"s it is back in step after
// one wrong answer.)
const std::string OPENING_KEYS = "1\nたろう\r\n1\n";
const std::string REPEATED_KEYS = "11\n";

// The stored ranking every cut starts from: normal holds two wins, easy one, hard none.
std::vector<std::string> baselineCounts() {
    std::vector<std::string> counts(30, "5000");
    counts[0] = "9";
    counts[1] = "15";
    counts[10] = "12";
    return counts;
}

std::vector<std::string> baselineNames() {
    std::vector<std::string> names(30, "");
    names[0] = cp932("はなこ");
    names[1] = "Bob";
    names[10] = cp932("ぽち");
    return names;
}

void storeBaseline(const fs::path& folder) {
    fs::create_directories(folder / "System");
    writeFile(folder / "System/dice_data.dat", joined(baselineCounts()));
    writeFile(folder / "System/name_data.dat", joined(baselineNames()));
}

std::string play(uint32_t seed, const std::string& keys) {
    attachMemoryTerminal(keys, TerminalEncoding::Utf8);
    EXPECT_EQ(runGame(seed), 0);
    return takeTerminalOutput();
}

// The opening and then `length` keys of the repeated ones.
std::string scriptOf(size_t length) {
    std::string keys = OPENING_KEYS;
    for (size_t i = 0; i < length; ++i) {
        keys += REPEATED_KEYS[i % REPEATED_KEYS.size()];
    }
    return keys;
}

// What the game showed, gathered at every read, and whether the save was shown yet.
std::string g_shownSoFar;
bool g_savedSoFar = false;

void watchForSave() {
    const std::string shown = takeTerminalOutput();  // whole texts: the save's is one of them
    g_savedSoFar = g_savedSoFar || shown.find(SAVED) != std::string::npos;
    g_shownSoFar += shown;
}

// The first seed whose first game is won and saved having passed through every kind of scene
// (the three mini-games, a turn of rest, battles), and the fewest keys that get it there: the
// save reads the last of them.
struct Script {
    uint32_t seed = 0;
    std::string keys;
};

Script findScript() {
    constexpr size_t MOST_KEYS = 3000;
    const char* const scenes[] = {"じゃんけんゲーム！！", "スロットゲーム！！",
                                  "ハイ＆ローゲーム！！", "回休みです",
                                  "！バトル！",           "たろうさんの勝利！！！"};
    Script found;
    setReadObserver(watchForSave);
    for (uint32_t seed = 1; seed <= 40 && found.seed == 0; ++seed) {
        g_shownSoFar.clear();
        g_savedSoFar = false;
        play(seed, scriptOf(MOST_KEYS));
        const std::string game = g_shownSoFar.substr(0, g_shownSoFar.find(SAVED));
        const bool everyScene = std::all_of(std::begin(scenes), std::end(scenes), [&](auto scene) {
            return game.find(scene) != std::string::npos;
        });
        const bool firstGame = game.find(GAME_START) == game.rfind(GAME_START);
        if (g_savedSoFar && everyScene && firstGame) {
            found.seed = seed;
        }
    }
    setReadObserver(nullptr);
    if (found.seed == 0) {
        return found;
    }
    // Whether the save came is monotone in the length of the keys.
    size_t low = 0;
    size_t high = MOST_KEYS;
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (play(found.seed, scriptOf(middle)).find(SAVED) != std::string::npos) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    found.keys = scriptOf(low) + "2\n";  // then quit from the menu
    return found;
}

class EofCut : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        storeBaseline(".");
    }

    void TearDown() override {
        setReadObserver(nullptr);
        SceneTest::TearDown();
    }

    ScratchFolder scratch_{"numoteka_eof_"};
};

// The ranking after the won game: "たろう" with `turns` enters the normal table, below stored
// wins of equal count.
void expectSavedRanking(int turns) {
    std::vector<std::pair<int, std::string>> normal = {{9, cp932("はなこ")}, {15, "Bob"}};
    normal.insert(
        std::upper_bound(normal.begin(), normal.end(), turns,
                         [](int count, const auto& entry) { return count < entry.first; }),
        {turns, cp932("たろう")});
    std::vector<std::string> counts = baselineCounts();
    std::vector<std::string> names = baselineNames();
    for (size_t place = 0; place < normal.size(); ++place) {
        counts[place] = std::to_string(normal[place].first);
        names[place] = normal[place].second;
    }
    EXPECT_EQ(fileText("System/dice_data.dat"), joined(counts));
    EXPECT_EQ(fileText("System/name_data.dat"), joined(names));
}

struct BinaryCut {
    size_t length;
    int status;
    std::string shown;
    std::string counts;
    std::string names;
};

// Runs the real game on the first `length` keys in a folder of its own, with the baseline
// ranking; exit status -1 for a run that did not exit by itself.
BinaryCut runBinaryCut(const fs::path& folder, const std::string& keys, size_t length) {
    fs::remove_all(folder);
    storeBaseline(folder);
    writeFile(folder / "in", keys.substr(0, length));
    const std::string command = "cd '" + folder.string() +
                                "' && env -u LC_ALL -u LC_CTYPE LANG=C.UTF-8 timeout 60 " +
                                NUMOTEKA_BINARY + " < in > out 2> err";
    const int status = std::system(command.c_str());
    return {length, WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(folder / "out"),
            fileText(folder / "System/dice_data.dat"), fileText(folder / "System/name_data.dat")};
}

// Whole: 30 CR LF lines, counts of digits below 10000, names of at most 12 bytes.
bool rankingIsWhole(const std::string& counts, const std::string& names) {
    const auto lines = [](const std::string& text, std::vector<std::string>& out) {
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                return false;
            }
            out.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return out.size() == 30;
    };
    std::vector<std::string> countLines;
    std::vector<std::string> nameLines;
    if (!lines(counts, countLines) || !lines(names, nameLines)) {
        return false;
    }
    for (int line = 0; line < 30; ++line) {
        const std::string& count = countLines[line];
        if (count.empty() || count.size() > 4 ||
            count.find_first_not_of("0123456789") != std::string::npos ||
            nameLines[line].size() > 12 || nameLines[line].find('\n') != std::string::npos) {
            return false;
        }
    }
    return true;
}

TEST_F(EofCut, EveryCutOfAWonAndSavedGameEndsInTheFarewell) {
    const Script script = findScript();
    ASSERT_FALSE(script.keys.empty()) << "no seed up to 40 wins and saves after every scene";
    storeBaseline(".");  // the search saved its wins too
    const std::string full = play(script.seed, script.keys);
    ASSERT_TRUE(full.ends_with(SAVED + MENU + FAREWELL)) << full.substr(full.size() - 300);
    const std::string heading = "\nたろうさんの番です（";
    const size_t turnAt = full.rfind(heading) + heading.size();
    const int turns = std::stoi(full.substr(turnAt, full.find("ターン目", turnAt) - turnAt));
    expectSavedRanking(turns);
    const std::string savedCounts = fileText("System/dice_data.dat");
    const std::string savedNames = fileText("System/name_data.dat");
    const std::string baseCounts = joined(baselineCounts());
    const std::string baseNames = joined(baselineNames());

    // In-process, every length from nothing to the whole script.
    const auto start = std::chrono::steady_clock::now();
    size_t firstSaved = 0;
    for (size_t length = 0; length <= script.keys.size(); ++length) {
        storeBaseline(".");
        const std::string shown = play(script.seed, script.keys.substr(0, length));
        ASSERT_TRUE(shown.ends_with(FAREWELL)) << "cut at " << length;
        // Less input shows the same as the whole game up to where the input ended.
        const std::string before = shown.substr(0, shown.size() - FAREWELL.size());
        ASSERT_TRUE(full.starts_with(before)) << "cut at " << length;
        ASSERT_EQ(before.find(FAREWELL), std::string::npos) << "cut at " << length;

        const std::string counts = fileText("System/dice_data.dat");
        const std::string names = fileText("System/name_data.dat");
        const bool untouched = counts == baseCounts && names == baseNames;
        const bool saved = counts == savedCounts && names == savedNames;
        ASSERT_TRUE(untouched || saved) << "cut at " << length;
        ASSERT_EQ(saved, before.find(SAVED) != std::string::npos) << "cut at " << length;
        if (saved && firstSaved == 0) {
            firstSaved = length;
        }
        ASSERT_TRUE(firstSaved == 0 || saved) << "cut at " << length << " lost the save";
    }
    const double inProcessSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // The real program on every tenth cut. Its pauses really count (some 30 ms each in the
    // sanitized build, a second or more for a whole game), so two run at a time.
    std::vector<size_t> sample;
    for (size_t length = 0; length <= script.keys.size(); length += 10) {
        sample.push_back(length);
    }
    const auto binaryStart = std::chrono::steady_clock::now();
    std::vector<BinaryCut> runs(sample.size());
    std::atomic<size_t> next{0};
    const auto worker = [&](int index) {
        const fs::path folder = scratch_.path() / ("binary" + std::to_string(index));
        for (size_t item = next++; item < sample.size(); item = next++) {
            runs[item] = runBinaryCut(folder, script.keys, sample[item]);
        }
    };
    std::thread first(worker, 1);
    std::thread second(worker, 2);
    first.join();
    second.join();
    for (const BinaryCut& run : runs) {
        EXPECT_EQ(run.status, 0) << "binary cut at " << run.length;
        EXPECT_TRUE(run.shown.ends_with(FAREWELL)) << "binary cut at " << run.length;
        EXPECT_TRUE((run.counts == baseCounts && run.names == baseNames) ||
                    rankingIsWhole(run.counts, run.names))
            << "binary cut at " << run.length;
    }
    const double binarySeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - binaryStart).count();
    std::printf(
        "eof cuts: seed %u, script of %zu bytes (win in %d turns, saved from a cut of %zu), "
        "%zu cuts in-process in %.1f s; %zu real-program runs in %.1f s\n",
        script.seed, script.keys.size(), turns, firstSaved, script.keys.size() + 1,
        inProcessSeconds, runs.size(), binarySeconds);
}

}  // namespace
}  // namespace numoteka::testing
