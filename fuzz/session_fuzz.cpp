// Whole sessions from start-up on keys of any kind, in memory with the pauses shortened.
//
// Input: four bytes of seed (little-endian), a byte of flags (bit 0: a Shift_JIS terminal,
// else UTF-8; bits 1 and 2: the ranking folder at start-up, 0 missing, 1 empty, 2 a stored
// ranking, 3 the two files from the input, each as two bytes of length and its bytes), then
// the keys typed.
//
// Checked: whenever the game waits for a key, neither contestant stands before START, has
// turns of rest below zero, or hit points, attack or defense below zero; the session ends with
// the farewell, once, and runGame returns 0; a save never fails, and leaves both files well
// formed; without a save the files are as they were.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "console/console.h"
#include "core/game.h"
#include "core/players.h"
#include "core/primitives.h"
#include "fuzz_support.h"
#include "records/ranking.h"

namespace numoteka::fuzz {
namespace {

namespace fs = std::filesystem;

const std::string FAREWELL =
    "ゲームを終了します\n\n\n"
    "////////////////////////////////////////////////////////////////////////////\n\n\n";

void checkRecords() {
    for (int player : {PLAYER_HUMAN, PLAYER_COMPUTER}) {
        const PlayerRecord& record = g_players[player];
        if (record.position < 0 || record.restTurns < 0 || record.hp < 0 || record.attack < 0 ||
            record.defense < 0) {
            fail("player " + std::to_string(player) + " at a read: position " +
                 std::to_string(record.position) + ", rest " + std::to_string(record.restTurns) +
                 ", hp " + std::to_string(record.hp) + ", attack " + std::to_string(record.attack) +
                 ", defense " + std::to_string(record.defense));
        }
    }
}

// A ranking as a save leaves it: normal holds two wins, easy a full table, hard none.
void storeRanking(const fs::path& folder) {
    const std::string easyCounts[] = {"3", "4", "4", "8", "10", "11", "20", "21", "30", "9999"};
    const std::string easyNames[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "テスト"};
    std::string counts = "9\r\n15\r\n";
    std::string names = toCp932("はなこ") + "\r\nBob\r\n";
    for (int place = 0; place < 8; ++place) {
        counts += "5000\r\n";
        names += "\r\n";
    }
    for (int place = 0; place < 10; ++place) {
        counts += easyCounts[place] + "\r\n";
        names += toCp932(easyNames[place]) + "\r\n";
    }
    for (int place = 0; place < 10; ++place) {
        counts += "5000\r\n";
        names += "\r\n";
    }
    writeFile(folder / "dice_data.dat", counts);
    writeFile(folder / "name_data.dat", names);
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    while (const void* found =
               memmem(at, static_cast<size_t>(end - at), part.data(), part.size())) {
        at = static_cast<const char*>(found) + part.size();
        ++count;
    }
    return count;
}

}  // namespace

void runCase(const uint8_t* data, size_t size) {
    InputReader input(data, size);
    uint32_t seed = input.twoBytes();
    seed |= static_cast<uint32_t>(input.twoBytes()) << 16;
    const uint8_t flags = input.byte();
    const TerminalEncoding encoding =
        flags % 2 == 1 ? TerminalEncoding::ShiftJis : TerminalEncoding::Utf8;

    const fs::path folder = scratchFolder() / "ranking";
    setRankingFolder(folder.string(), true);
    fs::remove_all(folder);
    const int start = flags / 2 % 4;
    if (start > 0) {
        fs::create_directory(folder);
    }
    if (start == 2) {
        storeRanking(folder);
    } else if (start == 3) {
        writeFile(folder / "dice_data.dat", input.bytes(input.twoBytes()));
        writeFile(folder / "name_data.dat", input.bytes(input.twoBytes()));
    }
    const bool existed = fs::exists(folder);
    const std::string before = folderState(folder);

    setDelayPauseLength(0);
    attachMemoryTerminal(input.rest(), encoding);
    setReadObserver(checkRecords);
    const int status = runGame(seed);
    setReadObserver(nullptr);
    const std::string shown = takeTerminalOutput();

    const auto inTerminal = [encoding](const std::string& text) {
        return encoding == TerminalEncoding::ShiftJis ? toCp932(text) : text;
    };
    if (status != 0) {
        fail("runGame returned " + std::to_string(status));
    }
    const std::string farewell = inTerminal(FAREWELL);
    if (!shown.ends_with(farewell) || countOf(shown, farewell) != 1) {
        fail("the session did not end with one farewell");
    }
    // A save answers right after its prompt, which no name can imitate: names hold no line
    // feed.
    const std::string prompt = "今回のデータをセーブしますか？　1.セーブする　2.しない\n";
    if (countOf(shown, inTerminal(prompt + "セーブ失敗\n")) != 0) {
        fail("a save failed");
    }
    if (countOf(shown, inTerminal(prompt + "セーブしました！\n")) != 0) {
        checkWrittenRanking(folder);
    } else if (fs::exists(folder) != existed || folderState(folder) != before) {
        fail("the ranking folder changed without a save");
    }
}

}  // namespace numoteka::fuzz
