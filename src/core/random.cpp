#include "core/random.h"

namespace numoteka {

namespace {
uint32_t g_randomState = 0;
}

void seedRandom(uint32_t seed) {
    g_randomState = seed;
}

int rand() {
    g_randomState = g_randomState * 214013u + 2531011u;
    return static_cast<int>((g_randomState >> 16) & 0x7FFFu);
}

int rollDie() {
    return rand() % 6 + 1;
}

}  // namespace numoteka
