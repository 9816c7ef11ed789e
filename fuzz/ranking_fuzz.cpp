// The ranking files as a disk may hold them: shown, saved into, shown again and saved again.
//
// Input: the difficulty, two bytes of turn count, the layout of the folder, the faults of the
// first save, the length (at most 10) and bytes of the human's name, two bytes giving the
// length of the turn-count file, its bytes, and the rest as the names file.
//
// Checked: the display shows the three tables whole and never a control byte; a save either
// says it failed (only when a fault is injected or a folder stands in for a file) and leaves
// the files exactly as they were, or writes both files well formed,
// with the played table being the one shown plus the new win by the fewest-turns rule and the
// other two as shown; what it wrote shows back the same; and saving a win that cannot enter
// writes the same bytes again.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "core/players.h"
#include "fuzz_support.h"
#include "records/ranking.h"

namespace numoteka::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr int TABLES = 3;
constexpr int WONT_ENTER = 10000;  // a turn count no table takes

using Table = std::vector<Entry>;
using Tables = std::array<Table, TABLES>;

const char* const TITLES[TABLES] = {
    "\nコンピュータ：マサル normal\n",
    "\nコンピュータ：ふにゃんこ丸 easy\n",
    "\nコンピュータ：魔王 hard\n",
};

Tables emptyTables() {
    Tables tables;
    tables.fill(Table(RANKING_PLACES, Entry{"", EMPTY_ENTRY_TURNS}));
    return tables;
}

// Shows one table on a terminal of `encoding`, choosing it with its key and Enter.
std::string show(int table, TerminalEncoding encoding) {
    attachMemoryTerminal(std::string{static_cast<char>('1' + table), '\n'}, encoding);
    showRanking();
    const std::string shown = takeTerminalOutput();
    bool keysLeft = true;
    try {
        readByte();
    } catch (const InputEnded&) {
        keysLeft = false;
    }
    const std::string noRecord = "記録がないです\n";
    if (keysLeft !=
        (shown == (encoding == TerminalEncoding::Utf8 ? noRecord : toCp932(noRecord)))) {
        fail("the display read a key too many or too few");
    }
    for (const char byte : shown) {
        if (isControl(static_cast<unsigned char>(byte))) {
            fail("the display wrote the control byte " + std::to_string(byte & 0xFF));
        }
    }
    return shown;
}

// The ten rows of a table as shown on a Shift_JIS terminal, or nothing when there is no record.
std::optional<Table> parseShown(const std::string& shown, int table) {
    if (shown == toCp932("記録がないです\n")) {
        return std::nullopt;
    }
    const std::string head = toCp932("1.normal 2.easy 3.hard\n") + toCp932(TITLES[table]) +
                             toCp932("      名前\t\tターン数\n");
    if (!shown.starts_with(head)) {
        fail("table " + std::to_string(table) + " shown with another heading");
    }
    Table rows;
    size_t at = head.size();
    for (int place = 1; place <= RANKING_PLACES; ++place) {
        const size_t end = shown.find('\n', at);
        const std::string row = shown.substr(at, end - at);
        const std::string start = (place < 10 ? " " : "") + std::to_string(place) + toCp932("位：");
        // The row ends in two tabs and the count right-aligned in five columns.
        const size_t tail = row.size() - 7;
        if (end == std::string::npos || !row.starts_with(start) || row.size() < start.size() + 7 ||
            row.compare(tail, 2, "\t\t") != 0) {
            fail("table " + std::to_string(table) + " row " + std::to_string(place) + ": \"" + row +
                 "\"");
        }
        const std::string count = row.substr(tail + 2);
        const size_t digits = count.find_first_not_of(' ');
        if (digits == std::string::npos ||
            count.find_first_not_of("0123456789", digits) != std::string::npos) {
            fail("table " + std::to_string(table) + " row " + std::to_string(place) + " count \"" +
                 count + "\"");
        }
        rows.push_back({row.substr(start.size(), tail - start.size()), std::stoi(count)});
        at = end + 1;
    }
    if (at != shown.size()) {
        fail("table " + std::to_string(table) + " shown with more after its rows");
    }
    return rows;
}

// All three tables as shown: in both encodings, which must show the same text.
std::optional<Tables> showAll() {
    Tables tables;
    bool record = false;
    for (int table = 0; table < TABLES; ++table) {
        const std::string shown = show(table, TerminalEncoding::ShiftJis);
        if (show(table, TerminalEncoding::Utf8) != fromCp932(shown)) {
            fail("table " + std::to_string(table) + " shown differently on a UTF-8 terminal");
        }
        const std::optional<Table> rows = parseShown(shown, table);
        if (table > 0 && rows.has_value() != record) {
            fail("some tables shown, others not");
        }
        record = rows.has_value();
        tables[table] = rows.value_or(Table{});
    }
    return record ? std::optional<Tables>(tables) : std::nullopt;
}

// A name as shown is the name as stored, save that control bytes show as something else.
bool shownAlike(const std::string& shown, const std::string& stored) {
    if (shown.size() != stored.size()) {
        return false;
    }
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto storedByte = static_cast<unsigned char>(stored[i]);
        if (isControl(storedByte) ? isControl(static_cast<unsigned char>(shown[i]))
                                  : shown[i] != stored[i]) {
            return false;
        }
    }
    return true;
}

