// The game's terminal in the page: the object the page hands the game as `terminal` among
// createNumoteka's options, which the game reaches as Module["terminal"]. It is the one way the
// game and the page talk: the game's halves of it are the EM_JS and EM_ASYNC_JS functions of
// src/console/terminal_web.cpp and web/main.cpp, and they call these members and no others.
//
// drawsAmbiguousNarrow() -> Promise<boolean>
//   Whether the terminal draws the characters of ambiguous width ("□") in one column. Asked
//   once as the program starts, as a terminal is asked; the game then pads them.
// write(bytes: Uint8Array) -> Promise
//   Shows the game's UTF-8 output and resolves once it is on the screen. The bytes are the
//   page's own copy: the game's memory may move while it waits.
//   A replay's keys are echoed through write() too, where the line editor would echo them.
// read(most: number) -> Promise<Uint8Array>
//   The next bytes of the first line the user finished (Enter ends it, its line feed kept), at
//   most `most` of them and never past the line feed; the rest of a longer line comes with the
//   next reads. Waits for the line; no bytes once the input has ended (Ctrl-D).
// keysWaiting() -> boolean
//   Whether read() would not wait: a line is finished, or the input has ended.
// paceSleep(milliseconds: number) -> Promise<number>
//   Waits before a replay's next keys, or before Enter is typed by itself at a key wait:
//   `milliseconds`, or less once paceControls() changes or a line is finished; resolves with the
//   milliseconds waited.
// paceControls() -> PaceControls
//   What the player chose of the pace, asked before and after every wait.
// replayStarts(replay: { date: string }) (optional)
//   A replay of the daily game of `date` ("YYYY-MM-DD") begins.
// shareResult(result: DailyResult) (optional)
//   A daily game has ended: its result, which the game has just printed, to offer for sharing.
// showStatistics(statistics: Statistics) (optional)
//   What the player's daily games came to: once the program starts, and after each daily game.
// showStatus(status: Status) (optional)
//   Both contestants' records and the round, at every wait at which they changed.
// programEnded(status: number)
//   The program has returned `status`: 0 when the user quit, 2 when the address gave it a date
//   or replay code it refused.
//
// These are data, never text to read back. A DailyResult:
//   date: string        the game's day, "YYYY-MM-DD"
//   difficulty: number  1 normal, 2 easy, 3 hard
//   outcome: string     "won", "lost" or "gave-up" (the human gave up)
//   turns: number       the game's turns
//   line: string        the line the game printed to share, to be shown as it is
//   code: string        the game's replay code; "" when the game has none (too long to record)
//   practice: boolean   not the day's official game (the line says so)
//   replay: boolean     played back from a code, not played here
// A PaceControls:
//   paused: boolean     the keys wait until it is not
//   speed: number       1, 2 or 4
//   turnSkips: number   how often "to the next turn" was asked since the program started: each
//                       new ask runs the keys on without waits to the next turn's heading
//   autoAdvance: number at a key wait whose key the game drops (">>", "（Enter）--->"), the
//                       milliseconds after which Enter is typed by itself; -1 for never
//   halfWidthDigits: boolean  a full-width digit typed alone as a menu's answer is the digit
// A Status, from the game's records (the human's first):
//   turn: number        the round of the game; 0 before a game and at the menu
//   players: [{ name: string, hp, attack, defense, position, restTurns: number }] (position 0
//                       is START, 30 or more the goal)
// A Statistics, of the official daily games (the first of each day in Japan):
//   today: string       "YYYY-MM-DD" in Japan
//   playedToday: boolean
//   daysPlayed, wins, winRate (per cent), streak, bestStreak: number
//   winsByTurns: [{ turns: number, wins: number }], fewest turns first

const REQUIRED = ['drawsAmbiguousNarrow', 'write', 'read', 'keysWaiting', 'paceSleep',
  'paceControls', 'programEnded'];

// The object for createNumoteka, from the page's implementations of the members above. A member
// missing would surface as a stuck game, so it fails here, before the game starts.
export function gameTerminal(members) {
  for (const name of REQUIRED) {
    if (typeof members[name] !== 'function') {
      throw new TypeError(`the game's terminal lacks ${name}()`);
    }
  }
  const { drawsAmbiguousNarrow, write, read, keysWaiting, paceSleep, paceControls, replayStarts,
    shareResult, showStatistics, showStatus, programEnded } = members;
  return Object.freeze({ drawsAmbiguousNarrow, write, read, keysWaiting, paceSleep, paceControls,
    replayStarts, shareResult, showStatistics, showStatus, programEnded });
}
