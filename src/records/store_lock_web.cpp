// The ranking store's lock in a web page. The files live in the browser's storage (IndexedDB,
// mounted by web/main.cpp), copied into memory while the page runs. The lock is a Web Lock named
// after the folder, which every tab of the page's origin shares, held for as long as the
// StoreLock lives; under it the files are loaded afresh from the storage, and a save is written
// back to it, all its changes at once, before the lock is let go. There is no lock file.
#include <emscripten/emscripten.h>

#include <string>

#include "records/ranking.h"
#include "records/ranking_store.h"

// The JavaScript halves, which clang-format leaves alone. Each body is one line to the compiler:
// no // comments in them. Each call waits for the browser, the game's stack put aside meanwhile.
//
// FS.syncfs(true) loads the storage into memory, FS.syncfs(false) writes memory to it: every
// file that changed and every file that went, in one IndexedDB transaction, so that a page
// closed in the middle leaves the storage as it was before or after.
//
// Without Web Locks (a page that is not served from localhost or over https) the game goes on
// unlocked: tabs saving at the same moment may then lose a win.

// clang-format off

// Takes the lock `name` of the files in `folder`, waiting at most `waitMilliseconds`, and then
// loads the files as the browser's storage holds them. Returns the lock's number, or 0 when it
// did not come.
EM_ASYNC_JS(int, numoteka_storage_lock, (const char* name, const char* folder, int exclusive, int waitMilliseconds), {
    const locks = Module["numotekaLocks"] = Module["numotekaLocks"] || { next: 1, held: {} };
    const lockName = UTF8ToString(name);
    let release = () => {};
    const released = new Promise((resolve) => { release = resolve; });
    if (navigator.locks) {
        const giveUp = new AbortController();
        const timer = setTimeout(() => giveUp.abort(), waitMilliseconds);
        const granted = await new Promise((resolve) => {
            navigator.locks.request(lockName, {
                mode: exclusive ? "exclusive" : "shared",
                signal: giveUp.signal,
            }, () => {
                resolve(true);
                return released;
            }).catch(() => resolve(false));
        });
        clearTimeout(timer);
        if (!granted) {
            return 0;
        }
    }
    const loaded = await new Promise((resolve) => FS.syncfs(true, (error) => resolve(!error)));
    if (!loaded) {
        release();
        return 0;
    }
    const lock = locks.next++;
    locks.held[lock] = { exclusive: exclusive, release: release, folder: UTF8ToString(folder) };
    return lock;
});

// Writes what changed to the browser's storage if the lock is exclusive, then lets go of it.
// Returns 0 when the storage could not be written. FS.syncfs(false) takes a file for changed only
// when its time differs from the stored one, and two saves within one tick of the clock (or a
// clock that stands still) would leave the second unwritten: the folder's files get a time that
// is later than any this page gave before, so that the storage always gets what was written.
EM_ASYNC_JS(int, numoteka_storage_unlock, (int lock), {
    const locks = Module["numotekaLocks"];
    const held = locks.held[lock];
    delete locks.held[lock];
    if (held.exclusive) {
        const stamp = locks.stamp = Math.max(Date.now(), (locks.stamp || 0) + 1);
        try {
            for (const entry of FS.readdir(held.folder)) {
                const path = held.folder + "/" + entry;
                if (FS.isFile(FS.stat(path).mode)) {
                    FS.utime(path, stamp, stamp);
                }
            }
        } catch (error) {
        }
    }
    const kept = !held.exclusive ||
                 (await new Promise((resolve) => FS.syncfs(false, (error) => resolve(!error))));
    held.release();
    return kept ? 1 : 0;
});

// clang-format on

namespace numoteka {

StoreLock::StoreLock(const std::string& folder, bool exclusive) {
    const int lock =
        numoteka_storage_lock(("numoteka ranking " + folder).c_str(), folder.c_str(),
                              exclusive ? 1 : 0, g_rankingFaults.lockWaitMilliseconds);
    if (lock > 0) {
        lock_ = lock;
        held_ = true;
    }
}

bool StoreLock::release() {
    const bool kept = lock_ == NO_LOCK || numoteka_storage_unlock(static_cast<int>(lock_)) != 0;
    lock_ = NO_LOCK;
    held_ = false;
    return kept;
}

}  // namespace numoteka
