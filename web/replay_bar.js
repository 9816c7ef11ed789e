// The bar above the terminal while a replay plays (index.html's #replay): what it is, its pace
// (一時停止/再生, ×1, ×2, ×4, 次のターン), and at its end the way to today's game. The pace is
// the game's own (its console waits before each key): this bar only says what the player chose,
// through paceControls(), and cuts a wait short when that changes.
export class ReplayBar {
  // `bar` is #replay; `playToday()` and `watchAgain()` are what its end offers; `changed()` is
  // called whenever the bar's size may have changed.
  constructor(bar, { playToday, watchAgain, changed }) {
    this.bar = bar;
    this.changed = changed;
    this.pauseButton = bar.querySelector('#replay-pause');
    this.speedButtons = [...bar.querySelectorAll('[data-speed]')];
    this.controls = { paused: false, speed: 1, turnSkips: 0 };
    this.wake = () => {};
    this.pauseButton.addEventListener('click', () => this.choose({ paused: !this.controls.paused }));
    for (const button of this.speedButtons) {
      button.addEventListener('click', () => this.choose({ speed: Number(button.dataset.speed) }));
    }
    bar.querySelector('#replay-turn').addEventListener('click',
      () => this.choose({ turnSkips: this.controls.turnSkips + 1 }));
    bar.querySelector('#play-today').addEventListener('click', playToday);
    bar.querySelector('#replay-again').addEventListener('click', watchAgain);
  }

  // A replay of the daily game of `date` begins: at ×1, playing.
  starts(date) {
    this.controls = { paused: false, speed: 1, turnSkips: 0 };
    this.bar.querySelector('#replay-label').textContent = `リプレイ ${date}（記録はされません）`;
    this.bar.querySelector('#replay-controls').hidden = false;
    this.bar.querySelector('#replay-end').hidden = true;
    this.bar.hidden = false;
    this.show();
  }

  // The replay has played to its end.
  ended() {
    this.bar.querySelector('#replay-label').textContent += ' おわり';
    this.bar.querySelector('#replay-controls').hidden = true;
    this.bar.querySelector('#replay-end').hidden = false;
    this.changed();
  }

  hide() {
    this.bar.hidden = true;
    this.changed();
  }

  choose(change) {
    Object.assign(this.controls, change);
    this.show();
    this.wake();
  }

  show() {
    this.pauseButton.textContent = this.controls.paused ? '再生' : '一時停止';
    for (const button of this.speedButtons) {
      button.setAttribute('aria-pressed', String(Number(button.dataset.speed) === this.controls.speed));
    }
    this.changed();
  }

  // The game's terminal's paceControls().
  paceControls() {
    return { ...this.controls };
  }

  // The game's terminal's paceSleep(): over when the time is, or at once when the player chooses.
  paceSleep(milliseconds) {
    const start = performance.now();
    return new Promise((resolve) => {
      const timer = setTimeout(() => done(milliseconds), milliseconds);
      const done = (waited) => {
        clearTimeout(timer);
        this.wake = () => {};
        resolve(Math.max(0, Math.min(milliseconds, Math.round(waited))));
      };
      this.wake = () => done(performance.now() - start);
    });
  }
}
