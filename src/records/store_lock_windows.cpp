// The ranking store's lock on Windows: LockFileEx on the file ranking.lock in the folder.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "records/ranking.h"
#include "records/ranking_store.h"
#include "records/store_platform.h"

namespace numoteka {

StoreLock::StoreLock(const std::string& folder, bool exclusive) {
    HANDLE file =
        CreateFileA(storePath(folder, LOCK_FILE).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    lock_ = reinterpret_cast<intptr_t>(file);
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
    if (lock_ != NO_LOCK) {
        CloseHandle(reinterpret_cast<HANDLE>(lock_));
        lock_ = NO_LOCK;
    }
    held_ = false;
    return true;
}

}  // namespace numoteka
