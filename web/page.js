// The page: a front door above the terminal (the game's name, a line in English, 今日のゲーム and
// ふつうに遊ぶ, which start the games of ?daily and of the bare address, and the panels'
// buttons); xterm.js as the game's terminal (screen.js), what the user types going through a line
// editor (line_editor.js), on a touch screen from a row of buttons too (touch_keys.js).
// In the address, ?seed=N seeds the game as --seed N does; ?daily plays today's game (?daily=DATE
// a past day's) and ?replay=CODE plays a replay code back, as --daily and --replay do: a replay
// at the pace of a person, with a bar above the terminal to pause it, speed it up or run it on
// to the next turn, and at its end the way to today's game (replay_bar.js). At the end of a
// daily game a bar offers its line and a link to its replay, to share, and counts down to the
// next day's game (share_bar.js); the 統計 panel shows what the player's daily games came to
// (statistics.js), the status panel both contestants' records (status_panel.js), the 設定 panel
// how keys reach the game (settings.js), and a log read by screen readers what the game prints
// (transcript.js). Served by numoteka-server, the page also shows the world ranking and submits
// wins to it (world_ranking.js). The game talks to the page through the object of
// game_terminal.js.
import createNumoteka from './numoteka.js';
import { gameTerminal } from './game_terminal.js';
import { ENTER, LineEditor } from './line_editor.js';
import { ReplayBar } from './replay_bar.js';
import { openScreen, touchScreen } from './screen.js';
import { Settings } from './settings.js';
import { showShareBar } from './share_bar.js';
import { StatisticsPanel, startCountdown, todayInJapan } from './statistics.js';
import { StatusPanel } from './status_panel.js';
import { connectTouchKeys } from './touch_keys.js';
import { Transcript } from './transcript.js';
import { WorldRanking } from './world_ranking.js';

const TEXTS = {
  playAgain: 'Enterキーでもう一度遊べます',
  playToday: 'Enterキーで今日のゲームを遊べます',
  badAddress: 'アドレスの日付かリプレイコードが正しくありません',
  abandon: 'いまのゲームをやめて、新しいゲームを始めますか？',
};

// Kept by the service worker for visits without a connection (on localhost or over https).
if ('serviceWorker' in navigator) {
  addEventListener('load', () => navigator.serviceWorker.register('sw.js').catch(() => {}));
}

const byId = (id) => document.getElementById(id);
const share = byId('share');
const world = byId('world');
const keyRow = byId('keys');
const replayBar = byId('replay');
const side = byId('side');
const statusPanel = byId('status');
const box = byId('terminal');

// The room the terminal has: the window less the page's parts above and below it, and less the
// panels beside it or the keys at the side where they stand there.
function terminalRoom() {
  const page = document.documentElement;
  const fixed = (element) => getComputedStyle(element).position === 'fixed';
  const stacked = [...document.body.children].filter((element) => element.id !== 'play' &&
    !fixed(element));
  const beside = side.offsetTop < box.offsetTop + box.offsetHeight && side.offsetLeft > box.offsetLeft;
  const keysBeside = fixed(keyRow) ? keyRow.offsetWidth : 0;
  return {
    width: page.clientWidth - keysBeside - (beside ? side.offsetWidth + 8 : 0),
    height: page.clientHeight - stacked.reduce((sum, element) => sum + element.offsetHeight, 0) -
      (beside ? 0 : side.offsetHeight),
  };
}

const screen = await openScreen(box, terminalRoom);
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
let ended = Promise.resolve(); // when the running program has ended
let muted = false; // the running program is being stopped: it shows nothing and waits for nothing
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

// Whatever changes the page's shape fits the terminal again.
const fit = () => screen.fit();
const transcript = new Transcript(byId('transcript'));
const status = new StatusPanel(statusPanel);
const settings = new Settings(byId('settings'), byId('settings-button'), () => {
  replay.wake();
  fit();
});
const worldRanking = new WorldRanking(world, byId('world-submit'), fit);
const statistics = new StatisticsPanel(byId('stats'), byId('stats-button'), fit);
const replay = new ReplayBar(replayBar, { playToday, watchAgain: () => start(), changed: fit });

