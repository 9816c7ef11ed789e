// The best ten wins per difficulty, kept in two files in the folder System (or one the user
// names, or the player's own data folder).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/players.h"

namespace numoteka {

// One place of a table.
struct RankingEntry {
    char name[13];  // code page 932 text, at most 12 bytes, NUL-terminated; empty for no win
    int32_t turnCount;
};

inline constexpr int RANKING_PLACES = 10;

// Place 1 first, ascending by turn count.
using RankingTable = std::array<RankingEntry, RANKING_PLACES>;

// The turn count of a place that no win has filled yet (its name is empty).
inline constexpr int32_t EMPTY_ENTRY_TURNS = 5000;
// The save only ever chooses a candidate whose count is below this.
inline constexpr int32_t SELECTION_CEILING = 10000;
// The count a candidate gets once the save has chosen it.
inline constexpr int32_t TAKEN_MARKER = 100000;

// The folder of the two files, "System" below the working directory until set. With
// `createWhenSaving` a save makes the folder, with its parents, when it is missing; without it
// a missing folder fails the save. Showing a table never makes it.
void setRankingFolder(std::string folder, bool createWhenSaving);

// The player's own folder of the files: a save makes it, with its missing parents, each for the
// player alone (mode 0700), as the usual data folders of a home are made.
void setOwnRankingFolder(std::string folder);

// The folder of the files, where the daily game keeps its play log beside them.
const std::string& rankingFolder();

// Makes the folder, as a save does before it writes, when the folder is one to be made (named by
// the user, or the player's own).
void makeRankingFolder();

// While a replay plays, a save writes nothing, not even the folder, and says what a save would
// say here: "セーブしました！", or "セーブ失敗" without the folder (unless it is one that a save
// makes). Showing a table reads the files as ever.
void setSavesReplayed(bool replayed);

// A name as stored, but with control bytes as "?" so that a name cannot drive a terminal.
std::string shownName(const char* name);

// Shows the table of a difficulty the user chooses.
void showRanking();

// Whether a table was shown from the files since forgetRankingShown(): with them the user is
// asked which table, without them not, so a replay of the run must know to read the same keys.
void forgetRankingShown();
bool rankingShownFromFiles();

// While a replay plays, showing a table reads no file: it goes as the recorded run's did, asking
// which table when that run's files were there (`filesThere`, the table shown with its places
// empty, for the code does not carry them) and saying there is no record when not. Nothing
// (std::nullopt) returns to reading the files.
void replayRankingShows(std::optional<bool> filesThere);

// Enters a won game under the human's name into the table of its difficulty.
void saveRecord(Difficulty difficulty, int32_t turnCount);

// For tests: the save treats its n-th file write or its n-th rename (counted from 1 within
// each save) as failed; 0 fails none. `endAtStep` ends the process at the save's n-th file
// operation, as if it had been killed there. The lock is waited for `lockWaitMilliseconds`.
struct RankingFaults {
    int failWrite = 0;
    int failRename = 0;
    int endAtStep = 0;
    int lockWaitMilliseconds = 10000;
};
extern RankingFaults g_rankingFaults;

}  // namespace numoteka
