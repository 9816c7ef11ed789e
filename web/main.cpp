// The game in a web page: the program of src/main.cpp on a command line made by the page from
// its address: "--seed=N" for ?seed=N, "--daily" or "--daily=DATE" for ?daily, "--replay=CODE"
// for ?replay=CODE, at most one of them. A seed the command line would refuse is left out, and
// the clock seeds the game; a bad date or code ends the program with status 2. ?lang=en in the
// address adds "--lang=en".
// The rankings live in the browser's storage, in a folder mounted on IndexedDB. At every wait the
// page is handed the contestants' records and the round, whenever they changed, for its status
// panel.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "console/console.h"
#include "core/game.h"
#include "core/players.h"

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

// showStatus() of Module["terminal"], if the page has it: the round and both contestants' records,
// the human's first, their names in UTF-8.
EM_JS(void, numoteka_show_status, (int turn, const char* humanName, const char* computerName,
                                   const int* fields), {
    const terminal = Module["terminal"];
    if (terminal.showStatus) {
        const record = (name, at) => ({ name: UTF8ToString(name), hp: HEAP32[at], attack: HEAP32[at + 1],
                                        defense: HEAP32[at + 2], position: HEAP32[at + 3], restTurns: HEAP32[at + 4] });
        terminal.showStatus({ turn, players: [record(humanName, fields >> 2), record(computerName, (fields >> 2) + 5)] });
    }
});

// clang-format on

namespace {

// The folder of the two ranking files, and the name of its IndexedDB database.
constexpr const char* RANKING_FOLDER = "/numoteka";

// What the page was last shown.
struct ShownStatus {
    int32_t turn = -1;
    numoteka::PlayerRecord players[2] = {};
};
ShownStatus g_shown;

// Hands the page the records and the round when they changed since it was last shown them.
void showStatusIfChanged(numoteka::Wait /*wait*/, bool /*outputWaiting*/) {
    using numoteka::g_players;
    const int32_t turn = numoteka::currentTurnCount();
    if (turn == g_shown.turn && std::memcmp(g_players, g_shown.players, sizeof g_players) == 0) {
        return;
    }
    g_shown.turn = turn;
    std::memcpy(g_shown.players, g_players, sizeof g_players);
    int fields[10];
    for (int player = 0; player < 2; ++player) {
        const numoteka::PlayerRecord& record = g_players[player];
        const int32_t values[] = {record.hp, record.attack, record.defense, record.position,
                                  record.restTurns};
        std::memcpy(fields + 5 * player, values, sizeof values);
    }
    const std::string human = numoteka::fromCp932(g_players[numoteka::PLAYER_HUMAN].name);
    const std::string computer = numoteka::fromCp932(g_players[numoteka::PLAYER_COMPUTER].name);
    numoteka_show_status(turn, human.c_str(), computer.c_str(), fields);
}

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
    numoteka::setWaitObserver(showStatusIfChanged);
    const int status = numoteka::runProgram(static_cast<int>(words.size()), arguments.data());
    numoteka_program_ended(status);
    return status;
}
