// The two ranking files as one store in one folder, shared by every copy of the game that
// uses the folder: a lock that makes saves take turns, and a save that replaces both files
// through private temporary files, never through a link someone planted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace numoteka {

inline constexpr const char* COUNTS_FILE = "dice_data.dat";
inline constexpr const char* NAMES_FILE = "name_data.dat";
// The lock's own file, in the same folder.
inline constexpr const char* LOCK_FILE = "ranking.lock";

// A file of the folder, with the platform's separator.
std::string storePath(const std::string& folder, const char* file);

// Neither ranking file is ever longer than this; one that is, was not written by the game.
inline constexpr size_t STORE_FILE_LIMIT = 64 * 1024;

// Opens a file of the store to read: a regular file only, or nullptr with errno set (ENOENT
// when there is none).
std::FILE* openStoreFile(const std::string& path);

// The store's lock, held from construction to destruction. Saves hold it exclusively, a display
// shares it with other displays. It lives in a file of its own in the folder, which stays there;
// the system drops it when the process ends, however it ends.
class StoreLock {
public:
    // Waits at most the lock wait for it; held() tells whether it came.
    StoreLock(const std::string& folder, bool exclusive);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool held() const {
        return held_;
    }

    // Lets go of the lock now. Returns whether what was done under it is kept: in a web page,
    // a save's files are written to the browser's storage first, and that may fail.
    bool release();

private:
    // What the platform lets go of to release the lock: a file descriptor, a HANDLE or the
    // number of a Web Lock; NO_LOCK while there is none.
    static constexpr intptr_t NO_LOCK = -1;

    bool held_ = false;
    intptr_t lock_ = NO_LOCK;
};

// Whether a save that ended between its two renames left the pair with new turn counts and old
// names. Under the shared lock.
bool hasUnfinishedSave(const std::string& folder);

// Puts right what saves that ended half way left behind: the pair is made whole, with the new
// names if the new turn counts are in place already, and the save's other temporary files go.
// Under the exclusive lock.
void finishUnfinishedSaves(const std::string& folder);

// Another file of the store, beside the pair (the daily game's play log), under the same lock:
// read whole, replaced whole, set aside whole.
enum class StoreRead { READ, MISSING, UNREADABLE, TOO_LONG };

// Reads at most `limit` bytes of the file into `bytes`: TOO_LONG when it holds more (the first
// `limit` are read).
StoreRead readStoreFile(const std::string& path, size_t limit, std::string& bytes);

// Replaces the file by a new one with these bytes, written in full to a private temporary file
// first ("<file>.<id>.new") and then renamed into place: the old file stands until the new one
// does. Temporary files of replacements that ended half way go first. Under the exclusive lock.
bool replaceStoreFile(const std::string& folder, const char* file, const std::string& bytes);

// Renames the file to "<file>.<id>.damaged", which nothing ever removes; returns that name, or an
// empty one when the rename failed. Under the exclusive lock.
std::string setStoreFileAside(const std::string& folder, const char* file);

// Replaces the two files by new ones with these bytes, as a pair: both are written in full
// first, then renamed into place. Should the second rename fail, the old turn counts are put
// back, so that the pair is as it was. False on any failure, with the old pair in place.
// Under the exclusive lock.
bool replacePair(const std::string& folder, const std::string& counts, const std::string& names);

}  // namespace numoteka
