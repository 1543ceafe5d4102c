// lumacor assembly for the editor: highlighting and finding a label's
// definition.
import { StreamLanguage, indentService } from '@codemirror/language';

const MNEMONICS = new Set(('NOP LD MOV ST LDW MOVW STW XCHG PUSH POP JMP JC JNC JZ JNZ CALL RET RETI AND OR XOR NOT ' +
  'ADD ADDW SUB SUBW INC INCW DEC DECW SHL SHR CMP CMPW IN OUT DI EI HALT').split(' '));
const OPERATORS = new Set(['hi', 'lo', 'bank', 'r', 'p']);

export const lumacorAssembly = StreamLanguage.define({
  name: 'lumacor-asm',
  startState: () => ({ atStart: true }),
  token(stream, state) {
    if (stream.sol()) state.atStart = true;
    if (stream.eatSpace()) return null;
    if (stream.peek() === ';') {
      stream.skipToEnd();
      return 'comment';
    }
    if (stream.match(/^"(?:[^"\\]|\\.)*"?/) || stream.match(/^'(?:[^'\\]|\\.)*'?/)) return 'string';
    if (stream.match(/^(?:0x[0-9a-f_]+|0b[01_]+|[0-9][0-9_]*)\b/i)) return 'number';
    const word = stream.match(/^\.?[A-Za-z_][\w.]*/);
    if (word) {
      const text = word[0];
      const first = state.atStart;
      state.atStart = false;
      if (stream.peek() === ':') {
        stream.next();
        // An instruction or directive may follow the label on its line.
        state.atStart = true;
        return 'labelName';
      }
      if (text.startsWith('.') && first) return 'keyword';
      if (first && MNEMONICS.has(text.toUpperCase())) return 'keyword';
      if (/^(?:r\d+|p\d+|PC|SP|FLAGS)$/i.test(text)) return 'variableName.special';
      if (OPERATORS.has(text) && stream.peek() === '(') return 'operatorKeyword';
      return 'variableName';
    }
    stream.next();
    return /[-+*/%&|^~<>=!()[\],]/.test(stream.string[stream.pos - 1]) ? 'operator' : null;
  },
  // A label typed at the start of an indented line goes back to column 0.
  languageData: { commentTokens: { line: ';' }, indentOnInput: /^\s*[A-Za-z_.][\w.]*:$/ },
});

// A label stands at column 0. A new line is indented for an instruction
// after a line that starts with a label, and as the line before it otherwise.
export const INSTRUCTION_INDENT = 8;
export const asmIndentation = indentService.of((context, pos) => {
  const line = context.lineAt(pos, 1);
  if (line.from === 0 || /^\s*[A-Za-z_.][\w.]*:/.test(line.text)) return 0;
  const previous = context.lineAt(line.from - 1, -1).text;
  if (/^[A-Za-z_.][\w.]*:/.test(previous)) return INSTRUCTION_INDENT;
  return /^\s*/.exec(previous)[0].length;
});

// The line (1-based) and column (0-based) where `name` is defined in `text`
// as a label ("name:") or a constant ("name = ..." or ".equ name, ..."),
// or null.
export function findDefinition(text, name) {
  const escaped = name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const patterns = [
    new RegExp(`^\\s*(${escaped}):`),
    new RegExp(`^\\s*(${escaped})\\s*=`),
    new RegExp(`^\\s*\\.equ\\s+(${escaped})\\s*,`, 'i'),
  ];
  const lines = text.split('\n');
  for (let i = 0; i < lines.length; i++) {
    for (const pattern of patterns) {
      const match = pattern.exec(lines[i]);
      if (match) return { line: i + 1, column: lines[i].indexOf(match[1]) };
    }
  }
  return null;
}
