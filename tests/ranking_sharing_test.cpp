// Games that share one ranking folder: saves at the same moment, displays while others save,
// links planted by someone else, a lock that does not come, and saves killed half way.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/game.h"
#include "core/primitives.h"
#include "harness.h"
#include "records/ranking.h"
#include "records/ranking_store.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

using Entry = std::pair<std::string, int>;  // a name and its turn count

// The places of the normal table that hold a win, as the files store them.
std::set<Entry> storedWins(const fs::path& folder) {
    const auto lines = [](const std::string& text) {
        std::vector<std::string> split;
        for (size_t at = 0, end = 0; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            split.push_back(text.substr(at, end - at));
        }
        return split;
    };
    const auto counts = lines(fileText(folder / "dice_data.dat"));
    const auto names = lines(fileText(folder / "name_data.dat"));
    std::set<Entry> wins;
    for (size_t i = 0; i < 10 && i < counts.size() && i < names.size(); ++i) {
        if (!names[i].empty()) {
            wins.emplace(names[i], std::stoi(counts[i]));
        }
    }
    return wins;
}

// ---- Real games held at the save prompt ----

// Keys that play a game on normal under `name` up to the save prompt of the human's win, and
// the turns it took; found by playing it in memory with ever fewer keys.
struct WinningKeys {
    std::string keys;
    int turns = 0;
};

