#include "records/ranking_store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string_view>

#include "records/ranking.h"
#include "records/store_platform.h"

namespace numoteka {

namespace {

// A save's temporary files are named after the file they stand for, the save's own id (16 hex
// digits) and their part: "<file>.<id>.new" for each new file; for the old turn counts, a copy
// "dice_data.dat.<id>.old", or "dice_data.dat.<id>.none" when there were none; and
// "name_data.dat.<id>.undone", the new names set aside when the save has to be undone.
constexpr size_t ID_DIGITS = 16;
constexpr const char* NEW_SUFFIX = ".new";
constexpr const char* OLD_SUFFIX = ".old";
constexpr const char* NONE_SUFFIX = ".none";
constexpr const char* UNDONE_SUFFIX = ".undone";
constexpr const char* DAMAGED_SUFFIX = ".damaged";

// How many file operations the current save has made, for the test faults.
struct SaveSteps {
    int writes = 0;
    int renames = 0;
    int all = 0;
};
SaveSteps g_saveSteps;

// Every file operation of a save is a step; a test may end the process at one, as if killed,
// or fail its n-th write or rename. Only test builds have these faults.
void step() {
#ifdef NUMOTEKA_TEST_HOOKS
    if (++g_saveSteps.all == g_rankingFaults.endAtStep) {
        std::_Exit(137);
    }
#endif
}

bool failedForTest([[maybe_unused]] int& count, [[maybe_unused]] int failAt) {
#ifdef NUMOTEKA_TEST_HOOKS
    return ++count == failAt;
#else
    return false;
#endif
}

std::string newSaveId() {
    static std::random_device device;
    static std::mt19937_64 random(
        (uint64_t{device()} << 32) ^ device() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char id[ID_DIGITS + 1];
    std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(random()));
    return id;
}

std::string temporaryPath(const std::string& folder, const char* file, const std::string& id,
                          const char* suffix) {
    return storePath(folder, file) + "." + id + suffix;
}

// createNewFile() as a step of a save.
std::FILE* createSaveFile(const std::string& path) {
    step();
    return createNewFile(path);
}

bool writeBytes(std::FILE* file, const char* bytes, size_t size) {
    step();
    if (failedForTest(g_saveSteps.writes, g_rankingFaults.failWrite)) {
        return false;
    }
    return std::fwrite(bytes, 1, size, file) == size;
}

// Flushes and closes a file written by the save, through to the disk.
bool finishFile(std::FILE* file) {
    step();
    const bool done = std::fflush(file) == 0 && syncFile(file);
    return std::fclose(file) == 0 && done;
}

void removeFile(const std::string& path) {
    step();
    std::remove(path.c_str());
}

// Writes a new file with `bytes`. On failure no file is left behind.
bool writeNewFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = createSaveFile(path);
    if (file == nullptr) {
        return false;
    }
    const bool written = writeBytes(file, bytes.data(), bytes.size());
    if (!finishFile(file) || !written) {
        removeFile(path);
        return false;
    }
    return true;
}

// Copies `from` to a new file `to`, byte for byte. A missing `from` is no failure: `existed`
// tells whether there was one. On failure no copy is left behind.
bool copyFile(const std::string& from, const std::string& to, bool& existed) {
    existed = false;
    std::FILE* source = openStoreFile(from);
    if (source == nullptr) {
        return errno == ENOENT;
    }
    existed = true;
    std::FILE* copy = createSaveFile(to);
    if (copy == nullptr) {
        std::fclose(source);
        return false;
    }
    bool copied = true;
    char buffer[4096];
    size_t size = 0;
    for (size_t total = 0; copied && (size = std::fread(buffer, 1, sizeof buffer, source)) > 0;
         total += size) {
        copied = total + size <= STORE_FILE_LIMIT && writeBytes(copy, buffer, size);
    }
    copied = copied && std::ferror(source) == 0;
    std::fclose(source);
    if (!finishFile(copy) || !copied) {
        removeFile(to);
        return false;
    }
    return true;
}

// moveFile() as a step of a save.
bool replaceFile(const std::string& from, const std::string& to) {
    step();
    if (failedForTest(g_saveSteps.renames, g_rankingFaults.failRename)) {
        return false;
    }
    return moveFile(from, to);
}

// Whether `name` is "<file>.<id><suffix>", as the store names its temporary files.
bool isTemporaryOf(std::string_view name, std::string_view file, std::string_view suffix) {
    const std::string_view id = name.substr(std::min(name.size(), file.size() + 1), ID_DIGITS);
    return name.size() == file.size() + 1 + ID_DIGITS + suffix.size() && name.starts_with(file) &&
           name[file.size()] == '.' && name.ends_with(suffix) &&
           id.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The temporary files in the folder, by the id of the save that wrote them.
struct SaveLeftovers {
    bool newCounts = false;
    bool newNames = false;
    bool oldCounts = false;
    bool noOldCounts = false;
    bool undoneNames = false;
};

// A file's name when it is ASCII, as every name of the store is; else an empty one.
std::string asciiName(const std::filesystem::path& path) {
    const std::filesystem::path file = path.filename();
    const auto& name = file.native();
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](auto c) { return static_cast<unsigned long>(c) < 0x80; });
    return ascii ? std::string(name.begin(), name.end()) : std::string();
}

