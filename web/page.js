// The page: xterm.js as the game's terminal (screen.js), what the user types going through a
// line editor (line_editor.js), on a touch screen from a row of buttons too (touch_keys.js).
// In the address, ?seed=N seeds the game as --seed N does; ?daily plays today's game (?daily=DATE
// a past day's) and ?replay=CODE plays a replay code back, as --daily and --replay do: a replay
// at the pace of a person, with a bar above the terminal to pause it, speed it up or run it on
// to the next turn, and at its end the way to today's game (replay_bar.js). At the end of a
// daily game a bar offers its line and a link to its replay, to share, and counts down to the
// next day's game (share_bar.js); the 統計 panel shows what the player's daily games came to
// (statistics.js). Served by numoteka-server, the page also shows the world ranking and submits
// wins to it (world_ranking.js). The game talks to the page through the object of
// game_terminal.js.
import createNumoteka from './numoteka.js';
import { gameTerminal } from './game_terminal.js';
import { ENTER, LineEditor } from './line_editor.js';
import { ReplayBar } from './replay_bar.js';
import { openScreen, touchScreen } from './screen.js';
import { showShareBar } from './share_bar.js';
import { StatisticsPanel, startCountdown, todayInJapan } from './statistics.js';
import { connectTouchKeys } from './touch_keys.js';
import { WorldRanking } from './world_ranking.js';

const PLAY_AGAIN = 'Enterキーでもう一度遊べます';
const PLAY_TODAY = 'Enterキーで今日のゲームを遊べます';
const BAD_ADDRESS = 'アドレスの日付かリプレイコードが正しくありません';

// Kept by the service worker for visits without a connection (on localhost or over https).
if ('serviceWorker' in navigator) {
  addEventListener('load', () => navigator.serviceWorker.register('sw.js').catch(() => {}));
}

const share = document.getElementById('share');
const world = document.getElementById('world');
const keyRow = document.getElementById('keys');
const replayBar = document.getElementById('replay');
const tools = document.getElementById('tools');
const statsPanel = document.getElementById('stats');
const screen = await openScreen(document.getElementById('terminal'),
  [replayBar, keyRow, share, tools, statsPanel, world]);
const terminal = screen.terminal;
// The terminal, for whoever looks at the page from outside (its tests do).
window.numotekaTerminal = terminal;
// On a touch screen the terminal's focus would bring up the system keyboard at once.
const focusTerminal = () => {
  if (!touchScreen.matches) {
    terminal.focus();
  }
};
focusTerminal();
// After any of the page's buttons the keys go to the game again.
document.addEventListener('click', (event) => {
  if (event.target.closest('button') && !event.target.closest('#keys')) {
    focusTerminal();
  }
});

let query = new URLSearchParams(location.search);
let editor = null; // the running program's input, null once it has ended
let replaying = false; // the running program, or the one that ended last, plays a replay back
let keys = Promise.resolve(); // keys are taken one after another
let stopCountdown = () => {};

// Keys typed or tapped. A replay types its own: the player's wait for its end.
function typed(data) {
  keys = keys.then(async () => {
    if (editor && !replaying) {
      await editor.key(data);
    } else if (!editor && ENTER.test(data)) {
      if (replaying) {
        playToday();
      } else {
        start();
      }
    }
  });
}
terminal.onData(typed);
connectTouchKeys(keyRow, typed, () => terminal.focus());

const worldRanking = new WorldRanking(world, document.getElementById('world-submit'), screen.fit);
const statistics = new StatisticsPanel(statsPanel, document.getElementById('stats-button'), screen.fit);
const replay = new ReplayBar(replayBar, { playToday, watchAgain: () => start(), changed: screen.fit });

// Today's game in Japan, whatever day the replay watched was.
function playToday() {
  if (editor) {
    return;
  }
  query = new URLSearchParams('daily');
  history.replaceState(null, '', `${location.pathname}?daily`);
  replay.hide();
  start();
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

// Starts the program; when it ends, Enter starts it again (after a replay, today's game).
function start() {
  if (editor) {
    return;
  }
  editor = new LineEditor(screen);
  const input = editor;
  replaying = query.has('replay');
  let replayed = false;
  createNumoteka({
    arguments: gameArguments(),
    terminal: gameTerminal({
      drawsAmbiguousNarrow: screen.drawsAmbiguousNarrow,
      write: screen.show,
      read: (most) => input.read(most),
      paceSleep: (milliseconds) => replay.paceSleep(milliseconds),
      paceControls: () => replay.paceControls(),
      replayStarts({ date }) {
        replayed = true;
        replay.starts(date);
      },
      shareResult(result) {
        showShareBar(share, result);
        stopCountdown();
        if (!result.replay) {
          stopCountdown = startCountdown(document.getElementById('countdown'), todayInJapan());
        }
        screen.fit();
        worldRanking.offer(result);
      },
      showStatistics: (shown) => statistics.show(shown),
      programEnded(status) {
        editor = null;
        if (status === 2) {
          // A date or code the game refused: the next game is an ordinary one.
          terminal.write(BAD_ADDRESS + '\r\n');
          query = new URLSearchParams();
          history.replaceState(null, '', location.pathname);
          replaying = false;
        }
        if (replayed) {
          replay.ended();
        }
        terminal.write((replaying ? PLAY_TODAY : PLAY_AGAIN) + '\r\n');
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
