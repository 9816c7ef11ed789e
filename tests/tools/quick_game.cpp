// The game with its pauses shortened, same command line: tests play many whole games with it
// in the time the real pauses would take for one.
#include "core/command_line.h"
#include "core/primitives.h"

int main(int argc, char** argv) {
    numoteka::setDelayPauseLength(0);
    return numoteka::runProgram(argc, argv);
}
