// Help while typing: a word's one line of help on hover, completion of
// mnemonics, directives, hardware names and the project's labels, and F1 to
// open the help panel at the word under the cursor.
import { hoverTooltip, keymap } from '@codemirror/view';
import { autocompletion } from '@codemirror/autocomplete';

const WORD = /[\w.]/;

// The word around `pos` in `text`: letters, digits, '_' and '.', so that
// ".byte" and "outer.local" are one word.
export function wordAt(text, pos) {
  let from = pos;
  let to = pos;
  while (from > 0 && WORD.test(text[from - 1])) from--;
  while (to < text.length && WORD.test(text[to])) to++;
  return from === to ? null : { from, to, word: text.slice(from, to) };
}

const GLOBAL_LABEL = /^\s*([A-Za-z_]\w*)\s*:/;
const LOCAL_LABEL = /^\s*(\.[A-Za-z_]\w*)\s*:/;
const CONSTANT = /^\s*([A-Za-z_]\w*)\s*=|^\s*\.equ\s+([A-Za-z_]\w*)\s*,/i;

// The labels a line can name: every global label and constant of the
// project's other sources (`texts`) and of `current`, and the local labels
// of `current` that sit in the scope of the global label above `line`
// (1-based).
export function labelsInScope(texts, current, line) {
  const names = new Set();
  for (const text of [...texts, current]) {
    for (const row of text.split('\n')) {
      const match = GLOBAL_LABEL.exec(row) || CONSTANT.exec(row);
      if (match) names.add(match[1] || match[2]);
    }
  }
  const rows = current.split('\n');
  let start = Math.min(line, rows.length) - 1;
  while (start > 0 && !GLOBAL_LABEL.test(rows[start])) start--;
  for (let i = start; i < rows.length; i++) {
    if (i > start && GLOBAL_LABEL.test(rows[i])) break;
    const local = LOCAL_LABEL.exec(rows[i]);
    if (local) names.add(local[1]);
  }
  return [...names];
}

// The completion entries for `typed` (the start of a word): directives when
// it begins with '.', else mnemonics, registers and hardware names; labels
// in both cases.
export function completionsFor(typed, help, labels) {
  const options = [];
  const dot = typed.startsWith('.');
  for (const [name, entry] of help) {
    if (entry.kind === 'directive' ? !dot : dot) continue;
    const label = entry.kind === 'register' ? name.toLowerCase().replace(/^(flags|pc|sp)$/, (w) => w.toUpperCase()) : name;
    options.push({ label, type: { instruction: 'keyword', directive: 'keyword', register: 'variable' }[entry.kind] || 'constant',
      detail: entry.kind === 'hardware' ? entry.file : entry.kind, info: entry.line });
  }
  // An include's names are labels of the project too: offered once, with their help.
  for (const label of labels) {
    if (label.startsWith('.') === dot && !help.has(label)) options.push({ label, type: 'function', detail: 'label' });
  }
  return options;
}

// The editor's extensions. help: the panel (lookup, names, show); labels:
// (state, pos) => the label names in scope there.
export function assistance(help, labels) {
  const hover = hoverTooltip((view, pos) => {
    const line = view.state.doc.lineAt(pos);
    const found = wordAt(line.text, pos - line.from);
    if (!found) return null;
    const entry = help.lookup(found.word);
    if (!entry) return null;
    return {
      pos: line.from + found.from,
      end: line.from + found.to,
      above: true,
      create() {
        const dom = document.createElement('div');
        dom.className = 'cm-help-tip';
        dom.textContent = entry.line;
        return { dom };
      },
    };
  }, { hoverTime: 300 });

  const complete = autocompletion({
    override: [(context) => {
      const typed = context.matchBefore(/\.?[\w]*(?:\.\w*)?/);
      if (!typed || (typed.from === typed.to && !context.explicit)) return null;
      // Nothing to offer inside a comment or a string.
      const before = context.state.doc.lineAt(context.pos).text.slice(0, context.pos - context.state.doc.lineAt(context.pos).from);
      if (/;|"[^"]*$/.test(before)) return null;
      return {
        from: typed.from,
        options: completionsFor(typed.text, help.names(), labels(context.state, context.pos)),
        validFor: /^\.?\w*$/,
      };
    }],
  });

  const f1 = keymap.of([{
    key: 'F1',
    preventDefault: true,
    run(view) {
      const head = view.state.selection.main.head;
      const line = view.state.doc.lineAt(head);
      const found = wordAt(line.text, head - line.from);
      help.show(found ? found.word : '');
      return true;
    },
  }]);

  return [hover, complete, f1];
}
