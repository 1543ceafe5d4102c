// The studio's help against the tools: every form the reference gives
// assembles with lumacor-asm to the opcode and size it states, every example
// assembles, every name of lumacor.inc is in the hardware reference, and
// what the editor offers (hover, completion, labels in scope) is right.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';
import { desktopBuild, temporaryFolder } from '../web/support.mjs';
import { indexHelp, lookupWord } from '../../web/studio/src/help.js';
import { completionsFor, labelsInScope, wordAt } from '../../web/studio/src/assist.js';

const require = createRequire(import.meta.url);
const { helpData, parseInclude } = require('../../web/studio/make_help.cjs');
const root = path.resolve(import.meta.dirname, '../..');
const includeDir = path.join(desktopBuild, 'tools/asm/include');
const reference = path.join(desktopBuild, 'tools/asm/reference.json');
const help = helpData({ reference, includes: includeDir, docs: path.join(root, 'docs') });

// Assembles `lines` after the include and .start; the bytes placed at 0x0100.
function assemble(lines) {
  const dir = temporaryFolder();
  const source = path.join(dir, 'x.asm');
  fs.writeFileSync(source, ['.include "lumacor.inc"', '.start', ...lines, ''].join('\n'));
  const run = spawnSync(path.join(desktopBuild, 'tools/asm/lumacor-asm'), [source, '-o', path.join(dir, 'x.rom')],
    { encoding: 'utf8' });
  const rom = run.status === 0 ? fs.readFileSync(path.join(dir, 'x.rom')) : null;
  fs.rmSync(dir, { recursive: true, force: true });
  return { ok: run.status === 0, quiet: run.stderr === '', message: run.stderr, bytes: rom && rom.subarray(0x100) };
}

// A form's syntax with operands filled in: registers r1/r3, pairs p2/p4.
const instance = (syntax) => syntax.replace(/\[p([XY])\]/g, (_, w) => `[p${w === 'X' ? 2 : 4}]`)
  .replace(/\bp([XY])\b/g, (_, w) => `p${w === 'X' ? 2 : 4}`).replace(/\br([XY])\b/g, (_, w) => `r${w === 'X' ? 1 : 3}`)
  .replace(/\bnn\b/, '0x1234').replace(/\bn\b/, '5').replace(/\bport\b/, '0x80');

test('every form in the reference assembles to its opcode and size, and the 53 opcodes are all there', () => {
  const forms = help.instructions.flatMap((i) => i.forms.map((f) => ({ ...f, mnemonic: i.mnemonic })));
  assert.equal(forms.length, 53);
  assert.equal(new Set(forms.map((f) => f.opcode)).size, 53);
  for (const form of forms) {
    assert.ok(form.syntax.startsWith(form.mnemonic), form.syntax);
    const { ok, bytes, message } = assemble([instance(form.syntax), 'HALT']);
    assert.ok(ok, `${form.syntax}: ${message}`);
    assert.equal(`0x${bytes[0].toString(16).toUpperCase().padStart(2, '0')}`, form.opcode, form.syntax);
    assert.equal(bytes[form.size], 0xFF, `${form.syntax} is ${form.size} bytes`);
  }
});

test('every example assembles cleanly to one of its own mnemonic\'s opcodes', () => {
  for (const instruction of help.instructions) {
    const { ok, quiet, bytes, message } = assemble([instruction.example]);
    assert.ok(ok && quiet, `${instruction.example}: ${message}`);
    const opcodes = instruction.forms.map((f) => Number(f.opcode));
    assert.ok(opcodes.includes(bytes[0]), `${instruction.example} gives 0x${bytes[0].toString(16)}`);
  }
});

test('the hardware reference holds every name of lumacor.inc with its value, under its section', () => {
  const text = fs.readFileSync(path.join(includeDir, 'lumacor.inc'), 'utf8');
  const lines = text.split('\n').filter((line) => /^[A-Z_]\w*\s*=/.test(line));
  const include = help.hardware.find((h) => h.file === 'lumacor.inc');
  const names = include.sections.flatMap((s) => s.names.map((n) => ({ ...n, section: s.title })));
  assert.equal(names.length, lines.length);
  const byName = new Map(names.map((n) => [n.name, n]));
  assert.equal(byName.get('PAD_A').value, '0x40');
  assert.equal(byName.get('PAD_A').section, 'controllers: a bit is 1 while its button is held');
  assert.equal(byName.get('VRAM_SPRITES').note, 'SPRITE_COUNT sprites of SPRITE_SIZE bytes');
  assert.equal(byName.get('MAP_ROWS').note, '');
});

