// The program's command line: options in the GNU style, read before the game starts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace numoteka {

// A seed as the user writes it: decimal digits only (no sign, blank or "0x"), 0 to 4294967295.
// Leaves `seed` alone and returns false for anything else.
bool parseSeed(std::string_view text, uint32_t& seed);

// Reads the command line, then answers --help or --version, or plays the game on the terminal.
// Unless the command line or NUMOTEKA_RANKING_DIR names a folder, the ranking is kept in
// `ownFolder`, the player's own (made private at the first save); without one, in System below
// the working directory. Returns the exit status: 2 for a command line it cannot use.
int runProgram(int argc, char** argv, const std::string& ownFolder = {});

}  // namespace numoteka
