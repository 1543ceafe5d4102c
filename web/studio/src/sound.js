// The project's sounds: each .snd file (the sound text of docs/sound.md) is
// converted by the sound converter's core in the studio's module into the
// driver's data, an include beside it (sounds.snd -> sounds.inc, labels
// sounds_NAME as lumacor-sound names them, or PREFIX_NAME with a line
// "sounds.snd --name PREFIX" in sound.txt); the driver itself is there as
// "sound.inc", as it is in the assembler's include folder. The sound panel
// edits the text line by line with the helpers below, so whatever it does
// not touch (comments, spacing, blank lines) stays as it was written.
export const WAVES = ['sine', 'saw', 'square', 'noise'];
export const FRAMES_PER_SECOND = 62.5;
export const SAMPLE_RATE = 48000;
export const LOWEST = 0;
export const HIGHEST = 107;
export const REST = -1;
const LETTERS = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];

export const isSound = (name) => /\.snd$/i.test(name);

// A new sound file: one song of one step, for the grid to start from.
export const NEW_SOUND = '; Effects and songs: see docs/sound.md.\nsong tune\nspeed 6\nC4 square 200\n';

export const noteName = (note) => (note === REST ? '---' : `${LETTERS[note % 12]}${Math.floor(note / 12) - 1}`);

// The labels' prefix: the file's name without its folder and extension,
// made a symbol.
export function prefixOf(path) {
  let stem = path.slice(path.lastIndexOf('/') + 1);
  if (stem.lastIndexOf('.') > 0) stem = stem.slice(0, stem.lastIndexOf('.'));
  stem = stem.replace(/[^A-Za-z0-9]/g, '_');
  return !stem || /^[0-9]/.test(stem) ? `_${stem}` : stem;
}

// A step as the converter's model gives it: [line, note, wave, volume,
// length, fade, slide, arp1, arp2].
export function stepOf([line, note, wave, volume, length, fade, slide, arp1, arp2]) {
  return { line, note, wave, volume, length, fade, slide, arp1, arp2 };
}

// The step's options (fade, slide, arpeggio) as the text writes them.
export function effectsText(step) {
  const words = [];
  if (step.fade) words.push(`fade ${step.fade}`);
  if (step.slide) words.push(`slide ${step.slide}`);
  if (step.arp1 || step.arp2) words.push(`arp ${step.arp1} ${step.arp2}`);
  return words.join(' ');
}

// The text of a step line. `effects` is the options' text as typed.
export function stepText(step, effects = effectsText(step)) {
  const length = step.length !== 1 ? ` ${step.length}` : '';
  if (step.note === REST) return `---${length}`;
  return `${noteName(step.note)} ${WAVES[step.wave]} ${step.volume}${length}${effects ? ` ${effects}` : ''}`;
}

// Where a line's comment starts (its length when it has none): at ';', or
// at '#' opening a word ("C#4" is a note).
export function commentStart(line) {
  const found = /;|(?:^|[ \t])#/.exec(line);
  if (!found) return line.length;
  return found[0] === ';' || found[0] === '#' ? found.index : found.index + 1;
}

// The line with its step replaced by `text`: its indentation and its
// comment (with the spacing before it) are kept.
export function replaceStep(line, text) {
  const indent = /^\s*/.exec(line)[0];
  const comment = commentStart(line) < line.length ? commentStart(line) : -1;
  if (comment < 0) return indent + text;
  const gap = /\s*$/.exec(line.slice(0, comment))[0] || ' ';
  return indent + text + gap + line.slice(comment);
}

// Line edits on the text, lines counted from 1.
export function replaceLines(text, replacements) {
  const lines = text.split('\n');
  for (const [line, contents] of replacements) lines[line - 1] = replaceStep(lines[line - 1], contents);
  return lines.join('\n');
}

export function insertLines(text, after, added) {
  const lines = text.split('\n');
  lines.splice(after, 0, ...added);
  return lines.join('\n');
}

export function removeLines(text, numbers) {
  const gone = new Set(numbers);
  return text.split('\n').filter((_, i) => !gone.has(i + 1)).join('\n');
}

