#include "board/squares.h"

namespace numoteka {

void runSquareEvent(int /*player*/, Difficulty /*difficulty*/) {}

}  // namespace numoteka