std::map<std::string, SaveLeftovers> findLeftovers(const std::string& folder) {
    struct Kind {
        const char* file;
        const char* suffix;
        bool SaveLeftovers::*flag;
    };
    constexpr Kind KINDS[] = {
        {COUNTS_FILE, NEW_SUFFIX, &SaveLeftovers::newCounts},
        {NAMES_FILE, NEW_SUFFIX, &SaveLeftovers::newNames},
        {COUNTS_FILE, OLD_SUFFIX, &SaveLeftovers::oldCounts},
        {COUNTS_FILE, NONE_SUFFIX, &SaveLeftovers::noOldCounts},
        {NAMES_FILE, UNDONE_SUFFIX, &SaveLeftovers::undoneNames},
    };
    std::map<std::string, SaveLeftovers> leftovers;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = asciiName(entry->path());
        for (const Kind& kind : KINDS) {
            const std::string_view file = kind.file;
            if (isTemporaryOf(name, file, kind.suffix)) {
                leftovers[name.substr(file.size() + 1, ID_DIGITS)].*kind.flag = true;
            }
        }
    }
    return leftovers;
}

}  // namespace

StoreLock::~StoreLock() {
    release();
}

bool hasUnfinishedSave(const std::string& folder) {
    for (const auto& [id, left] : findLeftovers(folder)) {
        if ((left.newNames && !left.newCounts) || left.undoneNames) {
            return true;
        }
    }
    return false;
}

void finishUnfinishedSaves(const std::string& folder) {
    const std::string countsPath = storePath(folder, COUNTS_FILE);
    const auto leftovers = findLeftovers(folder);
    for (const auto& found : leftovers) {
        const std::string& id = found.first;
        const SaveLeftovers& left = found.second;
        const auto leftover = [&](const char* file, const char* suffix) {
            return temporaryPath(folder, file, id, suffix);
        };
        if (left.newCounts) {
            // It ended before its turn counts went into place: the old pair stands.
            std::remove(leftover(COUNTS_FILE, NEW_SUFFIX).c_str());
            std::remove(leftover(NAMES_FILE, NEW_SUFFIX).c_str());
            std::remove(leftover(NAMES_FILE, UNDONE_SUFFIX).c_str());
        } else if (left.newNames) {
            // Its turn counts are in place, its names were written in full: they follow.
            moveFile(leftover(NAMES_FILE, NEW_SUFFIX), storePath(folder, NAMES_FILE));
        } else if (left.undoneNames) {
            // It was being undone: the old turn counts go back, unless they are back already.
            if (left.oldCounts) {
                moveFile(leftover(COUNTS_FILE, OLD_SUFFIX), countsPath);
            } else if (left.noOldCounts) {
                std::remove(countsPath.c_str());
            }
            std::remove(leftover(NAMES_FILE, UNDONE_SUFFIX).c_str());
        }
        std::remove(leftover(COUNTS_FILE, OLD_SUFFIX).c_str());
        std::remove(leftover(COUNTS_FILE, NONE_SUFFIX).c_str());
    }
    if (!leftovers.empty()) {
        syncFolder(folder);
    }
}

