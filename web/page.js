// The page: xterm.js as the game's terminal. What the game writes is UTF-8 for xterm.js; what
// the user types goes through a line editor, as on a terminal in canonical mode: keys echo,
// Backspace rubs out the last character, and the game reads a line once Enter ends it. On a
// touch screen a row of buttons types into the same line editor.
// In the address, ?seed=N seeds the game as --seed N does; ?daily plays today's game (?daily=DATE
// a past day's) and ?replay=CODE plays a replay code back, as --daily and --replay do. At the end
// of a daily game a bar offers its line and a link to its replay, to copy. Served by
// numoteka-server, the page also shows the day's world ranking and submits wins to it.
import { Terminal } from './xterm.js';
import createNumoteka from './numoteka.js';

const PLAY_AGAIN = 'Enterキーでもう一度遊べます';
const BAD_ADDRESS = 'アドレスの日付かリプレイコードが正しくありません';
const ENTER = /\r\n?|\n/;
const COLUMNS = 80;
// The terminal on a screen with a mouse, when the window has room for it.
const DESKTOP_FONT_SIZE = 15;
const DESKTOP_ROWS = 30;
// The page's font (index.html), the system's for what it lacks: names typed in.
const FONT = 'Numoteka Mono';
const BUTTON_KEYS = { enter: '\r', backspace: '\x7f' };
const touchScreen = matchMedia('(pointer: coarse)');

// Kept by the service worker for visits without a connection (on localhost or over https).
if ('serviceWorker' in navigator) {
  addEventListener('load', () => navigator.serviceWorker.register('sw.js').catch(() => {}));
}

// xterm.js measures its cells with the font it starts with, so the page's font comes first.
await document.fonts.load(`${DESKTOP_FONT_SIZE}px "${FONT}"`, '戦').catch(() => {});
const terminal = new Terminal({
  cols: COLUMNS,
  rows: DESKTOP_ROWS,
  fontFamily: `"${FONT}", monospace`,
  fontSize: DESKTOP_FONT_SIZE,
  convertEol: true, // the game ends its lines with LF alone
  scrollback: 10000, // a whole game, to scroll back through
  cursorBlink: true,
});
const box = document.getElementById('terminal');
terminal.open(box);
// The terminal, for whoever looks at the page from outside (its tests do).
window.numotekaTerminal = terminal;

// The font size and rows that show the whole terminal in the window, above the bars and the
// buttons' row.
// On a touch screen the 80 columns fill the width; elsewhere the terminal keeps the desktop size
// while the window is wide enough. The rows fill the height (at most 30 with a mouse); what
// does not fit stays in the scrollback, above.
function fit() {
  const style = getComputedStyle(box);
  const width = document.documentElement.clientWidth - parseFloat(style.paddingLeft) -
    parseFloat(style.paddingRight);
  const height = document.documentElement.clientHeight - parseFloat(style.paddingTop) -
    parseFloat(style.paddingBottom) - document.getElementById('keys').offsetHeight -
    document.getElementById('share').offsetHeight - document.getElementById('world').offsetHeight;
  const screen = terminal.element.querySelector('.xterm-screen');
  // xterm.js rounds its cells to device pixels: the size is made smaller until it fits.
  const fitting = (size) => Math.floor((size * width) / screen.offsetWidth * 4) / 4;
  terminal.options.fontSize = touchScreen.matches ? fitting(terminal.options.fontSize) :
    Math.min(DESKTOP_FONT_SIZE, fitting(terminal.options.fontSize));
  for (let tries = 0; tries < 10 && screen.offsetWidth > width; ++tries) {
    terminal.options.fontSize = Math.min(terminal.options.fontSize - 0.25,
      fitting(terminal.options.fontSize));
  }
  const rowHeight = screen.offsetHeight / terminal.rows;
  const rows = Math.max(1, Math.floor(height / rowHeight));
  terminal.resize(COLUMNS, touchScreen.matches ? rows : Math.min(DESKTOP_ROWS, rows));
}
fit();
addEventListener('resize', fit);
touchScreen.addEventListener('change', fit);
if (!touchScreen.matches) {
  terminal.focus(); // on a touch screen that would bring up the system keyboard at once
}

// Writes `data` and resolves once xterm.js has taken it in.
function write(data) {
  return new Promise((resolve) => terminal.write(data, resolve));
}

