// The browser's side of the console and of the ranking store, linked into numoteka.js
// (--js-library). The terminal is the object the page passes as Module['terminal']
// (web/page.js); the functions that wait are in the link's ASYNCIFY_IMPORTS.
mergeInto(LibraryManager.library, {
  numoteka_terminal_draws_ambiguous_narrow__deps: ['$Asyncify'],
  numoteka_terminal_draws_ambiguous_narrow: function () {
    return Asyncify.handleAsync(async () =>
      (await Module['terminal'].drawsAmbiguousNarrow()) ? 1 : 0);
  },

  numoteka_terminal_write__deps: ['$Asyncify'],
  numoteka_terminal_write: function (bytes, size) {
    // A copy: the game's memory may move while the page writes.
    const text = HEAPU8.slice(bytes, bytes + size);
    return Asyncify.handleAsync(() => Module['terminal'].write(text));
  },

  numoteka_terminal_read__deps: ['$Asyncify'],
  numoteka_terminal_read: function (buffer, capacity) {
    return Asyncify.handleAsync(async () => {
      const bytes = await Module['terminal'].read(capacity);
      HEAPU8.set(bytes, buffer);
      return bytes.length;
    });
  },

  numoteka_program_ended: function (status) {
    Module['terminal'].programEnded(status);
  },

  // The folder is kept in IndexedDB, in a database named after it, one record per file.
  numoteka_mount_storage__deps: ['$FS', '$IDBFS'],
  numoteka_mount_storage: function (folder) {
    const path = UTF8ToString(folder);
    FS.mkdir(path);
    FS.mount(IDBFS, {}, path);
  },

  // FS.syncfs as a promise: true loads the storage into memory, false writes memory to it. The
  // writing puts every file that changed and removes every file that went in one IndexedDB
  // transaction, so a page closed in the middle leaves the storage as it was before or after.
  $numotekaSync__deps: ['$FS'],
  $numotekaSync: function (load) {
    return new Promise((resolve) => FS.syncfs(load, (error) => resolve(!error)));
  },

  // Web Locks held by the game, by number.
  $numotekaLocks: { next: 1, held: {} },

  numoteka_storage_lock__deps: ['$Asyncify', '$numotekaSync', '$numotekaLocks'],
  numoteka_storage_lock: function (name, exclusive, waitMilliseconds) {
    const lockName = UTF8ToString(name);
    return Asyncify.handleAsync(async () => {
      let release = () => {};
      const released = new Promise((resolve) => { release = resolve; });
      if (navigator.locks) {
        const giveUp = new AbortController();
        const timer = setTimeout(() => giveUp.abort(), waitMilliseconds);
        const granted = await new Promise((resolve) => {
          navigator.locks.request(lockName, {
            mode: exclusive ? 'exclusive' : 'shared',
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
      // Without Web Locks (a page that is not served from localhost or over https) the game
      // goes on unlocked: tabs saving at the same moment may then lose a win.
      if (!(await numotekaSync(true))) {
        release();
        return 0;
      }
      const lock = numotekaLocks.next++;
      numotekaLocks.held[lock] = { exclusive: exclusive, release: release };
      return lock;
    });
  },

  numoteka_storage_unlock__deps: ['$Asyncify', '$numotekaSync', '$numotekaLocks'],
  numoteka_storage_unlock: function (lock) {
    const held = numotekaLocks.held[lock];
    delete numotekaLocks.held[lock];
    return Asyncify.handleAsync(async () => {
      const kept = !held.exclusive || (await numotekaSync(false));
      held.release();
      return kept ? 1 : 0;
    });
  },
});
