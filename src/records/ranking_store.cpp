#include "records/ranking_store.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string_view>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "records/ranking.h"

#ifdef __EMSCRIPTEN__
// The lock of a web page (web/numoteka_library.js): the browser's Web Locks, which every tab of
// the page's origin shares. Each call waits for the browser, the game's stack put aside.
extern "C" {
// Takes the lock `name`, waiting at most `waitMilliseconds`, and then loads the files as the
// browser's storage holds them. Returns the lock's number, or 0 when it did not come.
int numoteka_storage_lock(const char* name, int exclusive, int waitMilliseconds);
// Writes what changed to the browser's storage if the lock is exclusive, then lets go of it.
// Returns 0 when the storage could not be written.
int numoteka_storage_unlock(int lock);
}
#endif

namespace numoteka {

namespace {

#ifdef _WIN32
constexpr char PATH_SEPARATOR = '\\';
#else
constexpr char PATH_SEPARATOR = '/';
#endif

#ifndef __EMSCRIPTEN__
// How often a lock that is taken is asked for again, within the wait.
constexpr auto LOCK_RETRY = std::chrono::milliseconds(5);
#endif

// A save's temporary files are named after the file they stand for, the save's own id (16 hex
// digits) and their part: "<file>.<id>.new" for each new file, "dice_data.dat.<id>.old" for the
// copy of the old turn counts.
constexpr size_t ID_DIGITS = 16;
constexpr const char* NEW_SUFFIX = ".new";
constexpr const char* OLD_SUFFIX = ".old";

// How many file operations the current save has made, for the test faults.
struct SaveSteps {
    int writes = 0;
    int renames = 0;
    int all = 0;
};
SaveSteps g_saveSteps;

// Every file operation of a save is a step; a test may end the process at one, as if killed.
void step() {
    if (++g_saveSteps.all == g_rankingFaults.endAtStep) {
        std::_Exit(137);
    }
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

// Creates a file that must not exist yet, not even as a link, for writing.
std::FILE* createNewFile(const std::string& path) {
    step();
#ifdef _WIN32
    // _O_EXCL creates the file new or fails, whatever is at the path.
    const int file =
        _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return file < 0 ? nullptr : _fdopen(file, "wb");
#else
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return file < 0 ? nullptr : fdopen(file, "wb");
#endif
}

bool writeBytes(std::FILE* file, const char* bytes, size_t size) {
    step();
    if (++g_saveSteps.writes == g_rankingFaults.failWrite) {
        return false;
    }
    return std::fwrite(bytes, 1, size, file) == size;
}

// Flushes and closes a file written by the save, through to the disk.
bool finishFile(std::FILE* file) {
    step();
    bool done = std::fflush(file) == 0;
#ifdef _WIN32
    done = done && _commit(_fileno(file)) == 0;
#else
    done = done && fsync(fileno(file)) == 0;
#endif
    return std::fclose(file) == 0 && done;
}

void removeFile(const std::string& path) {
    step();
    std::remove(path.c_str());
}

// Writes a new file with `bytes`. On failure no file is left behind.
bool writeNewFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = createNewFile(path);
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
    std::FILE* source = std::fopen(from.c_str(), "rb");
    if (source == nullptr) {
        return errno == ENOENT;
    }
    existed = true;
    std::FILE* copy = createNewFile(to);
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
        removeFile(to);
        return false;
    }
    return true;
}

// Puts `from` in the place of `to`, replacing it, in one step. A link at `to` is replaced, not
// followed.
bool replaceFile(const std::string& from, const std::string& to) {
    step();
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
void syncFolder(const std::string& folder) {
#ifndef _WIN32
    const int handle = open(folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle >= 0) {
        fsync(handle);
        close(handle);
    }
#else
    (void)folder;
#endif
}

// The temporary files in the folder, by the id of the save that wrote them.
struct SaveLeftovers {
    bool newCounts = false;
    bool newNames = false;
    bool oldCounts = false;
};

std::map<std::string, SaveLeftovers> findLeftovers(const std::string& folder) {
    std::map<std::string, SaveLeftovers> leftovers;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        for (const char* file : {COUNTS_FILE, NAMES_FILE}) {
            const std::string_view prefix = file;
            if (name.size() != prefix.size() + 1 + ID_DIGITS + 4 || !name.starts_with(prefix) ||
                name[prefix.size()] != '.') {
                continue;
            }
            const std::string id = name.substr(prefix.size() + 1, ID_DIGITS);
            if (id.find_first_not_of("0123456789abcdef") != std::string::npos) {
                continue;
            }
            const std::string_view suffix = std::string_view(name).substr(name.size() - 4);
            const bool counts = prefix == COUNTS_FILE;
            if (suffix == NEW_SUFFIX) {
                (counts ? leftovers[id].newCounts : leftovers[id].newNames) = true;
            } else if (suffix == OLD_SUFFIX && counts) {
                leftovers[id].oldCounts = true;
            }
        }
    }
    return leftovers;
}

}  // namespace

std::string storePath(const std::string& folder, const char* file) {
    return folder + PATH_SEPARATOR + file;
}

#ifdef _WIN32

