// The game from a seed given on the command line, with pauses shortened: tests use it to
// replay a game that the real program played from its clock.
#include <cstdint>
#include <cstdlib>

#include "core/console.h"
#include "core/game.h"
#include "core/primitives.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    numoteka::setDelayPauseLength(0);
    numoteka::attachTerminal(numoteka::encodingFromLocale());
    return numoteka::runGame(static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)));
}
