// The code editor: CodeMirror with lumacor assembly, line numbers, search,
// the assembler's diagnostics, a gutter of breakpoints and the line the
// debugger stopped on.
import { EditorState, StateField, StateEffect, RangeSet } from '@codemirror/state';
import {
  EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter, drawSelection,
  gutter, GutterMarker, Decoration,
} from '@codemirror/view';
import { defaultKeymap, history, historyKeymap, indentWithTab } from '@codemirror/commands';
import { searchKeymap, highlightSelectionMatches } from '@codemirror/search';
import { syntaxHighlighting, HighlightStyle, bracketMatching, indentOnInput } from '@codemirror/language';
import { lintGutter, setDiagnostics } from '@codemirror/lint';
import { tags } from '@lezer/highlight';
import { asmIndentation, lumacorAssembly } from './asm-language.js';

const toggleBreakpoint = StateEffect.define({ map: (value, mapping) => ({ ...value, pos: mapping.mapPos(value.pos) }) });
class Dot extends GutterMarker {
  constructor(className) {
    super();
    this.className = className;
  }

  toDOM() {
    const dot = document.createElement('span');
    dot.className = this.className;
    dot.textContent = '●';
    return dot;
  }
}
const breakpointMarker = new Dot('cm-breakpoint');

// Breakpoints follow their lines as text is typed above them.
export const breakpoints = StateField.define({
  create: () => RangeSet.empty,
  update(set, transaction) {
    set = set.map(transaction.changes);
    for (const effect of transaction.effects) {
      if (!effect.is(toggleBreakpoint)) continue;
      let present = false;
      set.between(effect.value.pos, effect.value.pos, () => { present = true; });
      set = present
        ? set.update({ filter: (from) => from !== effect.value.pos })
        : set.update({ add: [breakpointMarker.range(effect.value.pos)] });
    }
    return set;
  },
});

export function breakpointLines(state) {
  const lines = [];
  const cursor = state.field(breakpoints, false)?.iter();
  for (; cursor && cursor.value; cursor.next()) lines.push(state.doc.lineAt(cursor.from).number);
  return lines;
}

// The state with breakpoints on the given lines (as the project keeps them).
export function withBreakpoints(state, lines) {
  const effects = [...new Set(lines)].filter((n) => n >= 1 && n <= state.doc.lines)
    .map((n) => toggleBreakpoint.of({ pos: state.doc.line(n).from }));
  return effects.length ? state.update({ effects }).state : state;
}

export function toggleBreakpointAt(view, lineNumber) {
  const line = view.state.doc.line(lineNumber);
  view.dispatch({ effects: toggleBreakpoint.of({ pos: line.from }) });
}

const breakpointGutter = gutter({
  class: 'cm-breakpoint-gutter',
  markers: (view) => view.state.field(breakpoints),
  initialSpacer: () => new Dot('cm-breakpoint-spacer'),
  domEventHandlers: {
    mousedown(view, line) {
      view.dispatch({ effects: toggleBreakpoint.of({ pos: line.from }) });
      return true;
    },
  },
});

const showCurrentLine = StateEffect.define();
const currentLine = StateField.define({
  create: () => Decoration.none,
  update(set, transaction) {
    set = set.map(transaction.changes);
    for (const effect of transaction.effects) {
      if (!effect.is(showCurrentLine)) continue;
      set = effect.value === null ? Decoration.none
        : Decoration.set([Decoration.line({ class: 'cm-current-line' }).range(effect.value)]);
    }
    return set;
  },
  provide: (field) => EditorView.decorations.from(field),
});

// Marks (or, with null, unmarks) the line the debugger stands on, scrolled
// well inside the editor, so the lines around it show too.
const STOP_LINE_MARGIN_PX = 96;
export function markCurrentLine(view, lineNumber) {
  const pos = lineNumber ? view.state.doc.line(Math.min(lineNumber, view.state.doc.lines)).from : null;
  const effects = [showCurrentLine.of(pos)];
  if (pos !== null) effects.push(EditorView.scrollIntoView(pos, { y: 'nearest', yMargin: STOP_LINE_MARGIN_PX }));
  view.dispatch({ effects, selection: pos === null ? undefined : { anchor: pos } });
}

const style = HighlightStyle.define([
  { tag: tags.comment, color: '#7a8a7a', fontStyle: 'italic' },
  { tag: tags.keyword, color: '#8aa0ff', fontWeight: 'bold' },
  { tag: tags.labelName, color: '#ffcf6a' },
  { tag: tags.number, color: '#ff9a6a' },
  { tag: tags.string, color: '#a0e080' },
  { tag: tags.special(tags.variableName), color: '#e090e0' },
  { tag: tags.operatorKeyword, color: '#60d0d0' },
]);

const theme = EditorView.theme({
  '&': { color: '#d8d8e0', backgroundColor: '#1c1c22', fontSize: '13px' },
  '.cm-content': { fontFamily: 'ui-monospace, monospace', caretColor: '#fff' },
  '.cm-gutters': { backgroundColor: '#18181e', color: '#70707c', border: 'none' },
  '.cm-activeLine': { backgroundColor: '#24242c' },
  '.cm-activeLineGutter': { backgroundColor: '#24242c' },
  '&.cm-focused .cm-selectionBackground, .cm-selectionBackground': { backgroundColor: '#3a3a5a !important' },
}, { dark: true });

export function editorState(text, extra) {
  return EditorState.create({
    doc: text,
    extensions: [
      breakpoints, breakpointGutter, lineNumbers(), lintGutter(), highlightActiveLineGutter(), history(),
      drawSelection(), highlightActiveLine(), highlightSelectionMatches(), bracketMatching(), currentLine,
      lumacorAssembly, asmIndentation, indentOnInput(), syntaxHighlighting(style), theme,
      keymap.of([...defaultKeymap, ...searchKeymap, ...historyKeymap, indentWithTab]),
      ...extra,
    ],
  });
}

export function showDiagnostics(view, list) {
  const doc = view.state.doc;
  const marks = [];
  for (const d of list) {
    const line = doc.line(Math.max(1, Math.min(d.line || 1, doc.lines)));
    const from = Math.min(line.from + Math.max(0, d.column - 1), line.to);
    marks.push({ from, to: Math.max(from, line.to), severity: d.severity === 'warning' ? 'warning' : 'error',
      message: d.message });
  }
  view.dispatch(setDiagnostics(view.state, marks));
}

export { EditorView };