// Keys are "1" at every menu and prompt, a line feed after every second: a game held at the save
// prompt must have read a whole line last, so that its answer comes from a line of its own.
std::optional<WinningKeys> keysToSavePrompt(uint32_t seed, const std::string& name) {
    std::string typed = "1\n" + name + "\n1\n";
    while (typed.size() < 9000) {
        typed += "11\n";
    }
    // Only the first game counts: after a lost one, the keys would name the next differently.
    const std::string win = "*************" + name + "さんの勝利";
    std::string shown;
    const auto reaches = [&](size_t keys) {
        shown = playSession(seed, typed.substr(0, keys));
        const size_t prompt = shown.find(SAVE_PROMPT);
        return prompt != std::string::npos && shown.find(win) < prompt;
    };
    if (!reaches(typed.size())) {
        return std::nullopt;
    }
    // The fewest keys that reach the prompt: the game waits there for the next one.
    size_t low = 1;
    size_t high = typed.size();
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (reaches(middle)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    reaches(high);
    if (typed[high - 1] != '\n') {
        return std::nullopt;
    }
    // The turn of the human's win is the last one announced before it.
    const size_t turnEnd = shown.rfind("ターン目）", shown.find(win));
    const size_t turnStart = shown.rfind("（", turnEnd) + std::string("（").size();
    return WinningKeys{typed.substr(0, high),
                       std::stoi(shown.substr(turnStart, turnEnd - turnStart))};
}

struct HeldGame {
    pid_t pid = -1;
    int keyboard = -1;
    int screen = -1;
    std::string shown;
};

// With `endAtStep`, the game ends at its save's n-th file operation, as if killed there.
HeldGame startGame(uint32_t seed, const fs::path& folder, int endAtStep = 0) {
    int keys[2];
    int shown[2];
    EXPECT_EQ(pipe(keys), 0);
    EXPECT_EQ(pipe(shown), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(keys[0], STDIN_FILENO);
        dup2(shown[1], STDOUT_FILENO);
        for (int end : {keys[0], keys[1], shown[0], shown[1]}) {
            close(end);
        }
        setenv("LANG", "C.UTF-8", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_CTYPE");
        setenv("NUMOTEKA_QUICK_END_AT_STEP", std::to_string(endAtStep).c_str(), 1);
        const std::string seedText = std::to_string(seed);
        execl(NUMOTEKA_QUICK, NUMOTEKA_QUICK, "--seed", seedText.c_str(), "--ranking-dir",
              folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(keys[0]);
    close(shown[1]);
    return HeldGame{pid, keys[1], shown[0], ""};
}

// Reads what the games show until each of them ends with `ending`, or has ended.
void readUntil(std::vector<HeldGame>& games, const std::string& ending) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        std::vector<pollfd> waiting;
        for (HeldGame& game : games) {
            if (game.screen >= 0 && !game.shown.ends_with(ending)) {
                waiting.push_back({game.screen, POLLIN, 0});
            }
        }
        if (waiting.empty() || std::chrono::steady_clock::now() > deadline) {
            return;
        }
        poll(waiting.data(), waiting.size(), 100);
        for (HeldGame& game : games) {
            for (const pollfd& ready : waiting) {
                if (ready.fd != game.screen || ready.revents == 0) {
                    continue;
                }
                char bytes[4096];
                const ssize_t got = read(game.screen, bytes, sizeof bytes);
                if (got <= 0) {
                    close(game.screen);
                    game.screen = -1;
                } else {
                    game.shown.append(bytes, static_cast<size_t>(got));
                }
            }
        }
    }
}

TEST(SharedRanking, GamesSavingAtTheSameMomentAllKeepTheirWins) {
    constexpr int GAMES = 10;
    ScratchFolder scratch("numoteka_sharing_");
    // Seeds whose games the human wins, each in its own number of turns.
    std::vector<std::pair<uint32_t, WinningKeys>> wins;
    std::set<int> turns;
    for (uint32_t seed = 1; wins.size() < GAMES; ++seed) {
        const auto win = keysToSavePrompt(seed, "p" + std::to_string(wins.size()));
        if (win && turns.insert(win->turns).second) {
            wins.emplace_back(seed, *win);
        }
    }
    for (int round = 0; round < 3; ++round) {
        const fs::path folder = scratch.path() / ("round" + std::to_string(round));
        fs::create_directories(folder);
        std::vector<HeldGame> games;
        std::set<Entry> expected;
        for (const auto& [seed, win] : wins) {
            games.push_back(startGame(seed, folder));
            ASSERT_EQ(write(games.back().keyboard, win.keys.data(), win.keys.size()),
                      static_cast<ssize_t>(win.keys.size()));
            expected.emplace("p" + std::to_string(expected.size()), win.turns);
        }
        readUntil(games, SAVE_PROMPT);
        for (const HeldGame& game : games) {
            ASSERT_TRUE(game.shown.ends_with(SAVE_PROMPT))
                << game.shown.substr(game.shown.size() - 200);
        }
        // All answer at once; the end of the keys then quits each game from the menu.
        for (HeldGame& game : games) {
            ASSERT_EQ(write(game.keyboard, "1\n", 2), 2);
        }
        for (HeldGame& game : games) {
            close(game.keyboard);
        }
        readUntil(games, FAREWELL);
        for (HeldGame& game : games) {
            int status = 0;
            waitpid(game.pid, &status, 0);
            EXPECT_EQ(status, 0);
            EXPECT_NE(game.shown.find("セーブしました！\n"), std::string::npos)
                << "round " << round;
            if (game.screen >= 0) {
                close(game.screen);
            }
        }
        EXPECT_EQ(storedWins(folder), expected) << "round " << round;
    }
}

TEST(SharedRanking, EveryGameNamesItsTemporaryFilesAfresh) {
    // Two games killed in the same moment of their saves, each in a folder of its own, leave
    // their first temporary file; its name holds the save's id. Were ids the same in every game,
    // a leftover that the repair cannot remove (another player's, in a shared folder) would sit
    // at the name of every later save, and all of them would fail.
    ScratchFolder scratch("numoteka_ids_");
    std::optional<WinningKeys> win;
    uint32_t seed = 0;
    while (!win) {
        win = keysToSavePrompt(++seed, "p");
    }
    std::set<std::string> leftovers;
    for (const char* name : {"first", "second"}) {
        fs::create_directory(scratch.path() / name);
        std::vector<HeldGame> game = {startGame(seed, scratch.path() / name, 2)};
        const std::string keys = win->keys + "1\n";
        ASSERT_EQ(write(game[0].keyboard, keys.data(), keys.size()),
                  static_cast<ssize_t>(keys.size()));
        close(game[0].keyboard);
        readUntil(game, FAREWELL);  // it ends in its save, before any farewell
        waitpid(game[0].pid, nullptr, 0);
        for (const auto& item : fs::directory_iterator(scratch.path() / name)) {
            const std::string file = item.path().filename().string();
            if (file.starts_with("dice_data.dat.") && file.ends_with(".new")) {
                leftovers.insert(file);
            }
        }
    }
    EXPECT_EQ(leftovers.size(), 2u) << ::testing::PrintToString(leftovers);
}

// ---- One process saving or being killed while another looks ----

// A win whose name tells its count: any other pairing comes from two different saves.
void saveWin(int turns) {
    const std::string name = "c" + std::to_string(turns);
    std::memcpy(g_players[PLAYER_HUMAN].name, name.c_str(), name.size() + 1);
    saveRecord('1', turns);
}

// The normal table as the display shows it: every place a win paired with its own count, or
// an empty place. Returns the wins shown, or nullopt when a pairing is wrong or nothing shows.
std::optional<std::set<Entry>> shownWins() {
    attachMemoryTerminal("1\n", TerminalEncoding::Utf8);
    showRanking();
    const std::string shown = takeTerminalOutput();
    std::set<Entry> wins;
    size_t rows = 0;
    for (size_t at = shown.find("位："); at != std::string::npos; at = shown.find("位：", at)) {
        at += std::string("位：").size();
        const size_t tab = shown.find("\t\t", at);
        const std::string name = shown.substr(at, tab - at);
        const int count = std::stoi(shown.substr(tab + 2));
        ++rows;
        if (name.empty() ? count != 5000 : name != "c" + std::to_string(count)) {
            return std::nullopt;
        }
        if (!name.empty()) {
            wins.emplace(name, count);
        }
    }
    return rows == 10 ? std::optional(wins) : std::nullopt;
}

// A child process that saves wins of ever fewer turns, each going to the top of the table.
pid_t startSaving(int fromTurns) {
    const pid_t pid = fork();
    if (pid == 0) {
        attachMemoryTerminal("", TerminalEncoding::Utf8);
        for (int turns = fromTurns; turns > 0; --turns) {
            saveWin(turns);
            takeTerminalOutput();
        }
        _exit(0);
    }
    return pid;
}

class SharedFolder : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        g_rankingFaults = {};
        setRankingFolder(scratch_.path().string(), true);
        storeThreeWins();
    }

    void storeThreeWins() {
        fs::remove_all(scratch_.path());
        for (int turns : {901, 902, 903}) {
            saveWin(turns);
        }
        screen();
    }

    void TearDown() override {
        g_rankingFaults = {};
        setRankingFolder("System", false);
        SceneTest::TearDown();
    }

    ScratchFolder scratch_{"numoteka_shared_"};
};

