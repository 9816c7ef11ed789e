#include "records/ranking.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "core/console.h"
#include "core/primitives.h"

namespace numoteka {

RankingFaults g_rankingFaults;

namespace {

#ifdef _WIN32
constexpr char PATH_SEPARATOR = '\\';
#else
constexpr char PATH_SEPARATOR = '/';
#endif

// The folder of the files. One the user named is made when a save first needs it; without the
// default System a save fails, as it always has.
std::string g_folder = "System";
bool g_createFolder = false;

constexpr const char* COUNTS_FILE = "dice_data.dat";
constexpr const char* NAMES_FILE = "name_data.dat";

// Both files hold the tables normal, easy, hard, one line per place.
constexpr int TABLE_COUNT = 3;
constexpr int FILE_LINES = TABLE_COUNT * RANKING_PLACES;
using RankingTables = std::array<RankingTable, TABLE_COUNT>;

constexpr size_t NAME_LIMIT = sizeof(RankingEntry::name) - 1;
// A line longer than this is no count, and no name keeps more of it.
constexpr size_t LINE_KEEP = 64;

constexpr Format<> TABLE_TITLES[TABLE_COUNT] = {
    "\nコンピュータ：マサル normal\n",
    "\nコンピュータ：ふにゃんこ丸 easy\n",
    "\nコンピュータ：魔王 hard\n",
};

// How many file writes and renames the current save has made, for the test faults.
struct SaveSteps {
    int writes = 0;
    int renames = 0;
};
SaveSteps g_saveSteps;

std::string rankingPath(const char* file) {
    return g_folder + PATH_SEPARATOR + file;
}

// What reading the pair of files came to. A missing file is no store yet; a file that is there
// but cannot be read holds rankings that a save must not write over.
enum class Store { READ, MISSING, UNREADABLE };

// The first lines of a file (at most 30): the LF and a CR before it are dropped; `cut` marks a
// line longer than what `text` keeps of it.
struct FileLines {
    std::string text[FILE_LINES];
    bool cut[FILE_LINES] = {};
    int count = 0;
};

void endLine(FileLines& lines, std::string& line, size_t length) {
    if (!line.empty() && line.back() == '\r' && line.size() == length) {
        line.pop_back();
        --length;
    }
    lines.cut[lines.count] = length > LINE_KEEP;
    if (line.size() > LINE_KEEP) {
        line.resize(LINE_KEEP);
    }
    lines.text[lines.count++] = std::move(line);
    line.clear();
}

Store readLines(const std::string& path, FileLines& lines) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return errno == ENOENT ? Store::MISSING : Store::UNREADABLE;
    }
    std::string line;
    size_t length = 0;  // bytes of the line, kept or not
    int byte = 0;
    while (lines.count < FILE_LINES && (byte = std::getc(file)) != EOF) {
        if (byte == '\n') {
            endLine(lines, line, length);
            length = 0;
            continue;
        }
        // One byte beyond the limit is kept, so that a CR there can still be told from text.
        if (line.size() <= LINE_KEEP) {
            line.push_back(static_cast<char>(byte));
        }
        ++length;
    }
    if (length > 0 && lines.count < FILE_LINES) {
        endLine(lines, line, length);  // a last line without its line end
    }
    const bool readWell = std::ferror(file) == 0;
    std::fclose(file);
    return readWell ? Store::READ : Store::UNREADABLE;
}

bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// At most 12 bytes of a name, never half of a double-byte character.
void takeName(std::string_view text, char (&name)[sizeof RankingEntry::name]) {
    text = text.substr(0, text.find('\0'));
    size_t length = 0;
    while (length < text.size()) {
        const bool pair =
            isLeadByte(static_cast<unsigned char>(text[length])) && length + 1 < text.size();
        const size_t width = pair ? 2 : 1;
        if (length + width > NAME_LIMIT) {
            break;
        }
        length += width;
    }
    std::memcpy(name, text.data(), length);
    name[length] = '\0';
}

bool isBlank(char byte) {
    return byte == ' ' || byte == '\t';
}

// A count line holds decimal digits, blanks around them allowed, below 10000. Else -1.
int32_t takeCount(std::string_view text, bool cut) {
    if (cut) {
        return -1;
    }
    size_t at = 0;
    while (at < text.size() && isBlank(text[at])) {
        ++at;
    }
    const size_t digitsStart = at;
    int32_t count = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (count < SELECTION_CEILING) {
            count = count * 10 + (text[at] - '0');
        }
    }
    const bool hasDigits = at > digitsStart;
    while (at < text.size() && isBlank(text[at])) {
        ++at;
    }
    if (!hasDigits || at < text.size() || count >= SELECTION_CEILING) {
        return -1;
    }
    return count;
}

