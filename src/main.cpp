#include "command_line.h"

int main(int argc, char** argv) {
    return numoteka::runProgram(argc, argv);
}
