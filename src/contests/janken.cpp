#include "contests/minigames.h"

namespace numoteka {

void playJanken(int /*player*/, Difficulty /*difficulty*/) {}

}  // namespace numoteka
