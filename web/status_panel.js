// The status panel (index.html's #status): both contestants' records and the round, as the game
// hands them over whenever they change (showStatus() of web/game_terminal.js); never read from
// the text it prints.
const GOAL = 30;
const TEXTS = {
  waiting: 'ゲームが始まると表示されます',
  turn: (turn) => `${turn}ターン目`,
  start: 'スタート',
  goal: 'ゴール',
  nameless: '（名前なし）',
};

// Where a contestant stands, as the board names it.
const square = (position) => (position <= 0 ? TEXTS.start : position >= GOAL ? TEXTS.goal : String(position));

export class StatusPanel {
  // `panel` is #status.
  constructor(panel) {
    this.panel = panel;
    this.status = null;
    panel.querySelector('#status-turn').textContent = TEXTS.waiting;
  }

  // Shows `status`, a Status of the game; says whether a game plays now.
  show(status) {
    this.status = status;
    const playing = this.playing();
    this.panel.querySelector('#status-turn').textContent = status.turn > 0 ? TEXTS.turn(status.turn) :
      TEXTS.waiting;
    this.panel.querySelector('table').hidden = status.turn === 0;
    status.players.forEach((player, index) => {
      const [name, ...cells] = this.panel.querySelectorAll(`[data-player="${index}"] > *`);
      name.textContent = player.name || TEXTS.nameless;
      [player.hp, player.attack, player.defense, square(player.position), player.restTurns]
        .forEach((value, at) => { cells[at].textContent = String(value); });
    });
    return playing;
  }

  // A game is on: a round has begun and nobody has reached the goal.
  playing() {
    return this.status !== null && this.status.turn > 0 &&
      this.status.players.every((player) => player.position < GOAL);
  }

  clear() {
    this.status = null;
    this.panel.querySelector('#status-turn').textContent = TEXTS.waiting;
    this.panel.querySelector('table').hidden = true;
  }
}
