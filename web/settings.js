// The 設定 panel (index.html's #settings): how keys reach the game, each off until the player
// turns it on, kept in the browser. The game's console does the work: the page hands it these
// through paceControls() (web/game_terminal.js), which the console asks at every wait, so that a
// change counts at once.
const KEPT = 'numoteka-settings';
// The times after which 自動で進む types Enter, in milliseconds.
const DELAYS = [300, 500, 800, 1000, 1500, 2000];
const DEFAULT_DELAY = 800;
const TEXTS = { seconds: (milliseconds) => `${milliseconds / 1000}秒` };

function kept() {
  try {
    return JSON.parse(localStorage.getItem(KEPT)) ?? {};
  } catch {
    return {};
  }
}

export class Settings {
  // `panel` is #settings and `button` its 設定 button; `changed()` is called whenever a setting
  // or the panel's size changed.
  constructor(panel, button, changed) {
    this.panel = panel;
    this.button = button;
    this.changed = changed;
    this.autoAdvance = panel.querySelector('#auto-advance');
    this.delay = panel.querySelector('#auto-delay');
    this.halfWidth = panel.querySelector('#half-width');
    this.delay.replaceChildren(...DELAYS.map((milliseconds) => new Option(TEXTS.seconds(milliseconds),
      String(milliseconds))));
    const { autoAdvance = false, delay = DEFAULT_DELAY, halfWidthDigits = false } = kept();
    this.autoAdvance.checked = autoAdvance === true;
    this.delay.value = String(DELAYS.includes(delay) ? delay : DEFAULT_DELAY);
    this.halfWidth.checked = halfWidthDigits === true;
    this.show();
    for (const input of [this.autoAdvance, this.delay, this.halfWidth]) {
      input.addEventListener('change', () => this.keep());
    }
    button.addEventListener('click', () => this.open(panel.hidden));
  }

  open(shown) {
    this.panel.hidden = !shown;
    this.button.setAttribute('aria-expanded', String(shown));
    this.changed();
  }

  show() {
    this.delay.disabled = !this.autoAdvance.checked;
  }

  keep() {
    this.show();
    try {
      localStorage.setItem(KEPT, JSON.stringify({ autoAdvance: this.autoAdvance.checked,
        delay: Number(this.delay.value), halfWidthDigits: this.halfWidth.checked }));
    } catch {
      // Without storage the settings last as long as the page.
    }
    this.changed();
  }

  // The settings' part of the game's PaceControls.
  controls() {
    return { autoAdvance: this.autoAdvance.checked ? Number(this.delay.value) : -1,
      halfWidthDigits: this.halfWidth.checked };
  }
}
