// The program as `make install` and the Linux packages install it: started from anywhere, it
// keeps its ranking in the player's data folder unless a folder is named for it.
#include "command_line.h"
#include "records/data_folder.h"

int main(int argc, char** argv) {
    return numoteka::runProgram(argc, argv, numoteka::playerDataFolder());
}
