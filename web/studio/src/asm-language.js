// lumacor assembly for the editor: highlighting and finding a label's
// definition.
import { StreamLanguage } from '@codemirror/language';

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
  languageData: { commentTokens: { line: ';' } },
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
