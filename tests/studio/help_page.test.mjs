// Help in the studio as a person meets it: hovering over a word, completing
// one as it is typed, F1 on a word, the docs' links, each template of New
// built and run as it comes, and the tutorial's steps showing their pictures.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { decodePng, firstDifference, launchBrowser, runDesktop, temporaryFolder, webBuild } from '../web/support.mjs';
import { newProject, openStudio } from './support.mjs';

const templatesDir = path.resolve(import.meta.dirname, '../../roms/templates');
let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());

// The box of the first editor text `text` on the line holding `lineText`.
async function boxOf(page, lineText, text) {
  return page.evaluate((whole, part) => {
    const line = Array.from(document.querySelectorAll('.cm-content .cm-line')).find((l) => l.textContent.includes(whole));
    const walker = document.createTreeWalker(line, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      const at = node.textContent.indexOf(part);
      if (at < 0) continue;
      const range = document.createRange();
      range.setStart(node, at);
      range.setEnd(node, at + part.length);
      const { x, y, width, height } = range.getBoundingClientRect();
      return { x, y, width, height };
    }
    return null;
  }, lineText, text);
}

async function hover(page, lineText, word) {
  const box = await boxOf(page, lineText, word);
  await page.mouse.move(0, 0);
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.waitForSelector('.cm-help-tip');
  const tip = await page.$eval('.cm-help-tip', (t) => t.textContent);
  await page.mouse.move(0, 0);
  await page.waitForFunction(() => !document.querySelector('.cm-help-tip'));
  return tip;
}

async function clickIn(page, lineText, word, after = true) {
  const box = await boxOf(page, lineText, word);
  await page.mouse.click(after ? box.x + box.width - 1 : box.x + 1, box.y + box.height / 2);
}

// The labels of the completion list once it shows `label`, which it has
// selected when `selected` is true (completion follows the typing a little
// later).
async function offered(page, label, selected = false) {
  await page.waitForFunction((wanted, chosen) => {
    const items = Array.from(document.querySelectorAll('.cm-tooltip-autocomplete li'));
    return items.some((i) => i.querySelector('.cm-completionLabel').textContent === wanted
      && (!chosen || i.getAttribute('aria-selected') === 'true'));
  }, {}, label, selected);
  return page.$$eval('.cm-tooltip-autocomplete li', (items) => items.map((i) => i.querySelector('.cm-completionLabel').textContent));
}

// Enter takes the selected completion once the list has been open a moment
// (the editor ignores an Enter that comes with the list, as typed through).
async function accept(page) {
  await new Promise((resolve) => { setTimeout(resolve, 300); });
  await page.keyboard.press('Enter');
}

