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
// digits) and their part: "<file>.<id>.new" for each new file; for the old turn counts, a copy
// "dice_data.dat.<id>.old", or "dice_data.dat.<id>.none" when there were none; and
// "name_data.dat.<id>.undone", the new names set aside when the save has to be undone.
constexpr size_t ID_DIGITS = 16;
constexpr const char* NEW_SUFFIX = ".new";
constexpr const char* OLD_SUFFIX = ".old";
constexpr const char* NONE_SUFFIX = ".none";
constexpr const char* UNDONE_SUFFIX = ".undone";

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
    std::FILE* source = openStoreFile(from);
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

// Puts `from` in the place of `to`, replacing it, in one step. A link at `to` is replaced, not
// followed.
bool moveFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// moveFile() as a step of a save.
bool replaceFile(const std::string& from, const std::string& to) {
    step();
    if (++g_saveSteps.renames == g_rankingFaults.failRename) {
        return false;
    }
    return moveFile(from, to);
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
            const std::string_view suffix = kind.suffix;
            const std::string_view id =
                std::string_view(name).substr(std::min(name.size(), file.size() + 1), ID_DIGITS);
            if (name.size() == file.size() + 1 + ID_DIGITS + suffix.size() &&
                name.starts_with(file) && name[file.size()] == '.' && name.ends_with(suffix) &&
                id.find_first_not_of("0123456789abcdef") == std::string_view::npos) {
                leftovers[std::string(id)].*kind.flag = true;
            }
        }
    }
    return leftovers;
}

}  // namespace

std::string storePath(const std::string& folder, const char* file) {
    return folder + PATH_SEPARATOR + file;
}

std::FILE* openStoreFile(const std::string& path) {
#ifdef _WIN32
    return std::fopen(path.c_str(), "rb");
#else
    // Without waiting: a pipe or a device planted at the path must not hold the game up.
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        return nullptr;
    }
    struct stat status {};
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(file);
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* stream = fdopen(file, "rb");
    if (stream == nullptr) {
        close(file);
    }
    return stream;
#endif
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

namespace {

// Opens the lock's file, made if need be, never through a link: a link planted where it
// belongs is put aside. Read only where this user may not write it (locking needs no more).
int openLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        constexpr int FLAGS = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int file = open(path.c_str(), O_RDWR | O_CREAT | FLAGS, 0666);
        if (file < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            file = open(path.c_str(), O_RDONLY | FLAGS);
        }
        if (file >= 0 || errno != ELOOP) {
            return file;
        }
        unlink(path.c_str());
    }
    return -1;
}

// Whether `file` is still the file at `path`: a lock on a file that was replaced or removed in
// the meantime keeps no one out.
bool isFileAt(int file, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return fstat(file, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
           S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

}  // namespace

StoreLock::StoreLock(const std::string& folder, bool exclusive) {
    const std::string path = storePath(folder, LOCK_FILE);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(g_rankingFaults.lockWaitMilliseconds);
    const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    for (;;) {
        file_ = openLockFile(path);
        if (file_ < 0) {
            // No lock's file, and none can be made: the folder is missing, or this user may
            // only read it and no game ever saved there. A display has nothing to wait for.
            held_ = !exclusive && errno == ENOENT;
            return;
        }
        bool locked = false;
        for (;;) {
            locked = flock(file_, operation) == 0;
            if (locked || (errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(LOCK_RETRY);
        }
        if (!locked) {
            release();
            return;
        }
        if (isFileAt(file_, path)) {
            held_ = true;
            return;
        }
        release();
        if (std::chrono::steady_clock::now() >= deadline) {
            return;
        }
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
