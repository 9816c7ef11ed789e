// The line editor between the keys and the game, as a terminal in canonical mode: keys echo,
// Backspace rubs out the last character, and the game reads a line once Enter ends it. It knows
// nothing of xterm.js or the page: it is handed the screen it echoes on.

// What ends a line: Enter sends CR; a paste may hold CR LF or LF.
export const ENTER = /\r\n?|\n/;

// One run of the program's input: the line being typed and the lines finished and not read.
// `lineFinished()`, when given, hears of every line finished. `screen` is where the keys echo:
//   write(text) -> Promise     writes text at the cursor; resolves once taken in
//   cursor() -> Promise<place>  where the next character written would start
//   eraseFrom(place) -> Promise moves the cursor back to `place` (from cursor()) and clears
//                               everything from there on
export class LineEditor {
  constructor(screen, lineFinished = () => {}) {
    this.screen = screen;
    this.lineFinished = lineFinished;
    this.typed = []; // characters of the line being typed, with where each starts
    this.lines = []; // finished lines as UTF-8, line feed included
    this.ended = false;
    this.wake = () => {};
  }

  // Keys typed, or text pasted or put in by an input method at once.
  async key(data) {
    if (data.startsWith('\x1b')) {
      return; // cursor and function keys mean nothing to the game
    }
    const parts = data.split(ENTER);
    for (let part = 0; part < parts.length; ++part) {
      if (part > 0) {
        await this.enter();
      }
      for (const character of parts[part]) {
        if (character === '\x7f' || character === '\b') {
          await this.rubOut();
        } else if (character === '\x04') {
          // Ctrl-D on an empty line ends the input, as on a terminal.
          if (this.typed.length === 0) {
            this.end();
          }
        } else if (character >= ' ' || character === '\t') {
          const start = await this.screen.cursor();
          await this.screen.write(character);
          this.typed.push({ character, start });
        }
      }
    }
  }

  // The last character goes, however many columns it took.
  async rubOut() {
    const last = this.typed.pop();
    if (last) {
      await this.screen.eraseFrom(last.start);
    }
  }

  async enter() {
    await this.screen.write('\r\n');
    const line = this.typed.map((typed) => typed.character).join('') + '\n';
    this.typed = [];
    this.lines.push(new TextEncoder().encode(line));
    this.wake();
    this.lineFinished();
  }

  // The input ends: the reads after the lines finished find nothing.
  end() {
    this.ended = true;
    this.wake();
    this.lineFinished();
  }

  // Whether a read would not wait: a line is finished, or the input has ended.
  waiting() {
    return this.lines.length > 0 || this.ended;
  }

  // The next bytes of the first finished line, at most `most`; none once the input has ended.
  async read(most) {
    while (this.lines.length === 0 && !this.ended) {
      await new Promise((resolve) => { this.wake = resolve; });
    }
    if (this.lines.length === 0) {
      return new Uint8Array(0);
    }
    const line = this.lines[0];
    if (line.length <= most) {
      this.lines.shift();
      return line;
    }
    this.lines[0] = line.subarray(most);
    return line.subarray(0, most);
  }
}
