#include "replay_check.h"

#include <cstring>
#include <mutex>
#include <optional>

#include "console/console.h"
#include "console/cp932.h"
#include "core/game.h"
#include "core/primitives.h"
#include "records/ranking.h"

namespace numoteka::server {

namespace {

// The game keeps its state in globals: replays take turns.
std::mutex g_replayMutex;
const DailyGame* g_replayed = nullptr;

// The day's game has ended once its end is known: the replay stops at the next line it would
// read, so what follows costs nothing and the recorded lines are the day's game exactly.
void stopAfterTheDaysGame(Wait wait, bool) {
    if (wait == Wait::KEYS && g_replayed->end) {
        throw InputEnded{};
    }
}

}  // namespace

VerifiedWin verifyWin(const Replay& replay) {
    if (replay.typed.size() > REPLAY_BYTE_LIMIT) {
        refuse(422, "the replay is longer than any daily game");
    }
    const std::lock_guard lock(g_replayMutex);
    setDelayPauseLength(0);
    // An answer "1" at the save prompt saves; no folder can exist inside a device file, so the
    // save fails without touching the disk.
    setRankingFolder("/dev/null/numoteka", false);
    attachMemoryTerminal("", TerminalEncoding::ShiftJis);
    replayInput(replay.typed);
    DailyGame daily;
    daily.day = replay.day;
    g_replayed = &daily;
    setWaitObserver(stopAfterTheDaysGame);
    runGame(replay.seed, &daily);
    setWaitObserver(nullptr);
    takeTerminalOutput();
    if (!daily.end) {
        refuse(422, "the replay ends before the day's game does");
    }
    if (daily.end->outcome != Outcome::HUMAN_WON) {
        refuse(422, "the day's game in this replay is not won");
    }
    const std::string_view name(daily.name, strnlen(daily.name, sizeof daily.name));
    return {replay.day, daily.end->difficulty, daily.end->turns,
            std::string(name.substr(0, wholeCharacters(name, name.size()))),
            encodeReplay({replay.seed, replay.day, std::string(recordedInput().value())})};
}

std::string shownName(std::string_view cp932Name) {
    return fromCp932(numoteka::shownName(std::string(cp932Name).c_str()));
}

}  // namespace numoteka::server