TEST_F(SharedFolder, ADisplayNeverPairsNamesAndCountsOfDifferentSaves) {
    const pid_t saver = startSaving(4900);
    for (int display = 0; display < 3000; ++display) {
        ASSERT_TRUE(shownWins().has_value()) << "display " << display;
    }
    kill(saver, SIGKILL);
    waitpid(saver, nullptr, 0);
}

TEST_F(SharedFolder, WhatOthersPlantInTheFolderIsNeverWrittenThroughNorWaitedOn) {
    const fs::path outside =
        scratch_.path().parent_path() / (scratch_.path().filename().string() + "_outside");
    std::ofstream(outside) << "someone else's file\n";
    // Links at the lock's file and at both ranking files: the save replaces them.
    for (const char* planted : {"ranking.lock", "dice_data.dat", "name_data.dat"}) {
        fs::remove(scratch_.path() / planted);
        fs::create_symlink(outside, scratch_.path() / planted);
    }
    saveWin(12);
    EXPECT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(fileText(outside), "someone else's file\n");
    for (const char* file : {"ranking.lock", "dice_data.dat", "name_data.dat"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(scratch_.path() / file))) << file;
    }
    EXPECT_EQ(shownWins(), (std::set<Entry>{{"c12", 12}}));
    fs::remove(outside);
    // A pipe, which would block a reader forever: unreadable, so neither shown nor replaced.
    fs::remove(scratch_.path() / "dice_data.dat");
    ASSERT_EQ(mkfifo((scratch_.path() / "dice_data.dat").c_str(), 0666), 0);
    saveWin(5);
    EXPECT_EQ(screen(), "セーブ失敗\n");
    type("1\n");
    showRanking();
    EXPECT_EQ(screen(), "記録がないです\n");
    EXPECT_TRUE(fs::is_fifo(scratch_.path() / "dice_data.dat"));
}

TEST_F(SharedFolder, WithoutTheLockASaveChangesNothingAndTheDisplayShowsNothing) {
    const int held = open((scratch_.path() / "ranking.lock").c_str(), O_RDWR);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const std::string counts = fileText(scratch_.path() / "dice_data.dat");
    const std::string names = fileText(scratch_.path() / "name_data.dat");
    g_rankingFaults.lockWaitMilliseconds = 200;
    saveWin(5);
    EXPECT_EQ(screen(), "セーブ失敗\n");
    EXPECT_EQ(fileText(scratch_.path() / "dice_data.dat"), counts);
    EXPECT_EQ(fileText(scratch_.path() / "name_data.dat"), names);
    type("1\n");
    showRanking();
    EXPECT_EQ(screen(), "記録がないです\n");
    close(held);
    saveWin(5);
    EXPECT_EQ(screen(), "セーブしました！\n");
}

