// The code panel: CodeMirror on the project's text files, one editor state
// per file (its undo history), the build's diagnostics at their lines, the
// breakpoints in the gutter (kept in the store), the debugger's stop line,
// and go to definition.
import { EditorState } from '@codemirror/state';
import { EditorView } from '@codemirror/view';
import {
  editorState, showDiagnostics, breakpointLines, toggleBreakpointAt, markCurrentLine, withBreakpoints,
} from '../editor.js';
import { findDefinition } from '../asm-language.js';

// context: { store, build, open(name, line), say, extensions } where
// `extensions` are CodeMirror extensions that every file's state gets
// (hover help, completion, ...).
export function codePanel({ store, build, open, say, extensions = [] }) {
  const element = document.getElementById('code');
  const view = new EditorView({ parent: element });
  const states = new Map(); // file name -> its EditorState
  let openName = null;

  const stateOf = (name) => (name === openName ? view.state : states.get(name));

  // A file the build made from an asset (a picture's include) is shown as
  // the latest conversion left it, and cannot be edited.
  const isMade = (name) => !(name in store.project.files) && typeof build.made(name) === 'string';
  const readOnly = [EditorState.readOnly.of(true), EditorView.editable.of(false)];

  function stateFor(name) {
    if (isMade(name)) {
      const text = build.made(name);
      if (states.get(name)?.doc.toString() !== text) states.set(name, editorState(text, [...readOnly, ...extensions]));
      return states.get(name);
    }
    if (states.has(name)) return states.get(name);
    const state = editorState(String(store.file(name)), [
      EditorView.updateListener.of((update) => {
        if (update.docChanged) store.setFile(name, update.state.doc.toString(), 'code');
        if (update.docChanged || update.transactions.some((t) => t.effects.length))
          store.setBreakpoints(name, breakpointLines(update.state), 'code');
      }),
      EditorView.domEventHandlers({
        mousedown: (event) => {
          if (!(event.ctrlKey || event.metaKey)) return false;
          const pos = view.posAtCoords({ x: event.clientX, y: event.clientY });
          if (pos === null) return false;
          event.preventDefault();
          goToDefinition(pos);
          return true;
        },
        keydown: (event) => {
          if (event.key !== 'F12') return false;
          event.preventDefault();
          goToDefinition(view.state.selection.main.head);
          return true;
        },
      }),
      ...extensions,
    ]);
    states.set(name, withBreakpoints(state, store.breakpoints(name)));
    return states.get(name);
  }

  // The word under `pos`, looked up as a label or constant: a local label
  // (".name") in the scope of the global label above it, anything else in
  // every text file of the project.
  function goToDefinition(pos) {
    const doc = view.state.doc;
    const line = doc.lineAt(pos);
    const at = pos - line.from;
    const word = line.text.slice(0, at).match(/[\w.]*$/)[0] + line.text.slice(at).match(/^[\w]*/)[0];
    if (!word) return;
    if (word.startsWith('.')) {
      const text = doc.toString().split('\n');
      let scope = line.number - 1;
      while (scope > 0 && !/^[A-Za-z_]\w*:/.test(text[scope])) scope--;
      const found = findDefinition(text.slice(scope).join('\n'), word);
      if (found) open(openName, scope + found.line);
      return;
    }
    const name = word.includes('.') ? word.slice(0, word.indexOf('.')) : word;
    // The project's texts first, then the includes the build made.
    const order = [openName, ...store.files().filter((n) => n !== openName && store.isText(n)),
      ...build.madeNames().filter((n) => n !== openName && isMade(n))];
    for (const file of order) {
      const found = findDefinition(String(isMade(file) ? build.made(file) : store.file(file)), name);
      if (found) {
        open(file, found.line);
        return;
      }
    }
    say(`No definition of ${name} in the project.`);
  }

  function keepOpenState() {
    if (openName) states.set(openName, view.state);
  }

  store.on('file', (name, by) => {
    if (by === 'code') return;
    const contents = store.file(name);
    const state = stateOf(name);
    if (typeof contents !== 'string') {
      states.delete(name);
      return;
    }
    if (!state || state.doc.toString() === contents) return;
    // Changed elsewhere: one change of the whole text, so undo brings back the editor's.
    const change = { changes: { from: 0, to: state.doc.length, insert: contents } };
    if (name === openName) view.dispatch(change);
    else states.set(name, state.update(change).state);
  });
  store.on('renamed', (from, to) => {
    if (openName === from) openName = to;
    if (states.has(from)) states.set(to, states.get(from));
    states.delete(from);
  });
  store.on('project', () => {
    states.clear();
    openName = null;
  });
  build.on('problems', () => {
    if (openName) showDiagnostics(view, build.problems(openName));
  });
  // An include open while its picture changes shows the new conversion.
  build.on('converted', () => {
    if (openName && isMade(openName) && view.state.doc.toString() !== build.made(openName)) view.setState(stateFor(openName));
  });

  return {
    name: 'code',
    element,
    handles: (name, contents) => typeof contents === 'string',
    open(name, line = null) {
      keepOpenState();
      openName = name;
      view.setState(stateFor(name));
      showDiagnostics(view, build.problems(name));
      if (line) {
        const target = view.state.doc.line(Math.min(line, view.state.doc.lines));
        view.dispatch({ selection: { anchor: target.from }, scrollIntoView: true });
      }
      view.focus();
      return true;
    },
    close() {
      keepOpenState();
      openName = null;
    },
    isMade,
    // The line the debugger stands on in the open file, or none (null).
    markLine: (line) => markCurrentLine(view, line),
    toggleBreakpoint: (line) => toggleBreakpointAt(view, line),
    get openName() { return openName; },
  };
}