StoreLock::StoreLock(const std::string& folder, bool exclusive) {
    HANDLE file =
        CreateFileA(storePath(folder, LOCK_FILE).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    file_ = file;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(g_rankingFaults.lockWaitMilliseconds);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    for (;;) {
        OVERLAPPED whole{};
        if (LockFileEx(file, flags, 0, 1, 0, &whole)) {
            held_ = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return;
        }
        std::this_thread::sleep_for(LOCK_RETRY);
    }
}

bool StoreLock::release() {
    // Closing the file lets go of the lock.
    if (file_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(file_));
        file_ = nullptr;
    }
    held_ = false;
    return true;
}

#elif defined(__EMSCRIPTEN__)

// In a web page the files live in the browser's storage, copied into memory while the page runs.
// The lock is a Web Lock named after the folder, taken for as long as the StoreLock lives (file_
// holds its number); under it the files are loaded afresh from the storage, and a save is written
// back to it, all its changes at once, before the lock is let go. There is no lock file.
StoreLock::StoreLock(const std::string& folder, bool exclusive) {
    file_ = numoteka_storage_lock(("numoteka ranking " + folder).c_str(), exclusive ? 1 : 0,
                                  g_rankingFaults.lockWaitMilliseconds);
    held_ = file_ > 0;
}

bool StoreLock::release() {
    const bool kept = file_ <= 0 || numoteka_storage_unlock(file_) != 0;
    file_ = 0;
    held_ = false;
    return kept;
}

#else

StoreLock::StoreLock(const std::string& folder, bool exclusive) {
    const std::string path = storePath(folder, LOCK_FILE);
    constexpr int OPEN_FLAGS = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    file_ = open(path.c_str(), O_RDWR | OPEN_FLAGS, 0666);
    if (file_ < 0 && errno == ELOOP) {
        // A link where the lock's file belongs: no copy of the game locks through it, so it is
        // put aside for a file of the lock's own.
        unlink(path.c_str());
        file_ = open(path.c_str(), O_RDWR | OPEN_FLAGS, 0666);
    }
    if (file_ < 0 && !exclusive && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        // A folder that this user may only read: share the lock if some writer made its file,
        // and read without it if none did, as then no save has been made there.
        file_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file_ < 0) {
            held_ = errno == ENOENT;
            return;
        }
    }
    struct stat status {};
    if (file_ < 0 || fstat(file_, &status) != 0 || !S_ISREG(status.st_mode)) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(g_rankingFaults.lockWaitMilliseconds);
    const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    for (;;) {
        if (flock(file_, operation) == 0) {
            held_ = true;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            return;
        }
        std::this_thread::sleep_for(LOCK_RETRY);
    }
}

bool StoreLock::release() {
    // Closing the file lets go of the lock.
    if (file_ >= 0) {
        close(file_);
        file_ = -1;
    }
    held_ = false;
    return true;
}

#endif

StoreLock::~StoreLock() {
    release();
}

bool hasUnfinishedSave(const std::string& folder) {
    for (const auto& [id, left] : findLeftovers(folder)) {
        if (left.newNames && !left.newCounts) {
            return true;
        }
    }
    return false;
}

void finishUnfinishedSaves(const std::string& folder) {
    bool renamed = false;
    for (const auto& [id, left] : findLeftovers(folder)) {
        const std::string newCounts = temporaryPath(folder, COUNTS_FILE, id, NEW_SUFFIX);
        const std::string newNames = temporaryPath(folder, NAMES_FILE, id, NEW_SUFFIX);
        if (left.newCounts) {
            // It ended before its turn counts went into place: the old pair stands.
            std::remove(newCounts.c_str());
            std::remove(newNames.c_str());
        } else if (left.newNames) {
            // Its turn counts are in place, its names were written in full: they follow.
            renamed = std::rename(newNames.c_str(), storePath(folder, NAMES_FILE).c_str()) == 0;
        }
        std::remove(temporaryPath(folder, COUNTS_FILE, id, OLD_SUFFIX).c_str());
    }
    if (renamed) {
        syncFolder(folder);
    }
}

bool replacePair(const std::string& folder, const std::string& counts, const std::string& names) {
    g_saveSteps = SaveSteps{};
    const std::string countsPath = storePath(folder, COUNTS_FILE);
    const std::string namesPath = storePath(folder, NAMES_FILE);
    const std::string id = newSaveId();
    const std::string newCounts = temporaryPath(folder, COUNTS_FILE, id, NEW_SUFFIX);
    const std::string newNames = temporaryPath(folder, NAMES_FILE, id, NEW_SUFFIX);
    const std::string oldCounts = temporaryPath(folder, COUNTS_FILE, id, OLD_SUFFIX);
    const auto removeAll = [&] {
        removeFile(newCounts);
        removeFile(newNames);
        removeFile(oldCounts);
    };
    bool hadCounts = false;
    if (!writeNewFile(newCounts, counts) || !writeNewFile(newNames, names) ||
        !copyFile(countsPath, oldCounts, hadCounts) || !replaceFile(newCounts, countsPath)) {
        removeAll();
        return false;
    }
    if (!replaceFile(newNames, namesPath)) {
        // The new names go first, so that nothing would take them into place later; should
        // putting the old counts back fail as well, their copy stays until the next save.
        removeFile(newNames);
        if (hadCounts) {
            replaceFile(oldCounts, countsPath);
        } else {
            removeFile(countsPath);
        }
        syncFolder(folder);
        return false;
    }
    removeFile(oldCounts);
    syncFolder(folder);
    return true;
}

}  // namespace numoteka