TEST_F(SharedFolder, ALockFileReplacedWhileASaveWaitsIsLockedAfresh) {
    // The lock's file is replaced while a save waits for it; the one who held the old file holds
    // the new one too, and only then lets go of the old. The save, locking the old file, must
    // see that it is no longer the lock and wait for the new one, in vain.
    const fs::path lock = scratch_.path() / "ranking.lock";
    const int old = open(lock.c_str(), O_RDWR);
    ASSERT_EQ(flock(old, LOCK_EX), 0);
    const std::string counts = fileText(scratch_.path() / "dice_data.dat");
    const pid_t saver = fork();
    if (saver == 0) {
        close(old);  // else this process would keep the old file locked too
        g_rankingFaults.lockWaitMilliseconds = 1000;
        saveWin(5);
        _exit(screen() == "セーブ失敗\n" ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const fs::path replacement = scratch_.path() / "ranking.lock.new";
    const int held = open(replacement.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    fs::rename(replacement, lock);
    close(old);
    int status = -1;
    waitpid(saver, &status, 0);
    close(held);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(fileText(scratch_.path() / "dice_data.dat"), counts);
}

TEST_F(SharedFolder, ALinkToTheLockedFileIsNoLock) {
    // While a waiting game's lock is let go, ranking.lock becomes a link to that very file: the
    // game must take the lock afresh, at the file the next game will lock, not keep the file the
    // link leads to, which no longer keeps anyone out.
    const fs::path lock = scratch_.path() / "ranking.lock";
    int go[2];
    int told[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(told), 0);
    // The game starts before the lock's file is opened here, so that no copy of it is inherited.
    const pid_t holder = fork();
    if (holder == 0) {
        char started = 0;
        if (read(go[0], &started, 1) != 1) {
            _exit(1);
        }
        const StoreLock held(scratch_.path().string(), true);
        const char got = held.held() ? 'y' : 'n';
        if (write(told[1], &got, 1) == 1) {
            pause();  // holding it, until killed
        }
        _exit(1);
    }
    const int old = open(lock.c_str(), O_RDWR);
    ASSERT_EQ(flock(old, LOCK_EX), 0);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    // Once the game has the file open, it waits for its lock.
    const auto opened = [&] {
        std::error_code ignored;
        for (const auto& file :
             fs::directory_iterator("/proc/" + std::to_string(holder) + "/fd", ignored)) {
            if (fs::equivalent(file.path(), lock, ignored)) {
                return true;
            }
        }
        return false;
    };
    for (int waited = 0; !opened() && waited < 10000; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    fs::create_hard_link(lock, scratch_.path() / "elsewhere");
    fs::create_symlink("elsewhere", scratch_.path() / "ranking.lock.link");
    fs::rename(scratch_.path() / "ranking.lock.link", lock);
    close(old);
    char got = 0;
    ASSERT_EQ(read(told[0], &got, 1), 1);
    EXPECT_EQ(got, 'y');
    g_rankingFaults.lockWaitMilliseconds = 300;
    EXPECT_FALSE(StoreLock(scratch_.path().string(), true).held()) << "two games hold the lock";
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
}

TEST_F(SharedFolder, ASaveKilledAnywhereLeavesAWholePairAndTheNextSaveWorks) {
    const std::set<Entry> before = {{"c901", 901}, {"c902", 902}, {"c903", 903}};
    std::set<Entry> after = before;
    after.emplace("c100", 100);
    // At every file operation of one save in turn, also of one whose names cannot go into
    // place, so that it is undone; then at random moments of many saves.
    for (int step = 1; step <= 40; ++step) {
        SCOPED_TRACE("killed at step " + std::to_string(step % 20));
        const pid_t pid = fork();
        if (pid == 0) {
            g_rankingFaults.endAtStep = step % 20;
            g_rankingFaults.failRename = step > 20 ? 2 : 0;
            saveWin(100);
            _exit(0);
        }
        waitpid(pid, nullptr, 0);
        const auto shown = shownWins();
        ASSERT_TRUE(shown == before || shown == after) << ::testing::PrintToString(shown);
        EXPECT_EQ(storedWins(scratch_.path()), *shown);
        saveWin(4999);
        ASSERT_EQ(screen(), "セーブしました！\n");
        storeThreeWins();
    }
    std::mt19937 random(12);
    for (int kill = 0; kill < 100; ++kill) {
        const pid_t saver = startSaving(4900 - 40 * kill);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        ::kill(saver, SIGKILL);
        waitpid(saver, nullptr, 0);
        ASSERT_TRUE(shownWins().has_value()) << "kill " << kill;
        saveWin(4999);
        ASSERT_EQ(screen(), "セーブしました！\n") << "kill " << kill;
    }
}

}  // namespace
}  // namespace numoteka::testing
