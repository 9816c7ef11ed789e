#include "contests/battle.h"

namespace numoteka {

void runBattle(Difficulty /*difficulty*/) {}

}  // namespace numoteka
