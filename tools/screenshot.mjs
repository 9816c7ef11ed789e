// The README's picture of the board (doc/board.png): the web page in headless Chromium, playing
// the game of a fixed seed with fixed answers up to the turn menu of its fourth turn, its
// terminal photographed at a fixed size.
//
// The answers come from the native game (pauses shortened): after the name and the difficulty,
// a question whose last line offers numbered choices gets "1", any other gets Enter. The page
// gets each line once it shows what the native game showed before asking for it (blanks aside:
// xterm.js pads some characters).
//
// Usage: node tools/screenshot.mjs BUILD_WEB_FOLDER NUMOTEKA_QUICK OUTPUT_PNG
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

// playwright-core as web/package-lock.json pins it; it never downloads a browser.
const { chromium } = createRequire(new URL('../web/package.json', import.meta.url))('playwright-core');

const SEED = 2;
const NAME = 'たろう';
const TURN = 4;
const TURN_MENU = '1.ダイスを振る　2.ステータスを見る 3.あきらめる\n';
const FAREWELL = 'ゲームを終了します\n\n\n' + '/'.repeat(76) + '\n\n\n';
const [webFolder, quick, output] = process.argv.slice(2).map((given) => path.resolve(given));
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'numoteka-screenshot-'));

// What the native game shows before it asks for the line after `lines`.
function nativeShows(lines) {
  const env = { ...process.env, LANG: 'C.UTF-8', LC_ALL: '', LC_CTYPE: '', NUMOTEKA_RANKING_DIR: '' };
  const run = spawnSync(quick, ['--seed', String(SEED)], {
    input: lines.map((line) => line + '\n').join(''), cwd: scratch, env,
  });
  const shown = run.stdout.toString();
  if (!shown.endsWith(FAREWELL)) throw new Error(`no farewell after ${lines.length} lines`);
  return shown.slice(0, -FAREWELL.length);
}

const count = (text, part) => text.split(part).length - 1;
const lines = ['1', NAME, '1']; // play, the name, normal
const shown = lines.map((_, index) => nativeShows(lines.slice(0, index)));
for (;;) {
  const now = nativeShows(lines);
  shown.push(now);
  if (count(now, TURN_MENU) === TURN && now.endsWith(TURN_MENU)) break;
  if (lines.length > 1000) throw new Error('the turn never comes');
  const lastLine = now.replace(/\n$/, '').split('\n').pop();
  lines.push(/^1\./.test(lastLine) ? '1' : '');
}

const server = spawn('python3', ['-u', '-m', 'http.server', '-d', webFolder, '--bind', '127.0.0.1', '0'],
  { stdio: ['ignore', 'pipe', 'ignore'] });
const origin = await new Promise((resolve) => server.stdout.on('data', (text) => {
  const port = /port (\d+)/.exec(text)?.[1];
  if (port) resolve(`http://127.0.0.1:${port}`);
}));
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--hide-scrollbars',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--font-render-hinting=none'],
});
try {
  const page = await browser.newPage({ viewport: { width: 800, height: 600 }, deviceScaleFactor: 1 });
  await page.goto(`${origin}/?seed=${SEED}`);
  const screen = () => page.evaluate(() => {
    const buffer = window.numotekaTerminal.buffer.active;
    let text = '';
    for (let row = 0; row < buffer.length; ++row) text += buffer.getLine(row).translateToString(true);
    return text;
  });
  const bare = (text) => text.replace(/\s/g, '');
  let expected = '';
  for (let index = 0; index <= lines.length; ++index) {
    expected += shown[index].slice(index === 0 ? 0 : shown[index - 1].length);
    await page.waitForFunction(() => window.numotekaTerminal);
    for (const deadline = Date.now() + 30000; bare(await screen()) !== bare(expected);) {
      if (Date.now() > deadline) throw new Error(`the page does not show what comes before line ${index + 1}`);
      await page.waitForTimeout(20);
    }
    if (index === lines.length) break;
    await page.keyboard.insertText(lines[index]);
    await page.keyboard.press('Enter');
    expected += lines[index];
  }
  // A cursor that blinks, or a scroll bar that fades, would be caught at any moment.
  await page.evaluate(() => { window.numotekaTerminal.options.cursorBlink = false; });
  await page.addStyleTag({ content: '.xterm .xterm-scrollable-element > .scrollbar { display: none !important; }' });
  await page.evaluate(() => document.fonts.ready);
  await page.waitForTimeout(500);
  await page.locator('#terminal').screenshot({ path: output });
  console.log(`${output}: seed ${SEED}, ${lines.length} lines typed, turn ${TURN}`);
} finally {
  await browser.close();
  server.kill();
  fs.rmSync(scratch, { recursive: true, force: true });
}
