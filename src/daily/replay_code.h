// A replay code: a daily game's seed and day and every byte the player typed, in a short text
// to share and to put in an address (base64url). One byte of version and a CRC-32 guard it.
//
// The bytes: the version (1), the seed (4 bytes, little-endian), the day (2 bytes), the lines
// typed, then the CRC-32 of all before it (4 bytes). The lines are tokens: a byte of kind (high
// 3 bits) and count (low 5 bits). Kinds 0 to 3 are runs of 1 to 32 lines that are "\n", "1\n",
// "2\n" or "3\n", nearly all a game reads; kind 4 is a run of the last line of kind 7 again;
// kind 5 is 0 to 31 lines "\n" and then one "1\n", the keys of a usual round; kind 7 is one line
// of other bytes, its length in the low bits (31: a LEB128 number of the bytes beyond 31
// follows) and then its bytes as typed. Kind 6 marks, after the lines and each at most once in
// this order: low bits 2, the player's ranking was there when the game showed it (so the game
// asked which table); low bits 1, a practice game: not the day's official game of the player
// who played it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "daily/day.h"
#include "daily/recording.h"

namespace numoteka {

struct Replay {
    uint32_t seed = 0;
    Day day = 0;
    std::string typed;          // code page 932 bytes, as the game read them
    bool practice = false;      // marked as a practice game
    bool rankingFound = false;  // the ranking was shown from the player's files
};

// The longest code that is read, and the most bytes typed it may stand for.
inline constexpr size_t REPLAY_CODE_LIMIT = 64 * 1024;
inline constexpr size_t REPLAY_TYPED_LIMIT = RECORDING_LIMIT;

std::string encodeReplay(const Replay& replay);

// The tokens of typed lines, and the lines of tokens: nothing for tokens the encoder never writes
// or that stand for more than the limit. The parts of a code between its header and checksum.
// The marks at the end set `practice` and `rankingFound`, when given.
std::string lineTokens(std::string_view typed);
std::optional<std::string> tokenLines(std::string_view tokens, bool* practice = nullptr,
                                      bool* rankingFound = nullptr);

// The replay a code stands for; nothing for a code that is cut, changed, too long, of another
// version, or whose seed is not its day's.
std::optional<Replay> decodeReplay(std::string_view code);

}  // namespace numoteka
