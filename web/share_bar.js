// The bar under the terminal at the end of a daily game: the game's line, shown as the game
// gave it, a link to the game's replay, and a button that copies both.

// The address of this page playing `code` back; without a code, the page's own.
export function replayLink(code) {
  const link = new URL(location.pathname, location.href);
  if (code) {
    link.search = `?replay=${code}`;
  }
  return link.href;
}

// Shows `result` (a DailyResult, web/game_terminal.js) in the bar `element`.
export function showShareBar(element, { line, code }) {
  element.querySelector('span').textContent = line;
  const replay = element.querySelector('a');
  replay.href = replayLink(code);
  replay.hidden = !code;
  element.querySelector('button').onclick = () =>
    navigator.clipboard.writeText(code ? `${line}\n${replayLink(code)}` : line).catch(() => {});
  element.hidden = false;
}
