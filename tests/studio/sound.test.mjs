// The sound editor: its line edits in node, then the panel in headless
// Chromium as a person uses it (piano, keys, play, transpose, undo, the text
// view), a faulty sound's error marked at its line, and the page's preview
// against lumacor-sound's.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import {
  commentStart, pianoNote, prefixOf, replaceStep, soundPrefixes, stepAt, stepText, transposed,
} from '../../web/studio/src/sound.js';
import { desktopBuild, launchBrowser, temporaryFolder } from '../web/support.mjs';
import { ctrl, openStudio } from './support.mjs';

const templates = path.join(path.dirname(new URL(import.meta.url).pathname), '../../roms/templates');
const step = (note, fields = {}) => ({ note, wave: 2, volume: 200, length: 1, fade: 0, slide: 0, arp1: 0, arp2: 0, ...fields });

test('a step line rewritten keeps its indentation and its comment; "#" in a note is not a comment', () => {
  const cases = [
    ['C4 square 200', 'D4 square 200', 'D4 square 200'],
    ['  C#4 saw 10   ; the hook', 'E4 saw 10', '  E4 saw 10   ; the hook'],
    ['C#4 saw 10 # old style', '---', '--- # old style'],
    ['C4 square 200;tight', 'D4 square 200', 'D4 square 200 ;tight'],
  ];
  for (const [line, text, expected] of cases) assert.equal(replaceStep(line, text), expected, line);
  assert.equal(commentStart('F#3 noise 9'), 11);
  assert.equal(commentStart('# all comment'), 0);
});

test('a step is written as the format reads it', () => {
  assert.equal(stepText(step(61)), 'C#4 square 200');
  assert.equal(stepText(step(-1, { length: 3, fade: -4 })), '--- 3'); // a rest takes only a length
  assert.equal(stepText(step(0, { wave: 3, length: 2, fade: -8, slide: 1, arp1: 4, arp2: 7 })),
    'C-1 noise 200 2 fade -8 slide 1 arp 4 7');
  assert.equal(stepText(step(107, { arp2: 5 })), 'B7 square 200 arp 0 5');
});

test('transposing keeps the intervals or refuses; rests stay rests', () => {
  const phrase = [step(60), step(-1), step(100)];
  assert.deepEqual(transposed(phrase, 7).map((s) => s.note), [67, -1, 107]);
  assert.equal(transposed(phrase, 8), null);
  assert.deepEqual(transposed(phrase, -60).map((s) => s.note), [0, -1, 40]);
  assert.equal(transposed(phrase, -61), null);
});

test('the step played at a frame follows speed and length, and a loop goes back to its mark', () => {
  const block = { speed: 4, loop: true, mark: 1, steps: [step(60), step(62, { length: 2 }), step(64)] };
  // Steps start at frames 0, 4 and 12; the loop is 16 frames, then 12 from the mark.
  const at = (frame) => stepAt(block, frame);
  assert.deepEqual([0, 3, 4, 11, 12, 15, 16, 23, 24, 27, 28].map(at), [0, 0, 1, 1, 2, 2, 1, 1, 2, 2, 1]);
  assert.equal(stepAt({ ...block, loop: false }, 16), -1);
  assert.equal(stepAt({ ...block, loop: true, mark: 0 }, 16), 0);
  assert.equal(stepAt(block, -1), -1);
});

test('piano keys and file names', () => {
  assert.equal(pianoNote(0, 4), 60);
  assert.equal(pianoNote(21, 4), 81);
  assert.equal(pianoNote(12, 7), null); // above B7
  assert.equal(pianoNote(11, 7), 107);
  assert.equal(pianoNote(0, -2), null);
  assert.equal(prefixOf('music/title-tune.snd'), 'title_tune');
  assert.equal(prefixOf('8bit.snd'), '_8bit');
  // sound.txt names a sound's labels as lumacor-sound's --name does.
  const { prefixes, problems } = soundPrefixes('# rules\nsounds.snd --name sfx\n\nmusic/a.snd --name 9x\nb.snd --tiles\n');
  assert.deepEqual([...prefixes], [['sounds.snd', 'sfx']]);
  assert.deepEqual(problems.map((p) => p.line), [4, 5]);
});

// ---- the page ----------------------------------------------------------------------

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser?.shut());

const fileText = (page, name) => page.evaluate((n) => window.lumacorStudio.file(n), name);
const gridNotes = (page) => page.$$eval('#sound-grid tr.step td.note', (cells) => cells.map((c) => c.textContent));

const tune = [
  '; A tune for the tests.',
  'song tune',
  'speed 3',
  '  C4 square 200   ; first',
  '  E4 square 200 2 fade -8',
  '',
  '# a comment line',
  '  ---',
  '  G4 saw 150 arp 4 7 ; last',
  'loop',
  '',
].join('\n');

