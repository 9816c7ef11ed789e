// The game in a web page: the program of src/main.cpp on a command line made by the page from
// its address: "--seed=N" for ?seed=N, "--daily" or "--daily=DATE" for ?daily, "--replay=CODE"
// for ?replay=CODE, at most one of them. A seed the command line would refuse is left out, and
// the clock seeds the game; a bad date or code ends the program with status 2. ?lang=en in the
// address adds "--lang=en".
// The rankings live in the browser's storage, in a folder mounted on IndexedDB.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"

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

// Whether the page's address asks for the game in English: ?lang=en.
EM_JS(int, numoteka_address_asks_english, (), {
    return new URLSearchParams(location.search).get('lang') === 'en' ? 1 : 0;
});

// programEnded() of Module["terminal"], the object the page hands the game (web/game_terminal.js).
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
    if (numoteka_address_asks_english() != 0) {
        words.emplace_back("--lang=en");
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        uint32_t seed = 0;
        if (!word.starts_with("--seed=") || numoteka::parseSeed(word.substr(7), seed)) {
            words.emplace_back(word);
        }
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
