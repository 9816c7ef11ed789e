// The world ranking, when numoteka-server serves the page (its API answers in JSON): a day's
// best ten of a difficulty, a field for a code from the terminal game, and the button that
// submits a daily game won on the page. Served as plain files, the page shows none of it. The
// service worker leaves the API's answers alone.
import { replayLink } from './share_bar.js';

// The difficulties' words, by their numbers less one.
const DIFFICULTIES = ['ふつう', 'かんたん', 'むずかしい'];
// A replay code in text pasted: what the game prints is base64url.
const CODE = /[A-Za-z0-9_-]{12,}/g;

// The API's status and JSON answer; no answer when the server has no API.
async function api(path, body) {
  const request = body && { method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body) };
  const response = await fetch(new URL(`api/daily/${path}`, location.href), request);
  return { status: response.status, answer: await response.json().catch(() => null) };
}

// "YYYY-MM-DD" of today in Japan, the day of today's daily game.
const todayInJapan = () => new Date(Date.now() + 9 * 3600000).toISOString().slice(0, 10);

export class WorldRanking {
  // `panel` is index.html's #world, `submitButton` the share bar's; `changed()` is called
  // whenever the panel's size may have changed.
  constructor(panel, submitButton, changed) {
    this.panel = panel;
    this.submitButton = submitButton;
    this.changed = changed;
    panel.querySelector('form').addEventListener('submit', (event) => {
      event.preventDefault();
      // A code pasted with or without the line and link the game gives with it: its last word.
      this.submit(event.target.elements.code.value.match(CODE)?.at(-1) ?? '');
    });
    // Whether the server keeps a world ranking: today's on normal answers.
    this.available = this.show(todayInJapan(), 1);
  }

  // Shows the ranking of `date` and `difficulty` (1 to 3); false when the server has none.
  async show(date, difficulty) {
    const { status, answer } = await api(`${date}/ranking?difficulty=${difficulty}`)
      .catch(() => ({}));
    if (!answer) {
      return false;
    }
    this.panel.querySelector('h2').textContent =
      `世界ランキング ${date} ${DIFFICULTIES[difficulty - 1] ?? ''}`;
    this.panel.querySelector('ol').replaceChildren(...(status === 200 ? answer.ranking : [])
      .map((entry) => {
        const item = document.createElement('li');
        const replay = document.createElement('a');
        replay.href = replayLink(entry.code);
        replay.textContent = 'リプレイ';
        // A game sent under several names shows once, under the first.
        const others = entry.others > 0 ? ` ほか${entry.others}人` : '';
        item.append(`${entry.name}${others} ${entry.turns}ターン `, replay);
        return item;
      }));
    this.panel.hidden = false;
    this.changed();
    return true;
  }

  // A daily game has ended (`result`, a DailyResult of web/game_terminal.js): its day's ranking
  // of its difficulty, and for a win with a code played here, the button that submits it.
  async offer({ date, difficulty, outcome, code, replay }) {
    this.submitButton.hidden = true;
    if (!(await this.available)) {
      return;
    }
    this.submitButton.onclick = () => this.submit(code);
    this.submitButton.hidden = outcome !== 'won' || !code || replay;
    this.changed();
    await this.show(date, difficulty);
  }

  // Submits a won daily game's code (the server reads its day from it), says the place it took
  // (or why not) and shows the ranking it went into.
  async submit(code) {
    const said = this.panel.querySelector('#world-said');
    if (!/^[\w-]{12,}$/.test(code)) {
      said.textContent = 'リプレイコードが正しくありません';
      return;
    }
    const { status, answer } = await api('wins', { code }).catch(() => ({}));
    // The same keys as a game ranked already: the same game, at its place.
    const same = answer?.sameGameAs ? `（${answer.sameGameAs}さんと同じゲーム）` : '';
    said.textContent = status === 201 ? `登録しました: ${answer.place}位${same}` :
      status === 200 ? `登録ずみです: ${answer.place}位${same}` :
      `登録できませんでした（${answer?.error ?? status ?? 'no answer'}）`;
    if (answer?.date && answer?.difficulty) {
      await this.show(answer.date, answer.difficulty);
    }
  }
}