test('the sound editor: piano and keys enter notes, transpose and undo, and the text view loses nothing', async () => {
  const page = await openStudio(browser);
  await page.evaluate((text) => window.lumacorStudio.setFile('tune.snd', text), tune);
  await page.locator('#file-list li[data-name="tune.snd"]').click();
  await page.waitForSelector('#sound:not([hidden]) #sound-grid tr.step');
  assert.deepEqual(await gridNotes(page), ['C4', 'E4', '---', 'G4']);

  // The first step selected, a click on the piano's D4: the step takes it,
  // and the next one is selected.
  await page.click('#sound-grid tr.step[data-line="4"] td.note');
  await page.click('#sound-piano .key[data-note="62"]');
  assert.equal((await fileText(page, 'tune.snd')).split('\n')[3], '  D4 square 200   ; first');
  // Q is the upper octave's C: C5 into the second step, its length and fade kept.
  await page.keyboard.press('q');
  assert.equal((await fileText(page, 'tune.snd')).split('\n')[4], '  C5 square 200 2 fade -8');
  // On the rest, a note takes the chosen waveform and volume.
  await page.select('#sound-wave', '1');
  await page.click('#sound-grid tr.step[data-line="8"] td.note');
  await page.keyboard.press('x');
  assert.equal((await fileText(page, 'tune.snd')).split('\n')[7], '  D4 saw 200');
  assert.deepEqual(await gridNotes(page), ['D4', 'C5', 'D4', 'G4']);

  // Two steps selected with Shift, a semitone up by the button, an octave
  // down by the key; a transpose out of range is refused.
  await page.click('#sound-grid tr.step[data-line="4"] td.note');
  await page.keyboard.down('Shift');
  await page.click('#sound-grid tr.step[data-line="5"] td.note');
  await page.keyboard.up('Shift');
  await page.click('#sound-up');
  assert.deepEqual(await gridNotes(page), ['D#4', 'C#5', 'D4', 'G4']);
  for (let i = 0; i < 5; i++) await page.click('#sound-down-octave');
  assert.deepEqual(await gridNotes(page), ['D#-1', 'C#0', 'D4', 'G4']);
  await page.click('#sound-down-octave');
  assert.deepEqual(await gridNotes(page), ['D#-1', 'C#0', 'D4', 'G4']);

  // Copy and paste: the two steps again after the selection, comment and all.
  await page.focus('#sound');
  await ctrl(page, 'c');
  await ctrl(page, 'v');
  assert.deepEqual(await gridNotes(page), ['D#-1', 'C#0', 'D#-1', 'C#0', 'D4', 'G4']);
  assert.equal((await fileText(page, 'tune.snd')).split('\n')[5], '  D#-1 square 200   ; first');

  // Undo all the way back gives the text as it was written, byte for byte.
  for (let i = 0; i < 12; i++) await ctrl(page, 'z');
  assert.equal(await fileText(page, 'tune.snd'), tune);
  await ctrl(page, 'y');
  await ctrl(page, 'y');
  assert.deepEqual(await gridNotes(page), ['D4', 'C5', '---', 'G4']);

  // The text view shows the file as it stands, and back in the grid nothing
  // has changed; an edit made in the text shows in the grid.
  const written = tune.replace('  C4 square', '  D4 square').replace('  E4 square', '  C5 square');
  await page.click('#file-view');
  await page.waitForSelector('#code:not([hidden])');
  assert.equal(await page.$eval('#file-view', (b) => b.textContent), 'Grid view');
  const shown = await page.$$eval('.cm-content .cm-line', (lines) => lines.map((l) => l.textContent).join('\n'));
  assert.equal(shown, written);
  await ctrl(page, 'Home');
  for (let i = 0; i < 3; i++) await page.keyboard.press('ArrowDown');
  await page.keyboard.press('End');
  await page.keyboard.type(' line');
  await page.click('#file-view');
  await page.waitForSelector('#sound:not([hidden])');
  assert.equal(await page.$eval('#file-view', (b) => b.textContent), 'Text view');
  assert.equal(await page.$eval('#sound-grid tr[data-line="4"] td.comment', (c) => c.textContent), '; first line');
  assert.equal(await fileText(page, 'tune.snd'), written.replace('; first', '; first line'));
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('play lights the step being played, in turn, and stop ends it', async () => {
  const page = await openStudio(browser);
  await page.evaluate((text) => window.lumacorStudio.setFile('tune.snd', text), tune.replace('speed 3', 'speed 20'));
  await page.locator('#file-list li[data-name="tune.snd"]').click();
  await page.waitForSelector('#sound-grid tr.step');
  await page.click('#sound-play');
  const lit = [];
  while (lit.length < 3) {
    const line = await page.waitForFunction((seen) => {
      const row = document.querySelector('#sound-grid tr.playing');
      return row && row.dataset.line !== seen && row.dataset.line;
    }, { polling: 'raf', timeout: 10000 }, lit.at(-1) ?? '');
    lit.push(await line.jsonValue());
  }
  assert.deepEqual(lit, ['4', '5', '8']);
  await page.click('#sound-play');
  assert.equal(await page.$('#sound-grid tr.playing'), null);
  assert.equal(await page.evaluate(() => window.lumacorStudio.soundPlaying), null);
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('a faulty sound fails the build with its error at its line, in the problems and in the text view', async () => {
  const page = await openStudio(browser);
  await page.evaluate(async () => {
    await window.lumacorStudio.setFile('main.asm', '        .include "lumacor.inc"\n        .start\nidle:   JMP idle\n'
      + '        .include "sounds.inc"\n');
    await window.lumacorStudio.setFile('sounds.snd', 'effect beep\nC4 square 200\nC4 sqare 200\n');
  });
  const { ok, errors } = await page.evaluate(() => window.lumacorStudio.build());
  assert.equal(ok, false);
  assert.deepEqual(errors.filter((e) => e.file === 'sounds.snd').map(({ file, line, column, message }) => ({ file, line, column, message })),
    [{ file: 'sounds.snd', line: 3, column: 4, message: 'unknown waveform \'sqare\'' }]);
  await page.waitForFunction(() => document.querySelector('#file-list li[data-name="sounds.snd"].error'));
  // The problem opens the grid at its line; the text view marks it.
  await page.locator('#problems li::-p-text(sounds.snd:3:4)').click();
  await page.waitForSelector('#sound-grid tr.error[data-line="3"]');
  await page.click('#file-view');
  await page.waitForSelector('.cm-lintRange-error');
  const marked = await page.evaluate(() => Array.from(document.querySelectorAll('.cm-content .cm-line'))
    .map((line, i) => (line.querySelector('.cm-lintRange-error') ? i + 1 : 0)).filter(Boolean));
  assert.deepEqual(marked, [3]);
  // Mended in the text, the game builds.
  await page.evaluate(() => window.lumacorStudio.setFile('sounds.snd', 'effect beep\nC4 square 200\n'));
  assert.equal((await page.evaluate(() => window.lumacorStudio.build())).ok, true);
  // A sound whose include would be the driver's is refused by name.
  await page.evaluate(() => window.lumacorStudio.setFile('sound.snd', 'effect beep\nC4 square 200\n'));
  assert.deepEqual((await page.evaluate(() => window.lumacorStudio.build())).errors.map((e) => `${e.file}: ${e.message}`),
    ['sound.snd: its include would hide the driver, sound.inc: give it another name']);
  await page.browserContext().close();
});

test('the Sound template builds to lumacor-asm\'s ROM, and the page\'s preview is lumacor-sound\'s, sample for sample', async () => {
  const dir = temporaryFolder();
  const source = fs.readFileSync(path.join(templates, 'sound.asm'), 'utf8');
  const sounds = fs.readFileSync(path.join(templates, 'sound/sounds.snd'), 'utf8');
  fs.writeFileSync(path.join(dir, 'main.asm'), source);
  fs.writeFileSync(path.join(dir, 'sounds.snd'), sounds);
  const tool = (name, ...args) => {
    const run = spawnSync(path.join(desktopBuild, 'tools', name.replace('lumacor-', ''), name), args, { cwd: dir, encoding: 'utf8' });
    assert.equal(run.status, 0, run.stderr);
  };
  tool('lumacor-sound', 'sounds.snd', '-o', 'sounds.inc');
  tool('lumacor-asm', 'main.asm', '-o', 'main.rom');

  const page = await openStudio(browser);
  await page.evaluate(async (files) => {
    for (const [name, text] of Object.entries(files)) await window.lumacorStudio.setFile(name, text);
  }, { 'main.asm': source, 'sounds.snd': sounds, 'sound.txt': '' }); // the demo's sound.txt names its sounds otherwise
  const { ok, rom } = await page.evaluate(async () => {
    const result = await window.lumacorStudio.build();
    return { ok: result.ok, rom: Array.from(result.rom) };
  });
  assert.equal(ok, true);
  assert.deepEqual(Uint8Array.from(rom), new Uint8Array(fs.readFileSync(path.join(dir, 'main.rom'))));

  await page.evaluate(() => window.lumacorStudio.openFile('sounds.snd'));
  for (const [name, frames] of [['tune', 300], ['jump', 40]]) {
    tool('lumacor-sound', 'sounds.snd', '--wav', `${name}.wav`, '--play', name, '--frames', String(frames));
    const wav = fs.readFileSync(path.join(dir, `${name}.wav`));
    const expected = wav.subarray(wav.indexOf('data') + 8); // the samples, after the data chunk's header
    // As bytes, so every sample is compared bit for bit (-0 included).
    const shown = Buffer.from(await page.evaluate((n, f) =>
      Array.from(new Uint8Array(window.lumacorStudio.soundPreview(n, f).buffer)), name, frames));
    assert.equal(shown.length, frames * 768 * 4, name);
    assert.ok(expected.some((byte) => byte !== 0), `${name} is heard`);
    assert.equal(shown.compare(expected), 0, name);
  }
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});