RankingEntry emptyEntry() {
    RankingEntry entry{};
    entry.turnCount = EMPTY_ENTRY_TURNS;
    return entry;
}

// Reads both files, the turn counts first. A place whose line is missing from either file, or
// whose count line holds no count below 10000, is the empty entry. Unless both files are read,
// every place is empty: the pair counts as one store.
Store loadTables(RankingTables& tables) {
    for (RankingTable& table : tables) {
        table.fill(emptyEntry());
    }
    FileLines counts;
    FileLines names;
    Store store = readLines(rankingPath(COUNTS_FILE), counts);
    if (store == Store::READ) {
        store = readLines(rankingPath(NAMES_FILE), names);
    }
    if (store != Store::READ) {
        return store;
    }
    for (int line = 0; line < FILE_LINES && line < counts.count && line < names.count; ++line) {
        const int32_t count = takeCount(counts.text[line], counts.cut[line]);
        if (count < 0) {
            continue;
        }
        RankingEntry& entry = tables[line / RANKING_PLACES][line % RANKING_PLACES];
        entry.turnCount = count;
        takeName(names.text[line], entry.name);
    }
    return Store::READ;
}

// The name as stored, but with control bytes as "?" so that a file cannot drive the terminal.
std::string shownName(const char* name) {
    std::string shown(name);
    for (char& byte : shown) {
        const auto value = static_cast<unsigned char>(byte);
        if ((value < 0x20 && value != '\t') || value == 0x7F) {
            byte = '?';
        }
    }
    return shown;
}

// The table of the given index after the new entry: ten passes, each choosing the first
// candidate with the smallest count below the ceiling. Ties keep candidate order, and the
// new entry comes last, below stored entries of equal count.
RankingTable insertEntry(const RankingTable& table, const RankingEntry& newEntry) {
    RankingEntry candidates[RANKING_PLACES + 1];
    for (int i = 0; i < RANKING_PLACES; ++i) {
        candidates[i] = table[i];
    }
    candidates[RANKING_PLACES] = newEntry;
    RankingTable result;
    for (RankingEntry& place : result) {
        int32_t best = SELECTION_CEILING;
        int chosen = -1;
        for (int i = 0; i < RANKING_PLACES + 1; ++i) {
            if (candidates[i].turnCount < best) {
                best = candidates[i].turnCount;
                chosen = i;
            }
        }
        if (chosen < 0) {
            // Loaded counts are all below the ceiling, so this is only a guard.
            place = emptyEntry();
            continue;
        }
        place = candidates[chosen];
        candidates[chosen].turnCount = TAKEN_MARKER;
    }
    return result;
}

bool writeBytes(std::FILE* file, const char* bytes, size_t size) {
    if (++g_saveSteps.writes == g_rankingFaults.failWrite) {
        return false;
    }
    return std::fwrite(bytes, 1, size, file) == size;
}

// Flushes and closes a file written by the save, through to the disk.
bool finishFile(std::FILE* file) {
    bool done = std::fflush(file) == 0;
#ifdef _WIN32
    done = done && _commit(_fileno(file)) == 0;
#else
    done = done && fsync(fileno(file)) == 0;
#endif
    return std::fclose(file) == 0 && done;
}

// Writes a new file with `bytes`. On failure no file is left behind.
bool writeNewFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = writeBytes(file, bytes.data(), bytes.size());
    if (!finishFile(file) || !written) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

// Copies `from` to a new file `to`, byte for byte. A missing `from` is no failure: `existed`
// tells whether there was one. On failure no copy is left behind.
bool copyFile(const std::string& from, const std::string& to, bool& existed) {
    existed = false;
    std::FILE* source = std::fopen(from.c_str(), "rb");
    if (source == nullptr) {
        return errno == ENOENT;
    }
    existed = true;
    std::FILE* copy = std::fopen(to.c_str(), "wb");
    if (copy == nullptr) {
        std::fclose(source);
        return false;
    }
    bool copied = true;
    char buffer[4096];
    size_t size = 0;
    while (copied && (size = std::fread(buffer, 1, sizeof buffer, source)) > 0) {
        copied = writeBytes(copy, buffer, size);
    }
    copied = copied && std::ferror(source) == 0;
    std::fclose(source);
    if (!finishFile(copy) || !copied) {
        std::remove(to.c_str());
        return false;
    }
    return true;
}

