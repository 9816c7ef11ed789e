// The page's line editor in Node alone, echoing on a screen of its own: a row per line, the
// full-width characters two columns wide, as xterm.js draws them.
//
// Usage: node --test web/test/line_editor_test.mjs (make web-test runs it first)
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { LineEditor } from '../line_editor.js';

// A screen whose rows hold what was written on them, cell by cell: a full-width character takes
// its cell and leaves the next empty (null).
function fakeScreen() {
  const rows = [[]];
  const at = { x: 0, y: 0 };
  const wide = (character) => /[\u1100-\u115F\u2E80-\uA4CF\uAC00-\uD7A3\uF900-\uFAFF\uFF00-\uFF60]/u
    .test(character);
  return {
    // Each row as a string, its empty cells left out.
    shown: () => rows.map((row) => row.filter((cell) => cell !== null).join('')),
    cursor: async () => ({ ...at }),
    write: async (text) => {
      for (const character of text) {
        if (character === '\r') {
          at.x = 0;
        } else if (character === '\n') {
          rows[++at.y] ??= [];
        } else {
          assert.ok(character >= ' ' || character === '\t', `control character ${character.codePointAt(0)} echoed`);
          rows[at.y].splice(at.x, wide(character) ? 2 : 1, ...(wide(character) ? [character, null] : [character]));
          at.x += wide(character) ? 2 : 1;
        }
      }
    },
    eraseFrom: async (place) => {
      rows.splice(place.y + 1);
      rows[place.y].splice(place.x);
      Object.assign(at, place);
    },
    at,
  };
}

const decoded = (bytes) => new TextDecoder().decode(bytes);

// Whether `promise` has settled once everything queued so far has run.
async function settled(promise) {
  let done = false;
  promise.then(() => { done = true; });
  await new Promise((resolve) => setImmediate(resolve));
  return done;
}

describe('typing a line', () => {
  test('keys are echoed, and the line is read once Enter ends it', async () => {
    const screen = fakeScreen();
    const editor = new LineEditor(screen);
    const reading = editor.read(100);
    await editor.key('a');
    await editor.key('b1');
    assert.deepEqual(screen.shown(), ['ab1']);
    assert.equal(await settled(reading), false, 'a line read before Enter');
    await editor.key('\r');
    assert.equal(decoded(await reading), 'ab1\n');
    assert.deepEqual(screen.shown(), ['ab1', '']);
    assert.deepEqual(screen.at, { x: 0, y: 1 });
  });

  test('an empty line is a line feed alone', async () => {
    const editor = new LineEditor(fakeScreen());
    await editor.key('\r');
    assert.equal(decoded(await editor.read(100)), '\n');
  });

  test('Backspace rubs out a full-width character whole, and each Backspace one character', async () => {
    const screen = fakeScreen();
    const editor = new LineEditor(screen);
    await editor.key('> ');
    await editor.key('たろx');
    assert.deepEqual(screen.at, { x: 7, y: 0 });
    await editor.key('\x7f');
    await editor.key('\b');
    assert.deepEqual(screen.shown(), ['> た']);
    assert.deepEqual(screen.at, { x: 4, y: 0 });
    await editor.key('う\r');
    assert.equal(decoded(await editor.read(100)), '> たう\n');
  });

  test('Backspace on an empty line rubs out nothing the game wrote', async () => {
    const screen = fakeScreen();
    await screen.write('名前>');
    const editor = new LineEditor(screen);
    await editor.key('\x7f\x7fa\x7f\x7fb\r');
    assert.deepEqual(screen.shown(), ['名前>b', '']);
    assert.equal(decoded(await editor.read(100)), 'b\n');
  });

  test('escape sequences (cursor and function keys) are ignored whole', async () => {
    const screen = fakeScreen();
    const editor = new LineEditor(screen);
    for (const key of ['\x1b[A', '\x1b[D', '\x1bOP', '\x1b[15~', '\x1b']) {
      await editor.key(key);
    }
    assert.deepEqual(screen.shown(), ['']);
    await editor.key('1\r');
    assert.equal(decoded(await editor.read(100)), '1\n');
  });

  test('other control characters are not typed; a tab is', async () => {
    const screen = fakeScreen();
    const editor = new LineEditor(screen);
    await editor.key('a\x01\x03\tb\r');
    assert.equal(decoded(await editor.read(100)), 'a\tb\n');
  });
});