// Writes `data` and resolves once it has been drawn on the screen: after the next animation
// frame, or a little later should the browser draw none (a page it does not show).
function show(data) {
  return new Promise((resolve) => terminal.write(data, () => {
    const timer = setTimeout(resolve, 100);
    requestAnimationFrame(() => setTimeout(() => {
      clearTimeout(timer);
      resolve();
    }, 0));
  }));
}

// Where the cursor stands once everything written so far is taken in, its row counted from
// the top of the scrollback.
async function cursor() {
  await write('');
  const buffer = terminal.buffer.active;
  return { x: buffer.cursorX, y: buffer.baseY + buffer.cursorY };
}

// Moves the cursor back to `place` (from cursor()). Past the last column stands for the start
// of the next row, where the next character would go.
function moveTo(place) {
  const x = place.x >= terminal.cols ? 0 : place.x;
  const y = place.x >= terminal.cols ? place.y + 1 : place.y;
  const row = Math.max(0, y - terminal.buffer.active.baseY);
  return `\x1b[${row + 1};${x + 1}H`;
}

// One run of the program's input: the line being typed and the lines finished and not read.
class Keyboard {
  constructor() {
    this.typed = []; // characters of the line being typed, with where each starts
    this.lines = []; // finished lines as UTF-8, line feed included
    this.ended = false;
    this.wake = () => {};
  }

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
            this.ended = true;
            this.wake();
          }
        } else if (character >= ' ' || character === '\t') {
          const start = await cursor();
          await write(character);
          this.typed.push({ character, start });
        }
      }
    }
  }

  // The last character goes, however many columns it took: the cursor goes back to where it
  // started and the rest of the screen is cleared.
  async rubOut() {
    const last = this.typed.pop();
    if (last) {
      await write(moveTo(last.start) + '\x1b[J');
    }
  }

  async enter() {
    await write('\r\n');
    const line = this.typed.map((typed) => typed.character).join('') + '\n';
    this.typed = [];
    this.lines.push(new TextEncoder().encode(line));
    this.wake();
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

let query = new URLSearchParams(location.search);
let keyboard = null; // the running program's input, null once it has ended
let keys = Promise.resolve(); // keys are taken one after another

// Keys typed or tapped.
function typed(data) {
  keys = keys.then(async () => {
    if (keyboard) {
      await keyboard.key(data);
    } else if (ENTER.test(data)) {
      start();
    }
  });
}
terminal.onData(typed);

for (const button of document.querySelectorAll('#keys button')) {
  // The focus stays in the terminal, and the system keyboard with it when it shows.
  button.addEventListener('mousedown', (event) => event.preventDefault());
  button.addEventListener('click', () => {
    const key = button.dataset.key;
    if (key) {
      typed(BUTTON_KEYS[key] ?? key);
    } else {
      terminal.focus(); // brings up the system keyboard and its input methods
    }
  });
}

// The program's command line from the address: a replay, else a daily game, else a seed.
function gameArguments() {
  if (query.has('replay')) {
    return [`--replay=${query.get('replay')}`];
  }
  if (query.has('daily')) {
    return [query.get('daily') ? `--daily=${query.get('daily')}` : '--daily'];
  }
  return query.has('seed') ? [`--seed=${query.get('seed')}`] : [];
}

// The address of this page playing `code` back; without a code, the page's own.
function replayLink(code) {
  const link = new URL(location.pathname, location.href);
  if (code) {
    link.search = `?replay=${code}`;
  }
  return link.href;
}

// The line of a daily game and a link to its replay, with a button that copies both; with the
// world ranking, the day's ranking of the game's difficulty and, for a win, a button to submit it.
function offerToShare(line, code) {
  const share = document.getElementById('share');
  share.querySelector('span').textContent = line;
  share.querySelector('a').href = replayLink(code);
  share.querySelector('a').hidden = !code;
  share.querySelector('button').onclick = () =>
    navigator.clipboard.writeText(code ? `${line}\n${replayLink(code)}` : line).catch(() => {});
  const [, date, difficulty, outcome] = /^ぬもてか (\S+) (\S+) (\S+)/.exec(line) ?? [];
  const submit = document.getElementById('world-submit');
  submit.hidden = world.hidden || outcome !== '勝利' || !code;
  submit.onclick = () => submitWin(code);
  if (!world.hidden) {
    showWorldRanking(date, DIFFICULTIES.indexOf(difficulty) + 1);
  }
  share.hidden = false;
  fit();
}

// The world ranking, when numoteka-server serves the page (its API answers in JSON): the day's
// best ten of a difficulty, and a field for a code from the terminal game. Served as plain
// files, the page shows none of it. The service worker leaves the API's answers alone.
const DIFFICULTIES = ['ふつう', 'かんたん', 'むずかしい'];
const world = document.getElementById('world');

// The API's status and JSON answer; no answer when the server has no API.
async function api(path, body) {
  const request = body && { method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body) };
  const response = await fetch(new URL(`api/daily/${path}`, location.href), request);
  return { status: response.status, answer: await response.json().catch(() => null) };
}

