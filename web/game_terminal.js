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
// read(most: number) -> Promise<Uint8Array>
//   The next bytes of the first line the user finished (Enter ends it, its line feed kept), at
//   most `most` of them and never past the line feed; the rest of a longer line comes with the
//   next reads. Waits for the line; no bytes once the input has ended (Ctrl-D).
// shareResult(result: DailyResult) (optional)
//   A daily game has ended: its result, which the game has just printed, to offer for sharing.
// programEnded(status: number)
//   The program has returned `status`: 0 when the user quit, 2 when the address gave it a date
//   or replay code it refused.
//
// A DailyResult is data, never text to read back:
//   date: string        the game's day, "YYYY-MM-DD"
//   difficulty: number  1 normal, 2 easy, 3 hard
//   outcome: string     "won", "lost" or "gave-up" (the human gave up)
//   turns: number       the game's turns
//   line: string        the line the game printed to share, to be shown as it is
//   code: string        the game's replay code; "" when the game has none (too long to record)

const REQUIRED = ['drawsAmbiguousNarrow', 'write', 'read', 'programEnded'];

// The object for createNumoteka, from the page's implementations of the members above. A member
// missing would surface as a stuck game, so it fails here, before the game starts.
export function gameTerminal(members) {
  for (const name of REQUIRED) {
    if (typeof members[name] !== 'function') {
      throw new TypeError(`the game's terminal lacks ${name}()`);
    }
  }
  const { drawsAmbiguousNarrow, write, read, shareResult, programEnded } = members;
  return Object.freeze({ drawsAmbiguousNarrow, write, read, shareResult, programEnded });
}
