#include "daily/replay_check.h"

#include <cstring>
#include <optional>

#include "console/console.h"
#include "console/cp932.h"
#include "core/primitives.h"
#include "daily/daily_game.h"
#include "daily/recording.h"
#include "records/ranking.h"

namespace numoteka {

namespace {

const DailyGame* g_replayed = nullptr;

// The day's game has ended once its end is known: the replay stops at the next line it would
// read, so what follows costs nothing and the recorded lines are the day's game exactly.
void stopAfterTheDaysGame(Wait wait, bool) {
    if (wait == Wait::KEYS && g_replayed->end) {
        throw InputEnded{};
    }
}

}  // namespace

ReplayCheck checkReplay(const Replay& replay) {
    if (replay.typed.size() > REPLAY_BYTE_LIMIT) {
        return {ReplayVerdict::TOO_LONG, {}};
    }
    setDelayPauseLength(0);
    // An answer "1" at the save prompt saves; no folder can exist inside a device file, so the
    // save fails without touching the disk.
    setRankingFolder("/dev/null/numoteka", false);
    attachMemoryTerminal("", TerminalEncoding::ShiftJis);
    replayInput(replay.typed);
    DailyGame daily;
    daily.day = replay.day;
    daily.replay = true;
    daily.practice = replay.practice;
    daily.rankingFound = replay.rankingFound;
    g_replayed = &daily;
    setWaitObserver(stopAfterTheDaysGame);
    runDailyGame(daily);
    setWaitObserver(nullptr);
    takeTerminalOutput();
    if (!daily.end) {
        return {ReplayVerdict::ENDS_EARLY, {}};
    }
    if (daily.end->outcome != Outcome::HUMAN_WON) {
        return {ReplayVerdict::NOT_WON, {}};
    }
    const std::string_view name(daily.name, strnlen(daily.name, sizeof daily.name));
    return {ReplayVerdict::WON,
            {replay.day, daily.end->difficulty, daily.end->turns,
             std::string(name.substr(0, wholeCharacters(name, name.size()))),
             encodeReplay({replay.seed, replay.day, std::string(recordedInput().value()),
                           replay.practice, replay.rankingFound}),
             recordedInputWithoutNames().value()}};
}

}  // namespace numoteka
