// How fast the game runs: the length of its busy pause, whole games with the pauses shortened,
// the console layer's conversions, and the world ranking server's replays of daily games.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "console/console.h"
#include "core/game.h"
#include "core/primitives.h"
#include "daily/replay_check.h"
#include "records/ranking.h"

namespace {

using namespace numoteka;
namespace fs = std::filesystem;

// The game's own pause: 10,000,000 counts.
constexpr double SHIPPED_PAUSE = 10000000.0;

// Set when a benchmark found the game misbehaving; the run then exits with status 1.
bool g_failed = false;

void BM_DelayPause(benchmark::State& state) {
    setDelayPauseLength(SHIPPED_PAUSE);
    for (auto _ : state) {
        delayPause();
    }
}
BENCHMARK(BM_DelayPause)->Unit(benchmark::kMillisecond);

// Start-up and one whole game on normal, pauses shortened, each iteration on its own seed.
// Every key is "1": it rolls the die and takes the first answer of every menu, the save of a
// win included (which finds no System folder here); then the next game's name line takes the
// rest of the keys and the input ends.
void BM_FullGame(benchmark::State& state) {
    setDelayPauseLength(0);
    const std::string keys = "1\nbench\n1\n" + std::string(20000, '1');
    const std::string ending = toCp932("の勝利！！！");
    uint32_t seed = 0;
    size_t shownBytes = 0;
    for (auto _ : state) {
        attachMemoryTerminal(keys, TerminalEncoding::ShiftJis);
        runGame(++seed);
        const std::string shown = takeTerminalOutput();
        shownBytes += shown.size();
        // Exactly one game came to its end.
        const void* first = memmem(shown.data(), shown.size(), ending.data(), ending.size());
        const char* after = first == nullptr ? nullptr : static_cast<const char*>(first) + 1;
        if (first == nullptr ||
            memmem(after, shown.size() - static_cast<size_t>(after - shown.data()), ending.data(),
                   ending.size()) != nullptr) {
            state.SkipWithError("a session did not play exactly one game to its end");
            g_failed = true;
            break;
        }
    }
    setDelayPauseLength(SHIPPED_PAUSE);
    state.counters["games"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["shown_bytes_per_game"] =
        static_cast<double>(shownBytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FullGame)->Unit(benchmark::kMillisecond);

// One won game saved into a ranking that holds a few wins, as a player's save goes: both files
// read, written anew in full and put into place, each made durable on the disk. Wall time, as
// the disk's waits are no CPU time.
void BM_Save(benchmark::State& state) {
    fs::create_directory("System");
    attachMemoryTerminal("", TerminalEncoding::ShiftJis);
    std::strcpy(g_players[PLAYER_HUMAN].name, "bench");
    for (auto _ : state) {
        saveRecord('1', 100);
        if (takeTerminalOutput() != toCp932("セーブしました！\n")) {
            state.SkipWithError("a save failed");
            g_failed = true;
            break;
        }
    }
    fs::remove_all("System");
}
BENCHMARK(BM_Save)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Texts of the game, repeated to 64 KiB.
std::string gameText() {
    const std::string piece =
        " [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n"
        "\n\n―*ステータス*―\n\t名前：\t\tたろう\n\tＨＰ：\t\t500\n\t攻撃力：\t100\n"
        "ダイスを振る！！（Enter）--->\n\t6!!\n\n>>1.ダイスを振る　2.ステータスを見る "
        "3.あきらめる\n";
    std::string text;
    while (text.size() < 65536) {
        text += piece;
    }
    return text;
}

void BM_ToCp932(benchmark::State& state) {
    const std::string utf8 = gameText();
    for (auto _ : state) {
        benchmark::DoNotOptimize(toCp932(utf8));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(utf8.size()));
}
BENCHMARK(BM_ToCp932);

void BM_FromCp932(benchmark::State& state) {
    const std::string cp932 = toCp932(gameText());
    for (auto _ : state) {
        benchmark::DoNotOptimize(fromCp932(cp932));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(cp932.size()));
}
BENCHMARK(BM_FromCp932);

// One status block through say(), as the game writes it; bytes are those that reach the
// terminal. Argument 0: a UTF-8 terminal (converted twice), 1: a Shift_JIS one.
void BM_Say(benchmark::State& state) {
    const TerminalEncoding encoding =
        state.range(0) == 0 ? TerminalEncoding::Utf8 : TerminalEncoding::ShiftJis;
    attachMemoryTerminal("", encoding);
    const std::string name = toCp932("たろう");
    int64_t bytes = 0;
    for (auto _ : state) {
        say("\n\n―*ステータス*―\n\t名前：\t\t%s\n\tＨＰ：\t\t%d\n\t攻撃力：\t%d\n\t防御力：\t%"
            "d\n\n",
            name.c_str(), 500, 100, 50);
        bytes += static_cast<int64_t>(takeTerminalOutput().size());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Say)->Arg(0)->Arg(1);

}  // namespace

// The server's check of a submitted win: a daily game won on normal as a person plays it (Enter at
// every ">>", a random choice in the mini-games; 2026-04-04, 12 turns, 356 lines), replayed from
// its code through the game in memory.
void BM_VerifyReplay(benchmark::State& state) {
    const Replay replay =
        decodeReplay("AV00sAR2JaDngr2C64KkCqCivR-mHx-gv6SgYKC4H6i7vx-qpjpDATc").value();
    for (auto _ : state) {
        const ReplayCheck check = checkReplay(replay);
        if (check.verdict != ReplayVerdict::WON || check.win.turns != 12) {
            state.SkipWithError("the day's game did not replay as it was won");
            g_failed = true;
            break;
        }
    }
    state.counters["replays"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VerifyReplay)->Unit(benchmark::kMicrosecond);

// The longest replay the server plays: 16 KiB of lines that keep the menu busy ("3" shows the
// ranking, which finds no folder) and never start the day's game; refused at their end.
void BM_VerifyLongestReplay(benchmark::State& state) {
    const Day day = parseDay("2026-04-04").value();
    std::string typed;
    while (typed.size() < REPLAY_BYTE_LIMIT) {
        typed += "3\n";
    }
    const Replay replay{dailySeed(day), day, typed};
    for (auto _ : state) {
        if (checkReplay(replay).verdict != ReplayVerdict::ENDS_EARLY) {
            state.SkipWithError("a replay without a game was taken for a win");
            g_failed = true;
            break;
        }
    }
}
BENCHMARK(BM_VerifyLongestReplay)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // The pause is the counting itself: a build that optimised it away has no pause at all.
    setDelayPauseLength(SHIPPED_PAUSE);
    const auto start = std::chrono::steady_clock::now();
    delayPause();
    const double pauseMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (pauseMs < 1.0) {
        std::fprintf(stderr, "numoteka_bench: delayPause took %.3f ms: it does not count\n",
                     pauseMs);
        return 1;
    }

    // The games save their wins; they must not reach the ranking of the folder this runs in.
    // Without a System folder the save fails at once, writing nothing.
    const fs::path previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "numoteka_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    fs::current_path(folder);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    fs::current_path(previous);
    fs::remove_all(folder);
    return g_failed ? 1 : 0;
}