StoreRead readStoreFile(const std::string& path, size_t limit, std::string& bytes) {
    bytes.clear();
    std::FILE* file = openStoreFile(path);
    if (file == nullptr) {
        return errno == ENOENT ? StoreRead::MISSING : StoreRead::UNREADABLE;
    }
    char buffer[4096];
    size_t size = 0;
    // One byte beyond the limit is read, to tell a file of the limit's length from a longer one.
    while (bytes.size() <= limit && (size = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, size);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return StoreRead::UNREADABLE;
    }
    if (bytes.size() > limit) {
        bytes.resize(limit);
        return StoreRead::TOO_LONG;
    }
    return StoreRead::READ;
}

bool replaceStoreFile(const std::string& folder, const char* file, const std::string& bytes) {
    g_saveSteps = SaveSteps{};
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (isTemporaryOf(asciiName(entry->path()), file, NEW_SUFFIX)) {
            std::remove(entry->path().string().c_str());
        }
    }
    const std::string path = storePath(folder, file);
    const std::string written = temporaryPath(folder, file, newSaveId(), NEW_SUFFIX);
    if (!writeNewFile(written, bytes)) {
        return false;
    }
    if (!replaceFile(written, path)) {
        removeFile(written);
        return false;
    }
    syncFolder(folder);
    return true;
}

std::string setStoreFileAside(const std::string& folder, const char* file) {
    const std::string aside = std::string(file) + "." + newSaveId() + DAMAGED_SUFFIX;
    if (!moveFile(storePath(folder, file), storePath(folder, aside.c_str()))) {
        return {};
    }
    syncFolder(folder);
    return aside;
}

bool replacePair(const std::string& folder, const std::string& counts, const std::string& names) {
    g_saveSteps = SaveSteps{};
    const std::string countsPath = storePath(folder, COUNTS_FILE);
    const std::string namesPath = storePath(folder, NAMES_FILE);
    const std::string id = newSaveId();
    const std::string newCounts = temporaryPath(folder, COUNTS_FILE, id, NEW_SUFFIX);
    const std::string newNames = temporaryPath(folder, NAMES_FILE, id, NEW_SUFFIX);
    const std::string oldCounts = temporaryPath(folder, COUNTS_FILE, id, OLD_SUFFIX);
    const std::string noOldCounts = temporaryPath(folder, COUNTS_FILE, id, NONE_SUFFIX);
    const std::string undoneNames = temporaryPath(folder, NAMES_FILE, id, UNDONE_SUFFIX);
    // Until the turn counts go into place, the old pair stands; after, should this process end,
    // the next save or display takes the new names into place too (finishUnfinishedSaves).
    bool hadCounts = false;
    if (!writeNewFile(newCounts, counts) || !writeNewFile(newNames, names) ||
        !copyFile(countsPath, oldCounts, hadCounts) ||
        (!hadCounts && !writeNewFile(noOldCounts, "")) || !replaceFile(newCounts, countsPath)) {
        removeFile(newCounts);
        removeFile(newNames);
        removeFile(oldCounts);
        removeFile(noOldCounts);
        return false;
    }
    if (!replaceFile(newNames, namesPath)) {
        // Undone: the new names are set aside under a name that says so, and then the old
        // turn counts go back. Should this process end in between, the next save or display
        // finishes the undoing.
        if (!replaceFile(newNames, undoneNames)) {
            removeFile(newNames);
        }
        if (hadCounts) {
            replaceFile(oldCounts, countsPath);
        } else {
            removeFile(countsPath);
        }
        removeFile(undoneNames);
        removeFile(noOldCounts);
        syncFolder(folder);
        return false;
    }
    removeFile(oldCounts);
    removeFile(noOldCounts);
    syncFolder(folder);
    return true;
}

}  // namespace numoteka
