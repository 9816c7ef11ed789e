// Where an installed game keeps its ranking when no folder is named for it: the player's data
// folder, as the desktop's conventions place a game's data.
#pragma once

#include <string>

namespace numoteka {

// $XDG_DATA_HOME/numoteka, or ~/.local/share/numoteka when that variable is unset, empty or not
// an absolute path; empty when the player has no home.
std::string playerDataFolder();

}  // namespace numoteka
