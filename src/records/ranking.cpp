#include "records/ranking.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "console/console.h"
#include "console/cp932.h"
#include "core/primitives.h"
#include "records/ranking_store.h"

namespace numoteka {

RankingFaults g_rankingFaults;

namespace {

// The folder of the files. One the user named, or the player's own, is made when a save first
// needs it; without the default System a save fails, as it always has.
std::string g_folder = "System";
bool g_createFolder = false;
bool g_ownFolder = false;
bool g_savesReplayed = false;
bool g_shownFromFiles = false;
std::optional<bool> g_replayedFilesThere;

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

std::string rankingPath(const char* file) {
    return storePath(g_folder, file);
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

// A file that is not a regular one, or that holds more than the game ever writes before its
// 30th line ends, is unreadable.
Store readLines(const std::string& path, FileLines& lines) {
    std::FILE* file = openStoreFile(path);
    if (file == nullptr) {
        return errno == ENOENT ? Store::MISSING : Store::UNREADABLE;
    }
    std::string line;
    size_t length = 0;  // bytes of the line, kept or not
    size_t total = 0;
    int byte = 0;
    // One byte beyond the limit is read, to tell a file of the limit's length from a longer one.
    while (lines.count < FILE_LINES && (byte = std::getc(file)) != EOF &&
           ++total <= STORE_FILE_LIMIT) {
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
    const bool readWell = std::ferror(file) == 0 && total <= STORE_FILE_LIMIT;
    std::fclose(file);
    return readWell ? Store::READ : Store::UNREADABLE;
}

// At most 12 bytes of a name, never half of a double-byte character.
void takeName(std::string_view text, char (&name)[sizeof RankingEntry::name]) {
    text = text.substr(0, text.find('\0'));
    const size_t length = wholeCharacters(text, NAME_LIMIT);
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

// Reads both files under the store's lock. A save that ended half way is put right first,
// which takes the lock for itself alone.
Store loadTablesLocked(RankingTables& tables) {
    {
        const StoreLock shared(g_folder, false);
        if (!shared.held()) {
            return Store::UNREADABLE;
        }
        if (!hasUnfinishedSave(g_folder)) {
            return loadTables(tables);
        }
    }
    const StoreLock alone(g_folder, true);
    if (!alone.held()) {
        return Store::UNREADABLE;
    }
    finishUnfinishedSaves(g_folder);
    return loadTables(tables);
}

// Makes the folder and its missing parents one by one, each closed to everyone but the player
// before anything is written into it.
void makeOwnFolder(const std::filesystem::path& folder) {
    std::filesystem::path made;
    std::error_code ignored;
    for (const std::filesystem::path& part : folder) {
        made /= part;
        if (std::filesystem::create_directory(made, ignored)) {
            std::filesystem::permissions(made, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, ignored);
        }
    }
}

}  // namespace

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

void setRankingFolder(std::string folder, bool createWhenSaving) {
    g_folder = std::move(folder);
    g_createFolder = createWhenSaving;
    g_ownFolder = false;
}

void setOwnRankingFolder(std::string folder) {
    g_folder = std::move(folder);
    g_createFolder = true;
    g_ownFolder = true;
}

const std::string& rankingFolder() {
    return g_folder;
}

void makeRankingFolder() {
    if (g_ownFolder) {
        makeOwnFolder(g_folder);
    } else if (g_createFolder) {
        std::error_code ignored;
        std::filesystem::create_directories(g_folder, ignored);
    }
}

void setSavesReplayed(bool replayed) {
    g_savesReplayed = replayed;
}

void forgetRankingShown() {
    g_shownFromFiles = false;
}

bool rankingShownFromFiles() {
    return g_shownFromFiles;
}

void replayRankingShows(std::optional<bool> filesThere) {
    g_replayedFilesThere = filesThere;
}

void showRanking() {
    RankingTables tables;
    for (RankingTable& table : tables) {
        table.fill(emptyEntry());
    }
    const bool read =
        g_replayedFilesThere ? *g_replayedFilesThere : loadTablesLocked(tables) == Store::READ;
    if (!read) {
        say("記録がないです\n");
        return;
    }
    g_shownFromFiles = true;
    unsigned char choice = 0;
    for (;;) {
        say("1.normal 2.easy 3.hard\n");
        choice = readChoice();
        if (choice >= '1' && choice <= '3') {
            break;
        }
        say("1～3を入力してください\n\n");
    }
    const int chosen = difficultyIndex(static_cast<Difficulty>(choice));
    say(TABLE_TITLES[chosen]);
    say("      名前\t\tターン数\n");
    for (int place = 0; place < RANKING_PLACES; ++place) {
        const RankingEntry& entry = tables[chosen][place];
        say("%2d位：%s\t\t%5d\n", place + 1, shownName(entry.name).c_str(), entry.turnCount);
    }
}

void saveRecord(Difficulty difficulty, int32_t turnCount) {
    const int played = difficultyIndex(difficulty);
    if (played < 0) {
        say("セーブ失敗\n");
        return;
    }
    if (g_savesReplayed) {
        // What a save here would say, but nothing is written: without the folder, unless it is
        // one that a save makes, a save fails.
        std::error_code ignored;
        if (g_createFolder || std::filesystem::is_directory(g_folder, ignored)) {
            say("セーブしました！\n");
        } else {
            say("セーブ失敗\n");
        }
        return;
    }
    // Should making the folder fail, so does taking the lock below.
    makeRankingFolder();
    // From reading the files to the last rename, no other save comes between.
    StoreLock alone(g_folder, true);
    if (!alone.held()) {
        say("セーブ失敗\n");
        return;
    }
    finishUnfinishedSaves(g_folder);
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
    if (!replacePair(g_folder, counts, names) || !alone.release()) {
        say("セーブ失敗\n");
        return;
    }
    say("セーブしました！\n");
}

}  // namespace numoteka
