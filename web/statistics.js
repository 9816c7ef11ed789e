// The 統計 panel (index.html's #stats), from the Statistics the game gives
// (web/game_terminal.js), and the countdown to the next daily game, which comes at midnight in
// Japan.
const DAY_MS = 24 * 3600 * 1000;
const JAPAN_OFFSET_MS = 9 * 3600 * 1000;

// The milliseconds from `now` to the next midnight in Japan.
export function untilNextDay(now) {
  return DAY_MS - (((now + JAPAN_OFFSET_MS) % DAY_MS) + DAY_MS) % DAY_MS;
}

// "5:42:10": hours, minutes and seconds, the seconds left counted whole.
export function countdownText(milliseconds) {
  const seconds = Math.floor(milliseconds / 1000);
  const two = (number) => String(number).padStart(2, '0');
  return `${Math.floor(seconds / 3600)}:${two(Math.floor(seconds / 60) % 60)}:${two(seconds % 60)}`;
}

// "YYYY-MM-DD" of today in Japan.
export const todayInJapan = () => new Date(Date.now() + JAPAN_OFFSET_MS).toISOString().slice(0, 10);

export class StatisticsPanel {
  // `panel` is #stats, `button` the 統計 button that opens and closes it; `changed()` is called
  // whenever its size may have changed.
  constructor(panel, button, changed) {
    this.panel = panel;
    this.button = button;
    this.changed = changed;
    button.addEventListener('click', () => this.open(panel.hidden));
  }

  open(shown) {
    this.panel.hidden = !shown;
    this.button.setAttribute('aria-expanded', String(shown));
    this.changed();
  }

  // Shows `statistics`, a Statistics of the game.
  show(statistics) {
    const values = {
      days: statistics.daysPlayed, wins: statistics.wins, rate: `${statistics.winRate}%`,
      streak: statistics.streak, best: statistics.bestStreak,
    };
    for (const [name, value] of Object.entries(values)) {
      this.panel.querySelector(`[data-value="${name}"]`).textContent = String(value);
    }
    const most = Math.max(1, ...statistics.winsByTurns.map(({ wins }) => wins));
    this.panel.querySelector('ol').replaceChildren(...statistics.winsByTurns.map(({ turns, wins }) => {
      const item = document.createElement('li');
      const bar = document.createElement('span');
      bar.className = 'bar';
      bar.setAttribute('aria-hidden', 'true');
      bar.style.width = `${(8 * wins) / most}em`;
      item.append(`${turns}ターン `, bar, `${wins}回`);
      return item;
    }));
    this.panel.querySelector('#stats-no-wins').hidden = statistics.winsByTurns.length > 0;
    this.panel.querySelector('#stats-today').textContent = statistics.playedToday ?
      '今日のゲームは遊びました' : '今日のゲームはまだです';
    this.changed();
  }
}

// Counts down in `element` to the next daily game, every second, until stopped; when the day
// has turned, says so.
export function startCountdown(element, gameDay) {
  const tick = () => {
    element.textContent = todayInJapan() !== gameDay ? '新しい今日のゲームが遊べます' :
      `次のゲームまで ${countdownText(untilNextDay(Date.now()))}（日本時間の0時に変わります）`;
  };
  tick();
  const timer = setInterval(tick, 1000);
  element.hidden = false;
  return () => clearInterval(timer);
}