// Puts `from` in the place of `to`, replacing it, in one step.
bool replaceFile(const std::string& from, const std::string& to) {
    if (++g_saveSteps.renames == g_rankingFaults.failRename) {
        return false;
    }
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Makes the renames in the folder durable; a failure here loses nothing already written.
void syncFolder() {
#ifndef _WIN32
    const int folder = open(g_folder.c_str(), O_RDONLY);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
#endif
}

// Replaces both files as a pair: both new files are written completely first, then renamed
// over the old ones. Should the second rename fail, the turn counts are put back from a copy
// of the old file, so that the pair is as it was. False on any failure, with the old files
// untouched.
bool storeFiles(const std::string& counts, const std::string& names) {
    const std::string countsPath = rankingPath(COUNTS_FILE);
    const std::string namesPath = rankingPath(NAMES_FILE);
    const std::string newCounts = countsPath + ".new";
    const std::string newNames = namesPath + ".new";
    const std::string oldCounts = countsPath + ".old";
    const auto removeAll = [&] {
        std::remove(newCounts.c_str());
        std::remove(newNames.c_str());
        std::remove(oldCounts.c_str());
    };
    bool hadCounts = false;
    if (!writeNewFile(newCounts, counts) || !writeNewFile(newNames, names) ||
        !copyFile(countsPath, oldCounts, hadCounts) || !replaceFile(newCounts, countsPath)) {
        removeAll();
        return false;
    }
    if (!replaceFile(newNames, namesPath)) {
        // Should putting the old counts back fail as well, their copy stays in the folder
        // (until the next save writes its own).
        if (hadCounts) {
            replaceFile(oldCounts, countsPath);
        } else {
            std::remove(countsPath.c_str());
        }
        std::remove(newNames.c_str());
        syncFolder();
        return false;
    }
    std::remove(oldCounts.c_str());
    syncFolder();
    return true;
}

}  // namespace

void setRankingFolder(std::string folder, bool createWhenSaving) {
    g_folder = std::move(folder);
    g_createFolder = createWhenSaving;
}

void showRanking() {
    RankingTables tables;
    if (loadTables(tables) != Store::READ) {
        say("記録がないです\n");
        return;
    }
    unsigned char choice = 0;
    for (;;) {
        say("1.normal 2.easy 3.hard\n");
        choice = readChoice();
        if (choice >= '1' && choice <= '3') {
            break;
        }
        say("1～3を入力してください\n\n");
    }
    const int chosen = choice - '1';
    say(TABLE_TITLES[chosen]);
    say("      名前\t\tターン数\n");
    for (int place = 0; place < RANKING_PLACES; ++place) {
        const RankingEntry& entry = tables[chosen][place];
        say("%2d位：%s\t\t%5d\n", place + 1, shownName(entry.name).c_str(), entry.turnCount);
    }
}

void saveRecord(Difficulty difficulty, int32_t turnCount) {
    g_saveSteps = SaveSteps{};
    const int played = difficulty - '1';
    if (played < 0 || played >= TABLE_COUNT) {
        say("セーブ失敗\n");
        return;
    }
    // Without the files the save starts from empty tables. Files that are there but cannot be
    // read hold rankings it cannot keep, so it writes nothing over them.
    RankingTables tables;
    if (loadTables(tables) == Store::UNREADABLE) {
        say("セーブ失敗\n");
        return;
    }
    RankingEntry newEntry{};
    takeName(g_players[PLAYER_HUMAN].name, newEntry.name);
    newEntry.turnCount = turnCount;
    tables[played] = insertEntry(tables[played], newEntry);

    std::string counts;
    std::string names;
    for (const RankingTable& table : tables) {
        for (const RankingEntry& entry : table) {
            counts += std::to_string(entry.turnCount) + "\r\n";
            names += std::string(entry.name) + "\r\n";
        }
    }
    if (g_createFolder) {
        // Should it fail, so does writing the files below.
        std::error_code ignored;
        std::filesystem::create_directories(g_folder, ignored);
    }
    if (!storeFiles(counts, names)) {
        say("セーブ失敗\n");
        return;
    }
    say("セーブしました！\n");
}

}  // namespace numoteka
