// The world ranking, when numoteka-server serves the page (its API answers in JSON): a day's
// best ten of a difficulty, chosen by tabs and by the day before or after, the wins this browser
// submitted marked as the player's; a field for a code from the terminal game, and the button
// that submits a daily game won on the page. Served as plain files, the page shows none of it.
// The service worker leaves the API's answers alone.
import { replayLink } from './share_bar.js';
import { todayInJapan } from './statistics.js';

// The difficulties' words, by their numbers less one.
const DIFFICULTIES = ['ふつう', 'かんたん', 'むずかしい'];
// A replay code in text pasted: what the game prints is base64url.
const CODE = /[A-Za-z0-9_-]{12,}/g;
// The codes this browser submitted and the server took, as the server keeps them.
const SUBMITTED = 'numoteka-submitted';
const DAY_MS = 24 * 3600 * 1000;
const FIRST_DAY = '2000-01-01';
// The page's own words for each kind of refusal the API answers with, beside its English.
const REFUSALS = {
  'malformed': 'リプレイコードが読めません',
  'not-won': 'その日のゲームに勝ったリプレイではありません',
  'wrong-day': 'リプレイコードの日付がちがいます',
  'future-day': 'まだ来ていない日のゲームです',
  'too-many': '送信が多すぎます。しばらくしてからどうぞ',
  'too-large': 'リプレイが長すぎます',
  'unavailable': 'サーバーが受けつけられません。しばらくしてからどうぞ',
  'not-found': '見つかりません',
  'internal': 'サーバーで問題が起きました',
};
// The kinds of the answers that name none, their status saying it.
const KIND_BY_STATUS = { 404: 'not-found', 500: 'internal', 503: 'unavailable' };
const TEXTS = {
  badCode: 'リプレイコードが正しくありません',
  added: (place, same) => `登録しました: ${place}位${same}`,
  already: (place, same) => `登録ずみです: ${place}位${same}`,
  sameGame: (name) => `（${name}さんと同じゲーム）`,
  refused: (why) => `登録できませんでした（${why}）`,
  otherRefusal: 'サーバーが受けつけませんでした',
  noAnswer: 'サーバーから答えがありません',
};

// The API's status and JSON answer; no answer when the server has no API.
async function api(path, body) {
  const request = body && { method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body) };
  const response = await fetch(new URL(`api/daily/${path}`, location.href), request);
  return { status: response.status, answer: await response.json().catch(() => null) };
}

// "YYYY-MM-DD" `days` after `date`.
const dayAfter = (date, days) => new Date(Date.parse(`${date}T00:00:00Z`) + days * DAY_MS)
  .toISOString().slice(0, 10);

function submittedCodes() {
  try {
    return new Set(JSON.parse(localStorage.getItem(SUBMITTED)) ?? []);
  } catch {
    return new Set();
  }
}

function keepSubmitted(...codes) {
  const kept = submittedCodes();
  codes.filter(Boolean).forEach((code) => kept.add(code));
  try {
    localStorage.setItem(SUBMITTED, JSON.stringify([...kept]));
  } catch {
    // Without storage the marks last as long as the page.
  }
  return kept;
}

export class WorldRanking {
  // `panel` is index.html's #world, `submitButton` the share bar's; `changed()` is called
  // whenever the panel's size may have changed.
  constructor(panel, submitButton, changed) {
    this.panel = panel;
    this.submitButton = submitButton;
    this.changed = changed;
    this.date = todayInJapan();
    this.difficulty = 1;
    this.mine = submittedCodes();
    panel.querySelector('form').addEventListener('submit', (event) => {
      event.preventDefault();
      // A code pasted with or without the line and link the game gives with it: its last word.
      this.submit(event.target.elements.code.value.match(CODE)?.at(-1) ?? '');
    });
    for (const tab of panel.querySelectorAll('[role="tab"]')) {
      tab.addEventListener('click', () => this.show(this.date, Number(tab.dataset.difficulty)));
    }
    panel.querySelector('#world-previous').addEventListener('click',
      () => this.show(dayAfter(this.date, -1), this.difficulty));
    panel.querySelector('#world-next').addEventListener('click',
      () => this.show(dayAfter(this.date, 1), this.difficulty));
    // Whether the server keeps a world ranking: today's on normal answers.
    this.available = this.show(this.date, 1);
  }

  // Shows the ranking of `date` and `difficulty` (1 to 3); false when the server has none.
  async show(date, difficulty) {
    const { status, answer } = await api(`${date}/ranking?difficulty=${difficulty}`)
      .catch(() => ({}));
    if (!answer) {
      return false;
    }
    this.date = date;
    this.difficulty = difficulty;
    this.panel.querySelector('h2').textContent =
      `世界ランキング ${date} ${DIFFICULTIES[difficulty - 1] ?? ''}`;
    for (const tab of this.panel.querySelectorAll('[role="tab"]')) {
      const chosen = Number(tab.dataset.difficulty) === difficulty;
      tab.setAttribute('aria-selected', String(chosen));
      tab.tabIndex = chosen ? 0 : -1;
    }
    this.panel.querySelector('[role="tabpanel"]').setAttribute('aria-labelledby',
      `world-tab-${difficulty}`);
    // There is no ranking of a day to come yet, nor of one before the first daily game.
    this.panel.querySelector('#world-next').disabled = date >= todayInJapan();
    this.panel.querySelector('#world-previous').disabled = date <= FIRST_DAY;
    const ranking = status === 200 ? answer.ranking : [];
    this.panel.querySelector('ol').replaceChildren(...ranking.map((entry) => {
      const item = document.createElement('li');
      const replay = document.createElement('a');
      replay.href = replayLink(entry.code);
      replay.textContent = 'リプレイ';
      // A game sent under several names shows once, under the first.
      const others = entry.others > 0 ? ` ほか${entry.others}人` : '';
      item.append(`${entry.name}${others} ${entry.turns}ターン `, replay);
      if (this.mine.has(entry.code)) {
        item.classList.add('mine');
        item.title = 'あなたの記録';
      }
      return item;
    }));
    this.panel.querySelector('#world-empty').hidden = ranking.length > 0;
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
      said.textContent = TEXTS.badCode;
      return;
    }
    const { status, answer } = await api('wins', { code }).catch(() => ({}));
    if (status === 200 || status === 201) {
      this.mine = keepSubmitted(code, answer.code);
    }
    // The same keys as a game ranked already: the same game, at its place.
    const same = answer?.sameGameAs ? TEXTS.sameGame(answer.sameGameAs) : '';
    said.textContent = status === 201 ? TEXTS.added(answer.place, same) :
      status === 200 ? TEXTS.already(answer.place, same) :
      TEXTS.refused(!answer ? TEXTS.noAnswer : REFUSALS[answer.kind ?? KIND_BY_STATUS[status]] ??
        TEXTS.otherRefusal);
    if (answer?.date && answer?.difficulty) {
      await this.show(answer.date, answer.difficulty);
    }
  }
}
