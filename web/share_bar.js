// The bar under the terminal at the end of a daily game: the game's line, shown as the game
// gave it, a link to the game's replay, and a button that shares both: through the system's
// share sheet where the browser has one (phones), else copied. It says what came of it.

// The address of this page playing `code` back; without a code, the page's own.
export function replayLink(code) {
  const link = new URL(location.pathname, location.href);
  if (code) {
    link.search = `?replay=${code}`;
  }
  return link.href;
}

// Shares `line` and `link`: what to tell the player of it.
async function share(line, link) {
  if (navigator.share) {
    try {
      await navigator.share(link ? { text: line, url: link } : { text: line });
      return '';
    } catch (error) {
      // The player closed the sheet: nothing to say.
      return error?.name === 'AbortError' ? '' : `共有できませんでした（${error?.message || error}）`;
    }
  }
  try {
    await navigator.clipboard.writeText(link ? `${line}\n${link}` : line);
    return 'コピーしました';
  } catch (error) {
    return `コピーできませんでした（${error?.message || error}）`;
  }
}

// Shows `result` (a DailyResult, web/game_terminal.js) in the bar `element`.
export function showShareBar(element, { line, code }) {
  element.querySelector('span').textContent = line;
  const replay = element.querySelector('a');
  replay.href = replayLink(code);
  replay.hidden = !code;
  const said = element.querySelector('#share-said');
  said.textContent = '';
  const button = element.querySelector('#share-button');
  button.textContent = navigator.share ? '共有' : 'コピー';
  button.onclick = async () => {
    said.textContent = '';
    said.textContent = await share(line, code ? replayLink(code) : '');
  };
  element.hidden = false;
}
