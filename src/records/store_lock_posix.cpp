// The ranking store's lock on a POSIX system: flock on the file ranking.lock in the folder.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "records/ranking.h"
#include "records/ranking_store.h"
#include "records/store_platform.h"

namespace numoteka {

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
        const int file = openLockFile(path);
        if (file < 0) {
            // No lock's file, and none can be made: the folder is missing, or this user may
            // only read it and no game ever saved there. A display has nothing to wait for.
            held_ = !exclusive && errno == ENOENT;
            return;
        }
        lock_ = file;
        bool locked = false;
        for (;;) {
            locked = flock(file, operation) == 0;
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
        if (isFileAt(file, path)) {
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
    if (lock_ != NO_LOCK) {
        close(static_cast<int>(lock_));
        lock_ = NO_LOCK;
    }
    held_ = false;
    return true;
}

}  // namespace numoteka
