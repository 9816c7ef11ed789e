// The game with its pauses shortened, same command line: tests play many whole games with it
// in the time the real pauses would take for one. NUMOTEKA_QUICK_END_AT_STEP=n ends it at its
// save's n-th file operation, as if it were killed there, for tests of what a save leaves.
#include <cstdlib>

#include "command_line.h"
#include "core/primitives.h"
#include "records/ranking.h"

int main(int argc, char** argv) {
    numoteka::setDelayPauseLength(0);
#ifdef NUMOTEKA_TEST_HOOKS
    if (const char* step = std::getenv("NUMOTEKA_QUICK_END_AT_STEP")) {
        numoteka::g_rankingFaults.endAtStep = std::atoi(step);
    }
#endif
    return numoteka::runProgram(argc, argv);
}