describe('several lines at once', () => {
  test('a paste holds lines ended by CR, CR LF or LF, each read in turn', async () => {
    const screen = fakeScreen();
    const editor = new LineEditor(screen);
    await editor.key('1\r\nはなこ\n2\r3');
    assert.deepEqual(screen.shown(), ['1', 'はなこ', '2', '3']);
    assert.equal(decoded(await editor.read(100)), '1\n');
    assert.equal(decoded(await editor.read(100)), 'はなこ\n');
    assert.equal(decoded(await editor.read(100)), '2\n');
    assert.equal(await settled(editor.read(100)), false, 'the unfinished line "3" was read');
  });

  test('a read waiting for a line gets the next one finished, and the next read the one after', async () => {
    const editor = new LineEditor(fakeScreen());
    const first = editor.read(100);
    await editor.key('1\r2\r');
    assert.equal(decoded(await first), '1\n');
    assert.equal(decoded(await editor.read(100)), '2\n');
  });
});

describe('the end of input', () => {
  test('Ctrl-D on an empty line ends it: a read waiting gets no bytes, and so do later ones', async () => {
    const editor = new LineEditor(fakeScreen());
    const waiting = editor.read(100);
    await editor.key('\x04');
    assert.equal((await waiting).length, 0);
    assert.equal((await editor.read(100)).length, 0);
  });

  test('Ctrl-D on a line being typed does nothing', async () => {
    const screen = fakeScreen();
    const editor = new LineEditor(screen);
    await editor.key('ab\x04');
    assert.equal(await settled(editor.read(100)), false, 'the input ended');
    assert.deepEqual(screen.shown(), ['ab']);
  });

  test('lines finished before Ctrl-D are read first', async () => {
    const editor = new LineEditor(fakeScreen());
    await editor.key('1\r');
    await editor.key('\x04');
    assert.equal(decoded(await editor.read(100)), '1\n');
    assert.equal((await editor.read(100)).length, 0);
  });
});

describe('whether a read would wait', () => {
  test('keys typed are told: a line finished, or the input ended, and each line finished is heard of', async () => {
    let heard = 0;
    const editor = new LineEditor(fakeScreen(), () => { heard += 1; });
    await editor.key('12');
    assert.deepEqual([editor.waiting(), heard], [false, 0]);
    await editor.key('\r');
    assert.deepEqual([editor.waiting(), heard], [true, 1]);
    await editor.read(100);
    assert.equal(editor.waiting(), false);
    editor.end();
    assert.deepEqual([editor.waiting(), heard], [true, 2]);
    assert.equal((await editor.read(100)).length, 0);
  });
});

describe('reading at most so many bytes', () => {
  test('a long line comes in pieces of at most `most` bytes, never past its line feed', async () => {
    const editor = new LineEditor(fakeScreen());
    await editor.key('abcdefghij\rk\r');
    const pieces = [];
    for (let i = 0; i < 3; ++i) pieces.push(decoded(await editor.read(4)));
    assert.deepEqual(pieces, ['abcd', 'efgh', 'ij\n']);
    assert.equal(decoded(await editor.read(4)), 'k\n');
  });

  test('a piece may end inside a character: the bytes are UTF-8, cut where `most` says', async () => {
    const editor = new LineEditor(fakeScreen());
    await editor.key('たろう\r');
    const first = await editor.read(4);
    const rest = await editor.read(100);
    assert.deepEqual([first.length, rest.length], [4, 6]);
    assert.equal(decoded(new Uint8Array([...first, ...rest])), 'たろう\n');
  });
});
