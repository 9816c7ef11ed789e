// The row of buttons on a touch screen (index.html's #keys): 1, 2, 3, Backspace and Enter type
// into the line editor as keys do; the keyboard button brings up the system keyboard.
const BUTTON_KEYS = { enter: '\r', backspace: '\x7f' };

// `type(data)` takes what a button types; `focus()` gives the terminal the focus.
export function connectTouchKeys(row, type, focus) {
  for (const button of row.querySelectorAll('button')) {
    // The focus stays in the terminal, and the system keyboard with it when it shows.
    button.addEventListener('mousedown', (event) => event.preventDefault());
    button.addEventListener('click', () => {
      const key = button.dataset.key;
      if (key) {
        type(BUTTON_KEYS[key] ?? key);
      } else {
        focus(); // brings up the system keyboard and its input methods
      }
    });
  }
}