// Tables as shown (or as they should show) against the tables stored in the files.
void expectShown(const Tables& shown, const Tables& stored, const char* what) {
    for (int table = 0; table < TABLES; ++table) {
        for (int place = 0; place < RANKING_PLACES; ++place) {
            const Entry& got = shown[table][place];
            const Entry& file = stored[table][place];
            if (got.count != file.count || !shownAlike(got.name, file.name)) {
                fail(std::string(what) + ": table " + std::to_string(table) + " place " +
                     std::to_string(place + 1) + " shows " + std::to_string(got.count) + " \"" +
                     got.name + "\", the files hold " + std::to_string(file.count) + " \"" +
                     file.name + "\"");
            }
        }
    }
}

// The folder as the input lays it out. Each file is missing, written, or a folder in its
// place (which cannot be read as a file, nor replaced by one); or the ranking folder itself
// is missing. Returns whether a folder stands in for a file.
bool layOut(const fs::path& folder, uint8_t layout, const std::string& counts,
            const std::string& names) {
    fs::remove_all(folder);
    if (layout / 9 % 2 == 1) {
        return false;
    }
    fs::create_directory(folder);
    const std::pair<const char*, const std::string*> files[] = {{"dice_data.dat", &counts},
                                                                {"name_data.dat", &names}};
    int kind = layout % 9;
    bool folderForFile = false;
    for (const auto& [file, bytes] : files) {
        if (kind % 3 == 1) {
            writeFile(folder / file, *bytes);
        } else if (kind % 3 == 2) {
            fs::create_directory(folder / file);
            folderForFile = true;
        }
        kind /= 3;
    }
    return folderForFile;
}

std::string save(Difficulty difficulty, int32_t turnCount) {
    attachMemoryTerminal("", TerminalEncoding::ShiftJis);
    saveRecord(difficulty, turnCount);
    return takeTerminalOutput();
}

}  // namespace

void runCase(const uint8_t* data, size_t size) {
    InputReader input(data, size);
    const Difficulty difficulty = static_cast<Difficulty>('1' + input.byte() % TABLES);
    const int32_t turnCount = 1 + input.twoBytes();
    const uint8_t layout = input.byte();
    const uint8_t faults = input.byte();
    // A name as the game takes it: at most 10 bytes up to the line end (a NUL ends it too),
    // "名無し" for none.
    std::string name = input.bytes(input.byte() % 11);
    name = name.substr(0, name.find_first_of(std::string("\n\0", 2)));
    if (name.empty()) {
        name = toCp932("名無し");
    }
    const std::string counts = input.bytes(input.twoBytes());
    const std::string names = input.rest();

    const fs::path folder = scratchFolder() / "ranking";
    setRankingFolder(folder.string(), true);
    const bool folderForFile = layOut(folder, layout, counts, names);
    const std::string before = folderState(folder);
    const Tables loaded = showAll().value_or(emptyTables());

    std::memcpy(g_players[PLAYER_HUMAN].name, name.c_str(), name.size() + 1);
    g_rankingFaults = {faults % 6, faults / 6 % 3};
    const bool hindered =
        folderForFile || g_rankingFaults.failWrite != 0 || g_rankingFaults.failRename != 0;
    const std::string said = save(difficulty, turnCount);
    g_rankingFaults = {};
    if (said == toCp932("セーブ失敗\n")) {
        if (!hindered) {
            fail("a save failed with nothing in its way");
        }
        if (folderState(folder) != before) {
            fail("a failed save changed the files");
        }
        return;
    }
    if (said != toCp932("セーブしました！\n")) {
        fail("the save said \"" + said + "\"");
    }
    const std::vector<Entry> written = checkWrittenRanking(folder);
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string file = item.path().filename().string();
        if (file != "dice_data.dat" && file != "name_data.dat" && file != STORE_LOCK) {
            fail("the save left " + file + " behind");
        }
    }

    // The played table: the eleven candidates sorted by count, ties in order with the new
    // win last, cut to ten. A win of 10000 turns or more is no candidate.
    Tables expected = loaded;
    Table& played = expected[difficulty - '1'];
    if (turnCount < WONT_ENTER) {
        // The name's whole characters, as they should show: any byte but a control one
        // where the name has one.
        std::string shownName = name.substr(0, name.size() - (endsInHalfCharacter(name) ? 1 : 0));
        std::replace_if(
            shownName.begin(), shownName.end(),
            [](char byte) { return isControl(static_cast<unsigned char>(byte)); }, '?');
        played.push_back({shownName, turnCount});
    }
    std::stable_sort(played.begin(), played.end(),
                     [](const Entry& a, const Entry& b) { return a.count < b.count; });
    played.resize(RANKING_PLACES);
    Tables inFiles;
    for (int line = 0; line < TABLES * RANKING_PLACES; ++line) {
        inFiles[line / RANKING_PLACES].push_back(written[line]);
    }
    expectShown(expected, inFiles, "the files written");

    const std::optional<Tables> shownAfter = showAll();
    if (!shownAfter) {
        fail("nothing shown after a save");
    }
    expectShown(*shownAfter, inFiles, "shown after the save");

    const std::string saved = folderState(folder);
    if (save(difficulty, WONT_ENTER) != toCp932("セーブしました！\n") ||
        folderState(folder) != saved) {
        fail("saving a win that cannot enter changed the files");
    }
}

}  // namespace numoteka::fuzz
