// The game in a web page: the program of src/main.cpp on a command line made by the page.
// The page passes the text of "seed" in its address (?seed=N), when there is one, as the one
// argument; a seed the command line would refuse is left out, and the clock seeds the game.
// The rankings live in the browser's storage, in a folder mounted on IndexedDB.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/command_line.h"

// The page's side, which clang-format leaves alone. Each body is one line to the compiler: no //
// comments in them.

// clang-format off

// Mounts the browser's storage at `folder`, which is made: it is kept in IndexedDB, in a database
// named after the folder, one record per file.
EM_JS(void, numoteka_mount_storage, (const char* folder), {
    const path = UTF8ToString(folder);
    FS.mkdir(path);
    FS.mount(IDBFS, {}, path);
});

// Tells the page that the program has ended with `status`.
EM_JS(void, numoteka_program_ended, (int status), {
    Module["terminal"].programEnded(status);
});

// clang-format on

namespace {

// The folder of the two ranking files, and the name of its IndexedDB database.
constexpr const char* RANKING_FOLDER = "/numoteka";

}  // namespace

int main(int argc, char** argv) {
    // The terminal of the page, xterm.js, speaks UTF-8.
    setenv("LANG", "C.UTF-8", 1);
    numoteka_mount_storage(RANKING_FOLDER);
    std::vector<std::string> words = {"numoteka", "--ranking-dir", RANKING_FOLDER};
    uint32_t seed = 0;
    if (argc > 1 && numoteka::parseSeed(argv[1], seed)) {
        words.insert(words.end(), {"--seed", argv[1]});
    }
    std::vector<char*> arguments;
    for (std::string& word : words) {
        arguments.push_back(word.data());
    }
    arguments.push_back(nullptr);
    const int status = numoteka::runProgram(static_cast<int>(words.size()), arguments.data());
    numoteka_program_ended(status);
    return status;
}
