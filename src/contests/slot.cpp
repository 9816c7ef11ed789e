#include "contests/minigames.h"

namespace numoteka {

void playSlot(int /*player*/, Difficulty /*difficulty*/) {}

}  // namespace numoteka
