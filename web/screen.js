// The terminal on the page: xterm.js set up with the page's font, fitted to the room the page
// leaves it, and what the game and the line editor need of it. Tab leaves it for the page's
// controls, as everywhere on a page.
import { Terminal } from './xterm.js';

const COLUMNS = 80;
// The terminal on a screen with a mouse, when the window has room for it.
const DESKTOP_FONT_SIZE = 15;
const DESKTOP_ROWS = 30;
// The page's font (index.html), the system's for what it lacks: names typed in; and the same
// with a tighter line box, for a touch screen too low for PHONE_ROWS rows of the other.
const FONT = 'Numoteka Mono';
const TIGHT_FONT = 'Numoteka Mono Tight';
const PHONE_ROWS = 16;
const TEXTS = { input: 'ゲームへの入力' };
export const touchScreen = matchMedia('(pointer: coarse)');

// Opens the terminal in `box`; `room()` says how wide and high the box may be, its padding
// included, once the page's other parts have theirs.
export async function openScreen(box, room) {
  // xterm.js measures its cells with the font it starts with, so the page's font comes first.
  await Promise.all([FONT, TIGHT_FONT].map((family) =>
    document.fonts.load(`${DESKTOP_FONT_SIZE}px "${family}"`, '戦').catch(() => {})));
  const terminal = new Terminal({
    cols: COLUMNS,
    rows: DESKTOP_ROWS,
    fontFamily: `"${FONT}", monospace`,
    fontSize: DESKTOP_FONT_SIZE,
    convertEol: true, // the game ends its lines with LF alone
    scrollback: 10000, // a whole game, to scroll back through
    cursorBlink: true,
  });
  terminal.open(box);
  terminal.textarea.setAttribute('aria-label', TEXTS.input);
  // Tab and Shift-Tab go to the browser, which moves the focus; the game takes no tab.
  terminal.attachCustomKeyEventHandler((event) => event.key !== 'Tab');

  // The font size and rows that show the whole terminal in its room.
  // On a touch screen the 80 columns fill the width; elsewhere the terminal keeps the desktop
  // size while the window is wide enough. The rows fill the height (at most 30 with a mouse);
  // what does not fit stays in the scrollback, above.
  function fit() {
    fitIn(FONT);
    if (touchScreen.matches && terminal.rows < PHONE_ROWS) {
      fitIn(TIGHT_FONT);
    }
  }

  function fitIn(font) {
    if (terminal.options.fontFamily !== `"${font}", monospace`) {
      terminal.options.fontFamily = `"${font}", monospace`;
    }
    const style = getComputedStyle(box);
    const { width: roomWidth, height: roomHeight } = room();
    const width = roomWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
    const height = roomHeight - parseFloat(style.paddingTop) - parseFloat(style.paddingBottom);
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

  // Writes `data` and resolves once xterm.js has taken it in.
  const write = (data) => new Promise((resolve) => terminal.write(data, resolve));

  // Moves the cursor to `place` (from cursor()). Past the last column stands for the start of
  // the next row, where the next character would go.
  function moveTo(place) {
    const x = place.x >= terminal.cols ? 0 : place.x;
    const y = place.x >= terminal.cols ? place.y + 1 : place.y;
    const row = Math.max(0, y - terminal.buffer.active.baseY);
    return `\x1b[${row + 1};${x + 1}H`;
  }

  return {
    terminal,
    fit,
    write,
    // Writes `data` and resolves once it has been drawn on the screen: after the next animation
    // frame, or a little later should the browser draw none (a page it does not show).
    show: (data) => new Promise((resolve) => terminal.write(data, () => {
      const timer = setTimeout(resolve, 100);
      requestAnimationFrame(() => setTimeout(() => {
        clearTimeout(timer);
        resolve();
      }, 0));
    })),
    // Where the cursor stands once everything written so far is taken in, its row counted from
    // the top of the scrollback.
    async cursor() {
      await write('');
      const buffer = terminal.buffer.active;
      return { x: buffer.cursorX, y: buffer.baseY + buffer.cursorY };
    },
    eraseFrom: (place) => write(moveTo(place) + '\x1b[J'),
    // Asked as a terminal is asked: where does the cursor stand after "□"?
    drawsAmbiguousNarrow: () => new Promise((resolve) => terminal.write('\r□', () => {
      resolve(terminal.buffer.active.cursorX === 1);
      terminal.write('\r\x1b[K');
    })),
  };
}
