// The page: xterm.js as the game's terminal (screen.js), what the user types going through a
// line editor (line_editor.js), on a touch screen from a row of buttons too (touch_keys.js).
// In the address, ?seed=N seeds the game as --seed N does; ?daily plays today's game (?daily=DATE
// a past day's) and ?replay=CODE plays a replay code back, as --daily and --replay do. At the end
// of a daily game a bar offers its line and a link to its replay, to copy (share_bar.js). Served
// by numoteka-server, the page also shows the day's world ranking and submits wins to it
// (world_ranking.js). The game talks to the page through the object of game_terminal.js.
import createNumoteka from './numoteka.js';
import { gameTerminal } from './game_terminal.js';
import { ENTER, LineEditor } from './line_editor.js';
import { openScreen, touchScreen } from './screen.js';
import { showShareBar } from './share_bar.js';
import { connectTouchKeys } from './touch_keys.js';
import { WorldRanking } from './world_ranking.js';

const PLAY_AGAIN = 'Enterキーでもう一度遊べます';
const BAD_ADDRESS = 'アドレスの日付かリプレイコードが正しくありません';

// Kept by the service worker for visits without a connection (on localhost or over https).
if ('serviceWorker' in navigator) {
  addEventListener('load', () => navigator.serviceWorker.register('sw.js').catch(() => {}));
}

const share = document.getElementById('share');
const world = document.getElementById('world');
const keyRow = document.getElementById('keys');
const screen = await openScreen(document.getElementById('terminal'), [keyRow, share, world]);
const terminal = screen.terminal;
// The terminal, for whoever looks at the page from outside (its tests do).
window.numotekaTerminal = terminal;
if (!touchScreen.matches) {
  terminal.focus(); // on a touch screen that would bring up the system keyboard at once
}

let query = new URLSearchParams(location.search);
let editor = null; // the running program's input, null once it has ended
let keys = Promise.resolve(); // keys are taken one after another

// Keys typed or tapped.
function typed(data) {
  keys = keys.then(async () => {
    if (editor) {
      await editor.key(data);
    } else if (ENTER.test(data)) {
      start();
    }
  });
}
terminal.onData(typed);
connectTouchKeys(keyRow, typed, () => terminal.focus());

const worldRanking = new WorldRanking(world, document.getElementById('world-submit'), screen.fit);

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

// Starts the program; when it ends, Enter starts it again.
function start() {
  editor = new LineEditor(screen);
  const input = editor;
  createNumoteka({
    arguments: gameArguments(),
    terminal: gameTerminal({
      drawsAmbiguousNarrow: screen.drawsAmbiguousNarrow,
      write: screen.show,
      read: (most) => input.read(most),
      shareResult(result) {
        showShareBar(share, result);
        screen.fit();
        worldRanking.offer(result);
      },
      programEnded(status) {
        editor = null;
        if (status === 2) {
          // A date or code the game refused: the next game is an ordinary one.
          terminal.write(BAD_ADDRESS + '\r\n');
          query = new URLSearchParams();
          history.replaceState(null, '', location.pathname);
        }
        terminal.write(PLAY_AGAIN + '\r\n');
      },
    }),
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