test('hovering over a mnemonic, a directive, a register or a lumacor.inc name shows its line of help', async () => {
  const page = await openStudio(browser);
  await newProject(page, 'hovered');
  assert.match(await hover(page, 'LDW   p0, VRAM_PALETTE', 'LDW'), /^Load a pair with a 16-bit word\. LDW pX, nn$/);
  assert.match(await hover(page, 'LDW   p0, VRAM_PALETTE', 'VRAM_PALETTE'), /^VRAM_PALETTE = 0x99C8: COLOR_COUNT colours/);
  assert.match(await hover(page, '.vector FRAME_VECTOR', '.vector'), /^\.vector n, addr: Interrupt vector n/);
  assert.match(await hover(page, 'PUSH  p10', 'p10'), /^Pair 10, .*r11/);
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('completion offers include names, the project\'s labels and the locals in scope; Enter takes one', async () => {
  const page = await openStudio(browser);
  await newProject(page, 'completed');
  await clickIn(page, '; The game\'s work', 'goes here.');
  await page.keyboard.press('End');
  await page.keyboard.press('Enter');
  await page.keyboard.type('LDW p0, PAD1_B');
  assert.deepEqual(await offered(page, 'PAD1_BUTTONS', true), ['PAD1_BUTTONS']);
  await accept(page);
  await page.keyboard.press('Enter');
  await page.keyboard.type('CALL wait_f');
  assert.deepEqual(await offered(page, 'wait_frame', true), ['wait_frame']);
  await accept(page);
  const lines = await page.$$eval('.cm-content .cm-line', (all) => all.map((l) => l.textContent.trim()));
  assert.ok(lines.includes('LDW p0, PAD1_BUTTONS') && lines.includes('CALL wait_frame'), lines.join('\n'));
  // A local label is offered only under its own global label.
  await page.keyboard.press('Enter');
  await page.keyboard.type('JMP .');
  const inMain = await offered(page, '.byte');
  assert.ok(inMain.includes('.byte') && !inMain.includes('.wait'), inMain.join(' '));
  await page.keyboard.press('Escape');
  await clickIn(page, 'JZ    .wait', '.wait');
  await page.keyboard.press('Enter');
  await page.keyboard.type('JMP .wa');
  assert.deepEqual(await offered(page, '.wait'), ['.wait']);
  await page.browserContext().close();
});

test('F1 opens the help at the word under the cursor, and the docs\' links stay in the panel', async () => {
  const page = await openStudio(browser);
  await newProject(page, 'helped');
  assert.equal(await page.$eval('#help', (h) => h.hidden), true);
  const found = () => page.$eval('#help', (h) => ({ hidden: h.hidden, page: h.querySelector('select').value,
    at: h.querySelector('.help-found')?.id ?? null }));
  await clickIn(page, '        EI', 'EI');
  await page.keyboard.press('F1');
  assert.deepEqual(await found(), { hidden: false, page: 'instructions', at: 'instruction-EI' });
  await clickIn(page, 'LDW   p0, VRAM_PLANE_B', 'VRAM_PLANE', false);
  await page.keyboard.press('F1');
  assert.deepEqual(await found(), { hidden: false, page: 'include:lumacor.inc', at: 'name-VRAM_PLANE_B' });
  // The anchored entry is in view in the panel.
  const inView = await page.$eval('#help .help-found', (entry) => {
    const body = entry.closest('.help-body').getBoundingClientRect();
    const box = entry.getBoundingClientRect();
    return box.top >= body.top - 1 && box.top < body.bottom;
  });
  assert.ok(inView);
  await page.select('#help select', 'doc:tutorial.md');
  await page.click('#help a[href="machine.md"]');
  assert.equal((await found()).page, 'doc:machine.md');
  assert.ok(await page.$('#help h2#memory-map'));
  await page.click('#help-toggle');
  assert.equal((await found()).hidden, true);
  // Away from the editor F1 is the studio's too, not the browser's.
  await page.click('#status');
  await page.keyboard.press('F1');
  assert.deepEqual(await found(), { hidden: false, page: 'doc:machine.md', at: null });
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

const templates = fs.readdirSync(templatesDir).filter((f) => f.endsWith('.asm')).sort()
  .map((file) => ({ file, source: fs.readFileSync(path.join(templatesDir, file), 'utf8') }))
  .map((t) => ({ ...t, title: /^;\s*([^:]+):/.exec(t.source)[1].trim() }));

test('New offers every template, Blank first, and each builds and runs as made: lumacor-run\'s picture', async () => {
  const page = await openStudio(browser);
  await page.click('#project-new');
  const offeredTitles = await page.$$eval('#new-project label.template b', (all) => all.map((b) => b.textContent.trim()));
  assert.equal(offeredTitles[0], 'Blank');
  assert.deepEqual([...offeredTitles].sort(), templates.map((t) => t.title).sort());
  await page.keyboard.press('Escape');
  for (const template of templates) {
    const name = template.file.replace(/\.asm$/, '');
    await newProject(page, name, template.title);
    const built = await page.evaluate(async () => {
      const result = await window.lumacorStudio.build();
      return { ok: result.ok, errors: result.errors, rom: Array.from(result.rom) };
    });
    assert.ok(built.ok, `${template.title}: ${JSON.stringify(built.errors)}`);
    assert.deepEqual(built.errors, [], template.title);
    // The pad held right from the start, on both sides.
    await page.evaluate(() => window.lumacorStudio.run({ paused: true }));
    const shown = await page.evaluate(() => {
      window.lumacorStudio.player.setButtons(0, 0x08);
      window.lumacorStudio.player.runFrames(40);
      return Array.from(window.lumacorStudio.player.pixels());
    });
    const dir = temporaryFolder();
    fs.writeFileSync(path.join(dir, 'game.rom'), Uint8Array.from(built.rom));
    const expected = await decodePng(page, runDesktop(path.join(dir, 'game.rom'), 40, ['0:right']).png);
    assert.equal(firstDifference(shown, expected), null, template.title);
    assert.ok(shown.some((value, i) => i % 4 !== 3 && value !== 0), `${template.title} shows something`);
    const first = await page.$eval('.cm-content .cm-line', (line) => line.textContent);
    assert.equal(first, template.source.split('\n')[0]);
  }
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

// The tutorial's steps: each program and the picture it is said to show,
// with the buttons held (press=FRAME:BUTTONS) and the frames run.
const BUTTONS = { up: 0x01, down: 0x02, left: 0x04, right: 0x08, start: 0x10, back: 0x20, a: 0x40, x: 0x80, none: 0 };
const tutorial = fs.readFileSync(path.resolve(import.meta.dirname, '../../docs/tutorial.md'), 'utf8');
const steps = Array.from(tutorial.matchAll(/^```asm (\S+) (shows=.*)\n([\s\S]*?)^```$/gm), ([, file, options, source]) => {
  const words = options.split(' ');
  const value = (key) => words.filter((w) => w.startsWith(`${key}=`)).map((w) => w.slice(key.length + 1));
  const presses = value('press').map((p) => p.split(':')).map(([frame, buttons]) =>
    ({ frame: Number(frame), bits: buttons.split('+').reduce((bits, b) => bits | BUTTONS[b], 0) }));
  return { file, source, picture: value('shows')[0], frames: Number(value('frames')[0] || 60), presses };
});

test('each step of the tutorial, typed into a new project, shows its picture in the studio', async () => {
  assert.equal(steps.length, 4);
  const page = await openStudio(browser);
  await newProject(page, 'tutorial');
  for (const step of steps) {
    await page.evaluate((source) => window.lumacorStudio.setFile('main.asm', source), step.source);
    await page.evaluate(() => window.lumacorStudio.run({ paused: true }));
    const shown = await page.evaluate(({ frames, presses }) => {
      const player = window.lumacorStudio.player;
      let frame = 0;
      for (const press of presses) {
        player.runFrames(press.frame - frame);
        player.setButtons(0, press.bits);
        frame = press.frame;
      }
      player.runFrames(frames - frame);
      return Array.from(player.pixels());
    }, step);
    const picture = fs.readFileSync(path.resolve(import.meta.dirname, '../../docs', step.picture));
    assert.equal(firstDifference(shown, await decodePng(page, picture)), null, step.file);
  }
  await page.browserContext().close();
});

test('the page stays under 1.5 MB with the docs, the references and the templates inside', () => {
  const size = fs.statSync(path.join(webBuild, 'studio.html')).size;
  assert.ok(size < 1.5e6, `studio.html is ${size} bytes`);
});
