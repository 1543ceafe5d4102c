// The sound panel: a .snd file as a grid of steps (note, waveform, volume,
// length and the step's options), a piano on the page and on the computer's
// keys, play and stop with the playing step lit, copy, paste, transpose and
// undo. The text stays the truth: every action rewrites only the lines it
// changes (see sound.js), so the text view shows what was written.
//
// The preview is the machine itself: the converter's data and the driver in
// the smallest player program, run by the studio's module a few frames ahead
// of the speakers.
import {
  FRAMES_PER_SECOND, PIANO_KEYS, REST, SAMPLE_RATE, WAVES, commentStart, effectsText, insertLines, lineOf, noteName,
  pianoNote, prefixOf, removeLines, replaceLines, stepAt, stepOf, stepText, transposed,
} from '../sound.js';

const AHEAD = 0.25;        // seconds of samples queued before they are heard
const CHUNK_FRAMES = 4;    // frames rendered at a time
const ENDED_FRAMES = 8;    // an ended block is let ring this long, for its last step's release

function element(tag, properties = {}, ...children) {
  const node = Object.assign(document.createElement(tag), properties);
  node.append(...children);
  return node;
}

// context: { store, build, tools, say, open(name, line, editorName) }
export function soundPanel({ store, build, tools, say, open }) {
  const root = element('div', { id: 'sound', hidden: true, tabIndex: 0 });
  document.getElementById('editor').append(root);
  const button = (id, text, title, action) => {
    const b = element('button', { id, textContent: text, title });
    b.addEventListener('click', action);
    return b;
  };
  const octave = element('select', { id: 'sound-octave', title: 'The octave of the piano\'s lower half' });
  for (let o = 0; o <= 7; o++) octave.append(new Option(`octave ${o}`, String(o), false, o === 4));
  const wave = element('select', { id: 'sound-wave', title: 'The waveform of notes entered on a rest' });
  WAVES.forEach((w, i) => wave.append(new Option(w, String(i), false, w === 'square')));
  const volume = element('input', { id: 'sound-volume', type: 'number', min: 0, max: 255, value: 200,
    title: 'The volume of notes entered on a rest' });
  const tools1 = element('div', { className: 'sound-tools' },
    button('sound-play', '▶ Play', 'Space: play the block of the selected step', () => (playing ? stopPlaying() : play())),
    octave, wave, volume,
    button('sound-down-octave', '−12', 'Transpose the selection an octave down', () => transpose(-12)),
    button('sound-down', '−1', 'Transpose the selection a semitone down (Ctrl+↓)', () => transpose(-1)),
    button('sound-up', '+1', 'Transpose the selection a semitone up (Ctrl+↑)', () => transpose(1)),
    button('sound-up-octave', '+12', 'Transpose the selection an octave up', () => transpose(12)),
    button('sound-copy', 'Copy', 'Ctrl+C', copy),
    button('sound-paste', 'Paste', 'Ctrl+V: after the selection', paste),
    button('sound-undo', 'Undo', 'Ctrl+Z', undo),
    button('sound-redo', 'Redo', 'Ctrl+Y', redo),
    button('sound-text', 'Text view', 'The file as text', () => open(openName, selectedLine(), 'code')));
  const piano = element('div', { id: 'sound-piano' });
  const grid = element('table', { id: 'sound-grid' });
  const status = element('p', { id: 'sound-status' });
  root.append(tools1, piano, status, element('div', { id: 'sound-scroll' }, grid),
    element('p', {}, element('small', { textContent: 'Keys Z S X … and Q 2 W … play the piano into the selected '
      + 'step; . makes it a rest, Delete removes it, Insert adds one; ↑ ↓ select (with Shift, several).' })));

  let openName = null;
  let text = '';
  let model = { errors: [], blocks: [] };
  let rows = [];           // the grid's steps: { block, index, line, step }
  let selection = { anchor: 0, head: 0 };
  let undone = [];
  let history = [];
  let clipboard = [];
  let playing = null;      // { block, blockIndex, start, queued, frame, sources }
  let audio = null;        // the page's AudioContext, made on the first play
  let writing = false;

  // ---- the model and the grid ---------------------------------------------------

  function read() {
    text = String(store.file(openName));
    model = tools.convertSound(text, prefixOf(openName));
    rows = [];
    model.blocks.forEach((block, b) => block.steps.forEach((raw, index) => {
      const step = stepOf(raw);
      rows.push({ block: b, index, line: step.line, step });
    }));
    const last = Math.max(0, rows.length - 1);
    selection = { anchor: Math.min(selection.anchor, last), head: Math.min(selection.head, last) };
  }

  const selected = () => {
    const from = Math.min(selection.anchor, selection.head);
    const to = Math.max(selection.anchor, selection.head);
    return rows.slice(from, to + 1);
  };
  const selectedLine = () => rows[selection.head]?.line ?? 1;

  function drawPiano() {
    piano.replaceChildren();
    const low = Number(octave.value);
    for (let offset = 0; offset < 25; offset++) {
      const note = pianoNote(offset, low);
      if (note === null) continue;
      const black = [1, 3, 6, 8, 10].includes(note % 12);
      const key = element('button', { className: black ? 'key black' : 'key', title: noteName(note) });
      key.dataset.note = String(note);
      if (note % 12 === 0) key.textContent = noteName(note);
      key.tabIndex = -1; // the grid keeps the keys: Space must not press a piano key again
      key.addEventListener('mousedown', (event) => event.preventDefault());
      key.addEventListener('click', () => {
        enterNote(note);
        root.focus();
      });
      piano.append(key);
    }
  }

  function draw() {
    const problems = new Map();
    for (const e of model.errors) if (!problems.has(e.line)) problems.set(e.line, e.message);
    const stepRows = new Map(rows.map((row, i) => [row.line, i]));
    const chosen = new Set(selected().map((row) => row.line));
    grid.replaceChildren(element('tr', {}, ...['', 'note', 'wave', 'volume', 'length', 'options', 'comment']
      .map((title) => element('th', { textContent: title }))));
    const lines = text.split('\n');
    lines.forEach((line, i) => {
      const number = i + 1;
      const words = line.slice(0, commentStart(line)).trim();
      if (stepRows.has(number)) {
        grid.append(stepRow(rows[stepRows.get(number)], stepRows.get(number), chosen.has(number), line));
      } else if (words || problems.has(number)) {
        // Block heads, speed, mark and loop, and lines that do not read.
        const row = element('tr', { className: problems.has(number) ? 'error' : 'head' },
          element('td', { textContent: String(number) }),
          element('td', { colSpan: 6, textContent: problems.has(number) ? `${words}  — ${problems.get(number)}` : words }));
        row.dataset.line = String(number);
        row.addEventListener('click', () => open(openName, number, 'code'));
        grid.append(row);
      }
    });
    status.textContent = model.errors.length
      ? `${model.errors.length} problem(s): the first at line ${model.errors[0].line}: ${model.errors[0].message}`
      : `${model.blocks.length} block(s), ${rows.length} step(s).`;
    status.classList.toggle('error', model.errors.length > 0);
    litRow();
  }

  function stepRow(row, index, isSelected, line) {
    const { step } = row;
    const tr = element('tr', { className: isSelected ? 'step selected' : 'step' });
    tr.dataset.line = String(row.line);
    tr.dataset.index = String(index);
    const rest = step.note === REST;
    const waveCell = element('select', { disabled: rest });
    WAVES.forEach((w, i) => waveCell.append(new Option(w, String(i), false, i === step.wave)));
    waveCell.addEventListener('change', () => change(row, { wave: Number(waveCell.value) }));
    const number = (value, min, max, key) => {
      const input = element('input', { type: 'number', min, max, value, disabled: rest && key !== 'length' });
      input.addEventListener('change', () => {
        const v = Number(input.value);
        if (Number.isInteger(v) && v >= min && v <= max) change(row, { [key]: v });
        else draw();
      });
      return input;
    };
    const options = element('input', { type: 'text', value: effectsText(step), disabled: rest,
      placeholder: 'fade / slide / arp' });
    options.addEventListener('change', () => change(row, {}, options.value.trim()));
    const comment = line.slice(commentStart(line)).trim();
    tr.append(element('td', { textContent: String(row.line) }),
      element('td', { className: 'note', textContent: noteName(step.note) }),
      element('td', {}, rest ? '' : waveCell), element('td', {}, rest ? '' : number(step.volume, 0, 255, 'volume')),
      element('td', {}, number(step.length, 1, 65535, 'length')), element('td', {}, rest ? '' : options),
      element('td', { className: 'comment', textContent: comment }));
    tr.addEventListener('mousedown', (event) => {
      if (event.target.closest('input, select')) return;
      select(index, event.shiftKey);
      root.focus();
    });
    return tr;
  }

  function select(index, extend = false) {
    if (!rows.length) return;
    index = Math.max(0, Math.min(rows.length - 1, index));
    selection = { anchor: extend ? selection.anchor : index, head: index };
    // The rows stay (a click is still on them); only their marks change.
    const chosen = new Set(selected().map((row) => String(row.line)));
    for (const tr of grid.querySelectorAll('tr.step')) tr.classList.toggle('selected', chosen.has(tr.dataset.line));
    grid.querySelector(`tr[data-index="${index}"]`)?.scrollIntoView({ block: 'nearest' });
  }

  // ---- edits: each a new text, kept for undo -----------------------------------------

  function write(next) {
    if (next === text) return;
    history.push({ text, selection });
    if (history.length > 200) history.shift();
    undone = [];
    commit(next);
  }

  function commit(next) {
    writing = true;
    store.setFile(openName, next, 'sound');
    writing = false;
    read();
    draw();
  }

  function change(row, fields, effects = undefined) {
    const step = { ...row.step, ...fields };
    write(replaceLines(text, [[row.line, stepText(step, effects)]]));
  }

  function enterNote(note) {
    const row = rows[selection.head];
    if (!row) return say('The file has no step to put the note in: add one in the text view.', true);
    const fields = row.step.note === REST
      ? { note, wave: Number(wave.value), volume: Math.max(0, Math.min(255, Number(volume.value) || 0)) }
      : { note };
    const step = { ...row.step, ...fields };
    let next = replaceLines(text, [[row.line, stepText(step, row.step.note === REST ? '' : undefined)]]);
    const following = rows[selection.head + 1];
    if (!following || following.block !== row.block) {
      // The last step of its block: a new one after it takes the next note.
      next = insertLines(next, row.line, [indentOf(row.line) + stepText({ ...step, length: 1, fade: 0, slide: 0, arp1: 0, arp2: 0 }, '')]);
    }
    selection = { anchor: selection.head + 1, head: selection.head + 1 };
    write(next);
  }

  const indentOf = (line) => /^\s*/.exec(lineOf(text, line))[0];

  function makeRest() {
    const row = rows[selection.head];
    if (!row) return;
    write(replaceLines(text, [[row.line, stepText({ ...row.step, note: REST })]]));
  }

  function addStep() {
    const row = rows[selection.head];
    if (!row) return;
    selection = { anchor: selection.head + 1, head: selection.head + 1 };
    write(insertLines(text, row.line, [`${indentOf(row.line)}---`]));
  }

  function removeSelected() {
    const chosen = selected();
    if (!chosen.length) return;
    selection = { anchor: Math.min(selection.anchor, selection.head), head: Math.min(selection.anchor, selection.head) };
    write(removeLines(text, chosen.map((row) => row.line)));
  }

  function transpose(semitones) {
    const chosen = selected();
    const moved = transposed(chosen.map((row) => row.step), semitones);
    if (!moved) return say(`Not transposed: a note would leave C-1..B7.`, true);
    write(replaceLines(text, chosen.map((row, i) => [row.line, stepText(moved[i], effectsText(row.step))])));
  }

  function copy() {
    clipboard = selected().map((row) => lineOf(text, row.line));
    say(`${clipboard.length} step(s) copied.`);
  }

  function paste() {
    if (!clipboard.length) return;
    const chosen = selected();
    const after = chosen.length ? chosen.at(-1).line : text.split('\n').length;
    const end = Math.max(selection.anchor, selection.head);
    selection = { anchor: end + 1, head: end + clipboard.length };
    write(insertLines(text, after, clipboard));
  }

  function undo() {
    if (!history.length) return;
    const last = history.pop();
    undone.push({ text, selection });
    selection = last.selection;
    commit(last.text);
  }

  function redo() {
    if (!undone.length) return;
    const next = undone.pop();
    history.push({ text, selection });
    selection = next.selection;
    commit(next.text);
  }

  // ---- the preview -----------------------------------------------------------------

  function play() {
    const row = rows[selection.head];
    const block = model.blocks[row ? row.block : 0];
    if (model.errors.length || !block) return say('Mend the sound\'s problems first: it does not convert.', true);
    const error = tools.startPreview(text, block.name);
    if (error) return say(`The preview could not start: ${error}`, true);
    stopPlaying();
    audio = audio || new AudioContext({ sampleRate: SAMPLE_RATE });
    audio.resume();
    playing = { block, blockIndex: model.blocks.indexOf(block), start: audio.currentTime + 0.05,
      queued: 0, frame: -1, sources: [] };
    root.querySelector('#sound-play').textContent = '■ Stop';
    tick();
  }

  function tick() {
    if (!playing) return;
    const { block } = playing;
    const context = audio;
    // Behind the speakers (the tab was hidden): the rest is heard from now,
    // so the lit step stays the one heard.
    const late = context.currentTime - (playing.start + playing.queued / FRAMES_PER_SECOND);
    if (late > 0) playing.start += late + 0.02;
    while (playing.start + playing.queued / FRAMES_PER_SECOND < context.currentTime + AHEAD) {
      const samples = tools.previewFrames(CHUNK_FRAMES);
      const buffer = context.createBuffer(1, samples.length, SAMPLE_RATE);
      buffer.copyToChannel(samples, 0);
      const source = context.createBufferSource();
      source.buffer = buffer;
      source.connect(context.destination);
      source.start(playing.start + playing.queued / FRAMES_PER_SECOND);
      playing.sources.push(source);
      if (playing.sources.length > 64) playing.sources.shift();
      playing.queued += CHUNK_FRAMES;
    }
    const frame = Math.floor((context.currentTime - playing.start) * FRAMES_PER_SECOND);
    playing.frame = frame;
    const index = stepAt(block, frame);
    if (index < 0 && frame > 0 && stepAt(block, frame - ENDED_FRAMES) < 0) return stopPlaying();
    litRow();
    requestAnimationFrame(tick);
  }

  // The playing step's row, lit.
  function litRow() {
    for (const lit of grid.querySelectorAll('tr.playing')) lit.classList.remove('playing');
    if (!playing || playing.frame < 0) return;
    const index = stepAt(playing.block, playing.frame);
    const row = rows.find((r) => r.block === playing.blockIndex && r.index === index);
    if (row) grid.querySelector(`tr[data-line="${row.line}"]`)?.classList.add('playing');
  }

  function stopPlaying() {
    if (!playing) return;
    for (const source of playing.sources) source.stop();
    playing = null;
    litRow();
    root.querySelector('#sound-play').textContent = '▶ Play';
  }

  // ---- keys --------------------------------------------------------------------------

  root.addEventListener('keydown', (event) => {
    if (event.target.closest('input, select')) return;
    const ctrl = event.ctrlKey || event.metaKey;
    const actions = {
      ArrowUp: () => (ctrl ? transpose(1) : select(selection.head - 1, event.shiftKey)),
      ArrowDown: () => (ctrl ? transpose(-1) : select(selection.head + 1, event.shiftKey)),
      Delete: removeSelected,
      Insert: addStep,
      ' ': () => (playing ? stopPlaying() : play()),
      '.': makeRest,
    };
    const withCtrl = { c: copy, v: paste, z: event.shiftKey ? redo : undo, Z: redo, y: redo };
    const action = ctrl ? (withCtrl[event.key] ?? (event.key.startsWith('Arrow') ? actions[event.key] : null))
      : actions[event.key] ?? (event.code in PIANO_KEYS && !event.altKey && !event.repeat
        ? () => { const note = pianoNote(PIANO_KEYS[event.code], Number(octave.value)); if (note !== null) enterNote(note); }
        : null);
    if (!action) return;
    event.preventDefault();
    action();
  });
  octave.addEventListener('change', drawPiano);

  store.on('file', (name) => {
    if (name !== openName || writing) return;
    if (!(name in store.project.files)) return;
    // Changed in the text view: the grid's undo starts again from it.
    history = [];
    undone = [];
    read();
    draw();
  });
  store.on('renamed', (from, to) => {
    if (openName === from) openName = to;
  });

  drawPiano();
  return {
    name: 'sound',
    element: root,
    handles: (name, contents) => /\.snd$/i.test(name) && typeof contents === 'string',
    open(name, line = null) {
      if (openName !== name) {
        history = [];
        undone = [];
        selection = { anchor: 0, head: 0 };
      }
      openName = name;
      read();
      const at = line ? rows.findIndex((row) => row.line >= line) : -1;
      if (at >= 0) selection = { anchor: at, head: at };
      draw();
      root.focus();
      return true;
    },
    close() {
      stopPlaying();
      openName = null;
    },
    // For scripts: what the page's preview gives for `frames` frames of the
    // block `name` of the open file, from its start.
    previewSamples(name, frames) {
      stopPlaying();
      const error = tools.startPreview(text, name);
      if (error) throw new Error(error);
      return tools.previewFrames(frames);
    },
    get playing() { return playing ? { block: playing.block.name, frame: playing.frame } : null; },
  };
}