export const lineOf = (text, number) => text.split('\n')[number - 1] ?? '';

// Steps moved by `semitones`; null when a note would leave the machine's
// range (so a transposed phrase keeps its intervals or is not moved at all).
// Rests stay rests.
export function transposed(steps, semitones) {
  const notes = steps.filter((step) => step.note !== REST).map((step) => step.note + semitones);
  if (notes.some((note) => note < LOWEST || note > HIGHEST)) return null;
  return steps.map((step) => (step.note === REST ? step : { ...step, note: step.note + semitones }));
}

// The step a block plays at `frame` (counted from the call that starts it),
// or -1 once it has ended: each step lasts speed x length frames, and a loop
// goes on from the step of its mark.
export function stepAt(block, frame) {
  const starts = [];
  let total = 0;
  for (const step of block.steps) {
    starts.push(total);
    total += block.speed * step.length;
  }
  if (frame < 0 || !block.steps.length) return -1;
  if (frame >= total) {
    if (!block.loop) return -1;
    const from = starts[block.mark];
    frame = from + ((frame - total) % (total - from));
  }
  let index = 0;
  while (index + 1 < starts.length && starts[index + 1] <= frame) index++;
  return index;
}

// The computer's keys as a piano of two octaves from the chosen one: the
// bottom row (Z S X D C ...) the lower, the row of Q 2 W 3 E ... the upper.
export const PIANO_KEYS = Object.fromEntries([
  ...['KeyZ', 'KeyS', 'KeyX', 'KeyD', 'KeyC', 'KeyV', 'KeyG', 'KeyB', 'KeyH', 'KeyN', 'KeyJ', 'KeyM'].map((k, i) => [k, i]),
  ...['KeyQ', 'Digit2', 'KeyW', 'Digit3', 'KeyE', 'KeyR', 'Digit5', 'KeyT', 'Digit6', 'KeyY', 'Digit7', 'KeyU', 'KeyI']
    .map((k, i) => [k, 12 + i]),
]);

// The note a piano key plays in `octave` (C of octave 4 is note 60), or
// null outside the machine's range.
export function pianoNote(offset, octave) {
  const note = (octave + 1) * 12 + offset;
  return note >= LOWEST && note <= HIGHEST ? note : null;
}

export const RULES_FILE = 'sound.txt';

// "music/tune.snd --name tune" lines ('#' starts a comment): the labels'
// prefix of each sound, else problems with the line.
export function soundPrefixes(text) {
  const prefixes = new Map();
  const problems = [];
  (text || '').split('\n').forEach((line, i) => {
    const words = line.replace(/#.*/, '').trim().split(/\s+/).filter(Boolean);
    if (!words.length) return;
    if (words.length === 3 && words[1] === '--name' && prefixOf(`${words[2]}.snd`) === words[2]) prefixes.set(words[0], words[2]);
    else problems.push({ file: RULES_FILE, line: i + 1, column: 1, message: `'${words.slice(1).join(' ')}': a sound takes only --name PREFIX (letters, digits and '_')` });
  });
  return { prefixes, problems };
}

// The build service's converter for sound files, named as sound.txt says.
export const soundConverter = {
  name: 'sound',
  reads: (name) => isSound(name) || name === RULES_FILE,
  convert(tools, files) {
    const outputs = new Map([['sound.inc', tools.soundDriver()]]);
    const { prefixes, problems } = soundPrefixes(typeof files[RULES_FILE] === 'string' ? files[RULES_FILE] : '');
    for (const [name, text] of Object.entries(files)) {
      if (!isSound(name) || typeof text !== 'string') continue;
      if (name.replace(/\.snd$/i, '.inc') === 'sound.inc') {
        problems.push({ file: name, message: 'its include would hide the driver, sound.inc: give it another name' });
        continue;
      }
      const result = tools.convertSound(text, prefixes.get(name) ?? prefixOf(name));
      for (const e of result.errors) problems.push({ file: name, line: e.line, column: e.column, message: e.message });
      if (!result.errors.length) outputs.set(name.replace(/\.snd$/i, '.inc'), result.include);
    }
    return { outputs, problems };
  },
};
