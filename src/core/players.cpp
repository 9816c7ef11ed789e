#include "core/players.h"

namespace numoteka {

PlayerRecord g_players[2] = {};

}  // namespace numoteka
