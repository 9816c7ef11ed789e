// What the game prints, for screen readers: index.html's #transcript, a polite log. Each line
// goes in once it is whole, and what stands on the line the game waits on goes in when it
// waits (a prompt such as "--->"), so that a line is read once, as it comes; the oldest go.
const MOST_LINES = 100;

export class Transcript {
  constructor(log) {
    this.log = log;
    this.decoder = new TextDecoder();
    this.line = '';
  }

  // Takes the game's UTF-8 `bytes`.
  write(bytes) {
    const lines = (this.line + this.decoder.decode(bytes, { stream: true })).split('\n');
    this.line = lines.pop();
    lines.forEach((line) => this.add(line));
  }

  // The game waits: the start of the line it waits on is read now.
  waits() {
    if (this.line !== '') {
      this.add(this.line);
      this.line = '';
    }
  }

  add(line) {
    const shown = line.replace(/\s+$/u, '');
    if (shown === '') {
      return;
    }
    const entry = document.createElement('p');
    entry.textContent = shown;
    this.log.append(entry);
    while (this.log.childElementCount > MOST_LINES) {
      this.log.firstElementChild.remove();
    }
  }

  clear() {
    this.log.replaceChildren();
    this.line = '';
  }
}