// A panel opened and closed by its button in the front door.
function disclose(button, panel, shown) {
  button.onclick = () => disclose(button, panel, panel.hidden);
  panel.hidden = !shown;
  button.setAttribute('aria-expanded', String(shown));
  fit();
}
// On a phone the status and the world ranking start folded; elsewhere the status stands beside
// the terminal.
disclose(byId('status-button'), statusPanel, !touchScreen.matches);
worldRanking.available.then((available) => {
  const button = byId('world-button');
  button.hidden = !available;
  if (available) {
    disclose(button, world, !touchScreen.matches);
  }
});

// Held sideways, a phone gives the terminal the screen while a game plays.
function showStatus(shown) {
  document.body.classList.toggle('playing', status.show(shown));
  fit();
}

// The address of a game, with the language kept.
function addressOf(game) {
  const lang = new URLSearchParams(location.search).get('lang');
  const search = new URLSearchParams(game);
  if (lang) {
    search.set('lang', lang);
  }
  const text = search.toString().replace(/=(?=&|$)/g, '');
  return text ? `${location.pathname}?${text}` : location.pathname;
}

// The front door's buttons: the games of ?daily and of the bare address, in place of what runs.
async function playFromTheDoor(game) {
  if (status.playing() && !confirm(TEXTS.abandon)) {
    return;
  }
  await stopProgram();
  history.replaceState(null, '', addressOf(game));
  query = new URLSearchParams(game);
  terminal.reset();
  transcript.clear();
  status.clear();
  document.body.classList.remove('playing');
  share.hidden = true;
  replay.hide();
  replaying = false;
  start();
}
byId('play-daily').addEventListener('click', () => playFromTheDoor('daily'));
byId('play-free').addEventListener('click', () => playFromTheDoor(''));

// Ends the running program: its input ends, and what it still does shows nowhere and waits for
// nothing.
async function stopProgram() {
  if (editor) {
    muted = true;
    editor.end();
    await ended;
    muted = false;
  }
}

// Today's game in Japan, whatever day the replay watched was.
function playToday() {
  if (editor) {
    return;
  }
  query = new URLSearchParams('daily');
  history.replaceState(null, '', addressOf('daily'));
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
  editor = new LineEditor(screen, () => replay.wake());
  const input = editor;
  replaying = query.has('replay');
  let replayed = false;
  let programEnded;
  ended = new Promise((resolve) => { programEnded = resolve; });
  const quiet = (live) => (...given) => (muted ? undefined : live(...given));
  createNumoteka({
    arguments: gameArguments(),
    terminal: gameTerminal({
      drawsAmbiguousNarrow: screen.drawsAmbiguousNarrow,
      write: (bytes) => {
        if (muted) {
          return Promise.resolve();
        }
        transcript.write(bytes);
        return screen.show(bytes);
      },
      read: (most) => {
        transcript.waits();
        return input.read(most);
      },
      keysWaiting: () => input.waiting(),
      paceSleep: (milliseconds) => {
        if (muted) {
          return Promise.resolve(0);
        }
        transcript.waits();
        return replay.paceSleep(milliseconds);
      },
      paceControls: () => (muted ? { paused: false, speed: 0, turnSkips: 0, autoAdvance: -1 } :
        { ...replay.paceControls(), ...settings.controls() }),
      replayStarts: quiet(({ date }) => {
        replayed = true;
        replay.starts(date);
      }),
      shareResult: quiet((result) => {
        showShareBar(share, result);
        stopCountdown();
        if (!result.replay) {
          stopCountdown = startCountdown(byId('countdown'), todayInJapan());
        }
        fit();
        worldRanking.offer(result);
      }),
      showStatistics: (shown) => statistics.show(shown),
      showStatus: quiet(showStatus),
      programEnded(code) {
        editor = null;
        programEnded();
        if (muted) {
          return;
        }
        if (code === 2) {
          // A date or code the game refused: the next game is an ordinary one.
          terminal.write(TEXTS.badAddress + '\r\n');
          query = new URLSearchParams();
          history.replaceState(null, '', addressOf(''));
          replaying = false;
        }
        if (replayed) {
          replay.ended();
        }
        terminal.write((replaying ? TEXTS.playToday : TEXTS.playAgain) + '\r\n');
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