// "YYYY-MM-DD" of today in Japan, the day of today's daily game.
const todayInJapan = () => new Date(Date.now() + 9 * 3600000).toISOString().slice(0, 10);

// The day a replay code is of: days since 2000-01-01, in its bytes 5 and 6.
function dayOfCode(code) {
  const bytes = atob(code.slice(0, 12).replaceAll('-', '+').replaceAll('_', '/'));
  const days = bytes.charCodeAt(5) | (bytes.charCodeAt(6) << 8);
  return new Date(Date.UTC(2000, 0, 1) + days * 86400000).toISOString().slice(0, 10);
}

async function showWorldRanking(date, difficulty) {
  const { status, answer } = await api(`${date}/ranking?difficulty=${difficulty}`)
    .catch(() => ({}));
  if (!answer) {
    return;
  }
  world.querySelector('h2').textContent =
    `世界ランキング ${date} ${DIFFICULTIES[difficulty - 1] ?? ''}`;
  world.querySelector('ol').replaceChildren(...(status === 200 ? answer.ranking : [])
    .map((entry) => {
      const item = document.createElement('li');
      const replay = document.createElement('a');
      replay.href = replayLink(entry.code);
      replay.textContent = 'リプレイ';
      item.append(`${entry.name} ${entry.turns}ターン `, replay);
      return item;
    }));
  world.hidden = false;
  fit();
}

// Submits a won daily game's code, says the place it took (or why not) and shows its ranking.
async function submitWin(code) {
  const said = document.getElementById('world-said');
  if (!/^[\w-]{12,}$/.test(code)) {
    said.textContent = 'リプレイコードが正しくありません';
    return;
  }
  const date = dayOfCode(code);
  const { status, answer } = await api(`${date}/wins`, { code }).catch(() => ({}));
  said.textContent = status === 201 ? `登録しました: ${answer.place}位` :
    status === 200 ? `登録ずみです: ${answer.place}位` :
    `登録できませんでした（${answer?.error ?? status ?? 'no answer'}）`;
  if (answer?.difficulty) {
    await showWorldRanking(date, answer.difficulty);
  }
}

// A code pasted with or without the line and link the game gives with it: its last word.
world.querySelector('form').addEventListener('submit', (event) => {
  event.preventDefault();
  submitWin(event.target.elements.code.value.match(/[A-Za-z0-9_-]{12,}/g)?.at(-1) ?? '');
});
showWorldRanking(todayInJapan(), 1);

// Starts the program; when it ends, Enter starts it again.
function start() {
  keyboard = new Keyboard();
  const input = keyboard;
  createNumoteka({
    arguments: gameArguments(),
    terminal: {
      // Asked as a terminal is asked: where does the cursor stand after "□"?
      drawsAmbiguousNarrow() {
        return new Promise((resolve) => terminal.write('\r□', () => {
          resolve(terminal.buffer.active.cursorX === 1);
          terminal.write('\r\x1b[K');
        }));
      },
      write: show,
      read: (most) => input.read(most),
      shareResult: offerToShare,
      programEnded(status) {
        keyboard = null;
        if (status === 2) {
          // A date or code the game refused: the next game is an ordinary one.
          terminal.write(BAD_ADDRESS + '\r\n');
          query = new URLSearchParams();
          history.replaceState(null, '', location.pathname);
        }
        terminal.write(PLAY_AGAIN + '\r\n');
      },
    },
    // The module compiled by index.html, once for every run.
    instantiateWasm(imports, done) {
      window.numotekaModule.then((module) => WebAssembly.instantiate(module, imports)
        .then((instance) => done(instance, module))).catch(failed);
      return {};
    },
    print: (text) => console.log(text),
    printErr: (text) => console.error(text),
  }).catch(failed);
}

function failed(error) {
  terminal.write(`\r\n${error}\r\n`);
}

start();