test('an include added beside lumacor.inc joins the help, read the same way', () => {
  const dir = temporaryFolder();
  fs.copyFileSync(path.join(includeDir, 'lumacor.inc'), path.join(dir, 'lumacor.inc'));
  fs.writeFileSync(path.join(dir, 'tunes.inc'), '; tunes.inc: the tune player\n\n; --- notes\nTUNE_REST = 0xFF ; a silent step\n');
  const both = helpData({ reference, includes: dir, docs: path.join(root, 'docs') });
  fs.rmSync(dir, { recursive: true, force: true });
  assert.deepEqual(both.hardware.map((h) => h.file), ['lumacor.inc', 'tunes.inc']);
  assert.equal(lookupWord(indexHelp(both), 'TUNE_REST').line, 'TUNE_REST = 0xFF: a silent step (tunes.inc, notes)');
  assert.deepEqual(parseInclude('x.inc', 'A = 1\n').sections, [{ title: 'x.inc', names: [{ name: 'A', value: '1', note: '' }] }]);
});

test('every routine a program calls in sound.inc and map.inc has its line of help; the driver\'s own labels do not', () => {
  const words = indexHelp(help);
  const routines = { 'sound.inc': ['snd_init', 'snd_frame', 'snd_music', 'snd_effect', 'snd_stop'], 'map.inc': ['map_unpack'] };
  for (const [file, names] of Object.entries(routines)) {
    for (const name of names) {
      assert.match(lookupWord(words, name)?.line ?? '', new RegExp(`^CALL ${name}: .+ \\(${file}, routines\\)$`), name);
    }
  }
  assert.equal(lookupWord(words, 'snd_channel'), null);
  assert.match(lookupWord(words, 'SND_RAM').line, /^SND_RAM = 0xDFE0: /);
  assert.deepEqual(parseInclude('x.inc', 'go: ; start\nown:\n.local: ; no\n').sections[0].names,
    [{ name: 'go', value: '', note: 'start', routine: true }]);
});

test('the language reference lists the conditional directives', () => {
  const words = indexHelp(help);
  for (const name of ['.ifdef', '.ifndef', '.else', '.endif']) assert.equal(lookupWord(words, name)?.kind, 'directive', name);
});

test('the docs are rendered with anchors and their pictures inside', () => {
  const tutorial = help.docs.find((d) => d.name === 'tutorial.md');
  assert.equal(tutorial.title, 'Your first game, step by step');
  assert.match(tutorial.html, /<h2 id="step-1-a-sky">/);
  assert.match(tutorial.html, /<img src="data:image\/png;base64,iVBOR/);
  const assembly = help.docs.find((d) => d.name === 'assembly.md');
  assert.match(assembly.html, /<h2 id="the-hardware-include">/);
});

test('hover finds mnemonics and registers in any case, directives, and include names as written', () => {
  const words = indexHelp(help);
  assert.match(lookupWord(words, 'ld').line, /^Load a register.*LD rX, n · LD rX, \[pY\]$/);
  assert.equal(lookupWord(words, '.BYTE').kind, 'directive');
  assert.equal(lookupWord(words, 'sp').kind, 'register');
  assert.match(lookupWord(words, 'PAD_LEFT').line, /^PAD_LEFT = 0x04 \(lumacor\.inc, controllers/);
  assert.equal(lookupWord(words, 'pad_left'), null);
  assert.equal(lookupWord(words, 'loop'), null);
});

test('a word is found around the cursor, dots included', () => {
  assert.deepEqual(wordAt('  LD r0, outer.inner ; x', 12), { from: 9, to: 20, word: 'outer.inner' });
  assert.equal(wordAt('  .byte 1', 2).word, '.byte');
  assert.equal(wordAt('  LD r0, 1', 5).word, 'r0');
  assert.equal(wordAt('a , b', 2), null);
});

test('labels in scope: every global label and constant, and the locals under the global label above', () => {
  const other = 'helper: RET\nLIMIT = 5\n.equ WIDTH, 8\n.far: NOP\n';
  const current = 'first:\n.one: NOP\nsecond:\n.two: NOP\n  JMP .two\n.three: NOP\nthird:\n.four: NOP\n';
  assert.deepEqual(labelsInScope([other], current, 5).sort(),
    ['.three', '.two', 'LIMIT', 'WIDTH', 'first', 'helper', 'second', 'third']);
  assert.deepEqual(labelsInScope([], current, 1).sort(), ['.one', 'first', 'second', 'third']);
});

test('completion offers directives after a dot, else mnemonics, registers and include names, with labels', () => {
  const words = indexHelp(help);
  const plain = completionsFor('LD', words, ['loop', '.wait', 'PAD_A']).map((o) => o.label);
  assert.equal(plain.filter((w) => w === 'PAD_A').length, 1);
  assert.ok(['LD', 'LDW', 'PAD_A', 'r0', 'p15', 'SP', 'loop'].every((w) => plain.includes(w)), plain.join(' '));
  assert.ok(!plain.includes('.byte') && !plain.includes('.wait'));
  const dotted = completionsFor('.', words, ['loop', '.wait']).map((o) => o.label);
  assert.ok(dotted.includes('.byte') && dotted.includes('.wait') && !dotted.includes('LD') && !dotted.includes('loop'));
});
