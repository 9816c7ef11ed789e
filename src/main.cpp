#include <cstdint>
#include <ctime>

#include "core/console.h"
#include "core/game.h"

int main() {
    numoteka::attachTerminal(numoteka::encodingFromLocale());
    return numoteka::runGame(static_cast<uint32_t>(std::time(nullptr)));
}
