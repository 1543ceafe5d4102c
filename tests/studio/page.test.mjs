// The studio page in headless Chromium, used as a person uses it: typing in
// the editor, clicking the gutter and the buttons, pressing the keys.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import {
  decodePng, fileUrl, firstDifference, launchBrowser, romPath, runDesktop, temporaryFolder, webBuild,
} from '../web/support.mjs';
import { newProject, openStudio as openStudioIn, studio } from './support.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());
const openStudio = (answers = []) => openStudioIn(browser, { answers });

const problems = (page) => page.$$eval('#problems li', (items) => items.map((item) => item.textContent));
// The editor's lines holding an error mark, by number.
const markedLines = (page) => page.evaluate(() => {
  const lines = Array.from(document.querySelectorAll('.cm-content .cm-line'));
  return lines.map((line, i) => (line.querySelector('.cm-lintRange-error') ? i + 1 : 0)).filter(Boolean);
});

// Draws tile 1 (both planes full, so every texel takes the cell's high
// colour) at cell (7, 5) in palette colour 1, then idles. Line 4 stores
// through a name that does not exist until the test fixes it.
const program = [
  '.start',
  'LDW p2, 0x8008',
  'LDW p4, 0x8808',
  'LD r0, 8',
  'fill: ST [p2], FULL',
  'ST [p4], 0xFF',
  'INCW p2',
  'INCW p4',
  'DEC r0',
  'JNZ fill',
  'LDW p2, 0x99CB',
  'ST [p2], 0x20',
  'INCW p2',
  'ST [p2], 0x40',
  'INCW p2',
  'ST [p2], 0xE0',
  'LDW p2, 0x9000 + 3 * (32 * 5 + 7)',
  'ST [p2], 1',
  'INCW p2',
  'ST [p2], 0x10',
  'idle: JMP idle',
];

test('a program typed in the editor: its error is marked at its line, and once fixed it runs with lumacor-run\'s picture', async () => {
  const page = await openStudio();
  await newProject(page, 'typed');
  await page.click('.cm-content');
  await page.keyboard.down('Control');
  await page.keyboard.press('KeyA');
  await page.keyboard.up('Control');
  await page.keyboard.press('Backspace');
  for (const line of program) {
    await page.keyboard.type(line);
    await page.keyboard.press('Enter');
    await page.keyboard.press('Home'); // the editor keeps the line's indentation; none is wanted
  }
  // The check of the whole text (on a busy machine one may run while the keys are typed).
  await page.waitForFunction(() => /^main\.asm:5:/.test(document.querySelector('#problems li.error')?.textContent) &&
    document.querySelectorAll('#problems li').length === 1);
  assert.deepEqual(await markedLines(page), [5]);
  assert.match((await problems(page))[0], /^main\.asm:5:\d+: error: .*FULL/);

  // Fixed where it is: the word replaced by a number.
  const line = await page.$$('.cm-content .cm-line');
  const box = await (await line[4].$('.cm-lintRange-error')).boundingBox();
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2, { clickCount: 2 });
  await page.keyboard.type('0xFF');
  await page.waitForFunction(() => !document.querySelector('#problems li') && !document.querySelector('.cm-lintRange-error'));

  await page.keyboard.down('Control');
  await page.keyboard.press('Enter');
  await page.keyboard.up('Control');
  await page.waitForFunction(() => window.lumacorStudio.player && window.lumacorStudio.player.frame > 3);
  const shown = await page.evaluate(() => {
    window.lumacorStudio.player.pause();
    return Array.from(window.lumacorStudio.player.pixels());
  });
  const { rom } = await page.evaluate(async () => ({ rom: Array.from((await window.lumacorStudio.build()).rom) }));
  const dir = temporaryFolder();
  fs.writeFileSync(path.join(dir, 'typed.rom'), Uint8Array.from(rom));
  const expected = await decodePng(page, runDesktop(path.join(dir, 'typed.rom'), 10).png);
  assert.equal(firstDifference(shown, expected), null);
  // The tile is there: the picture is not blank.
  const at = 4 * ((5 * 8 + 3) * 256 + 7 * 8 + 3);
  assert.deepEqual(shown.slice(at, at + 3), [0xE0, 0x40, 0x20]);

  await page.keyboard.press('Escape');
  assert.equal(await page.evaluate(() => window.lumacorStudio.player), null);
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('a breakpoint clicked in the gutter stops the demo there; step, step back and continue follow the source', async () => {
  const page = await openStudio();
  await page.locator('#file-list li[data-name="game.asm"]').click();
  await page.evaluate(() => window.lumacorStudio.openFile('game.asm', 56));
  // The gutter beside line 56 (title_frame's first instruction).
  const number = await page.evaluateHandle(() => Array.from(document.querySelectorAll('.cm-lineNumbers .cm-gutterElement'))
    .find((element) => element.textContent === '56'));
  const row = await number.boundingBox();
  const gutter = await (await page.$('.cm-breakpoint-gutter')).boundingBox();
  await page.mouse.click(gutter.x + gutter.width / 2, row.y + row.height / 2);
  await page.waitForSelector('.cm-breakpoint');

  await page.keyboard.press('F5');
  await page.waitForFunction(() => window.lumacorStudio.debugger?.state() === 'stopped');
  const where = () => page.evaluate(() => window.lumacorStudio.debugger.where());
  const first = await where();
  assert.equal(first.reason, 'breakpoint');
  assert.equal(first.file.endsWith('/game.asm'), true);
  assert.equal(first.line, 56);
  assert.equal(first.instruction, 'CALL cycle_palette');
  assert.equal(await page.$eval('.cm-current-line', (line) => line.textContent.trim()), 'CALL  cycle_palette');
  assert.match(await page.$eval('#registers', (r) => r.textContent), /r0 [0-9A-F]{2}.*PC 01A6|PC [0-9A-F]{4}/);

  // The video memory view's palette is the machine's, stored blue first.
  const palette = await page.evaluate(() => {
    const memory = window.lumacorStudio.debugger.memory(0x99C8, 48);
    const shown = document.getElementById('vram-palette').getContext('2d').getImageData(0, 0, 128, 8).data;
    return Array.from({ length: 16 }, (_, i) => [[memory[3 * i + 2], memory[3 * i + 1], memory[3 * i]],
      Array.from(shown.slice(4 * (i * 8 + 4), 4 * (i * 8 + 4) + 3))]);
  });
  for (const [machine, shown] of palette) assert.deepEqual(shown, machine);
  assert.ok(new Set(palette.map(([machine]) => machine.join())).size > 4, 'the demo sets its palette');

  await page.click('#step-in');
  await page.waitForFunction(() => window.lumacorStudio.debugger.state() === 'stopped');
  const inside = await where();
  assert.equal(inside.where, 'cycle_palette');
  assert.equal(inside.calls.at(-1), 'cycle_palette');

  await page.click('#step-back');
  assert.equal((await where()).line, 56);
  assert.equal((await where()).now, first.now);

  await page.click('#continue');
  await page.waitForFunction((now) => window.lumacorStudio.debugger.state() === 'stopped' &&
    window.lumacorStudio.debugger.where().now > now, {}, first.now);
  const next = await where();
  assert.equal(next.line, 56);
  assert.equal(next.frame, first.frame + 1);

  // Taken off in the gutter, the breakpoint no longer stops the run.
  const again = await (await page.evaluateHandle(() => Array.from(document.querySelectorAll('.cm-lineNumbers .cm-gutterElement'))
    .find((element) => element.textContent === '56'))).boundingBox();
  await page.mouse.click(gutter.x + gutter.width / 2, again.y + again.height / 2);
  await page.waitForFunction(() => !document.querySelector('.cm-breakpoint'));
  await page.click('#continue');
  await page.waitForFunction((frame) => window.lumacorStudio.debugger.where().frame > frame + 3, {}, next.frame);
  assert.equal(await page.evaluate(() => window.lumacorStudio.debugger.state()), 'running');
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('Export writes lumacor-export\'s page for the build, which plays; Download gives the ROM', async () => {
  const page = await openStudio();
  const page_ = await page.downloads.take('demo.html', () => page.click('#export-html'));
  const rom = await page.downloads.take('demo.rom', () => page.click('#download-rom'));
  assert.deepEqual(rom, fs.readFileSync(romPath('demo.rom')));

  const dir = temporaryFolder();
  fs.copyFileSync(romPath('demo.rom'), path.join(dir, 'demo.rom'));
  const run = spawnSync(process.execPath, [path.join(webBuild, 'lumacor-export'), path.join(dir, 'demo.rom'), '-o', path.join(dir, 'expected.html')]);
  assert.equal(run.status, 0, String(run.stderr));
  assert.ok(page_.equals(fs.readFileSync(path.join(dir, 'expected.html'))), 'the exported page differs from lumacor-export\'s');

  const played = await browser.newPage();
  await played.goto(fileUrl(path.join(page.downloads.folder, 'demo.html')));
  await played.evaluate(() => window.lumacor.ready);
  assert.equal(await played.evaluate(() => window.lumacor.cartridge), 'demo.rom');
  await played.waitForFunction(() => window.lumacor.frame > 2);
  await played.close();
  await page.browserContext().close();
});

test('save RAM is kept per project: building again restarts the game with it, it outlives the page, and an exported game has its own', async () => {
  const page = await openStudio();
  // Counts its starts in save RAM byte 0.
  const counter = () => page.evaluate(() => window.lumacorStudio.setFile('main.asm',
    '.start\nLDW p2, 0xE000\nLD r0, [p2]\nINC r0\nST [p2], r0\nidle: JMP idle\n'));
  const started = async () => {
    await page.evaluate(() => window.lumacorStudio.run({ paused: true }));
    await page.evaluate(() => window.lumacorStudio.player.runFrames(1));
    return page.evaluate(() => window.lumacorStudio.player.saveRAM()[0]);
  };
  await newProject(page, 'counter');
  await counter();
  assert.deepEqual([await started(), await started()], [1, 2]);
  await page.evaluate(() => window.lumacorStudio.stop());
  await page.reload();
  await page.evaluate(() => window.lumacorStudio.ready);
  assert.equal(await page.evaluate(() => window.lumacorStudio.project), 'counter');
  assert.equal(await started(), 3);
  // Exported and opened in the same browser, the game starts from blank save RAM, not the studio's.
  await page.evaluate(() => window.lumacorStudio.stop());
  await page.downloads.take('counter.html', () => page.click('#export-html'));
  const played = await page.browserContext().newPage();
  await played.goto(fileUrl(path.join(page.downloads.folder, 'counter.html')));
  await played.waitForFunction(() => window.lumacor.frame > 2);
  assert.equal(await played.evaluate(() => window.lumacor.saveRAM()[0]), 1);
  await played.close(); // the studio's tab in front again: a tab behind paints no frames
  assert.equal(await started(), 4);
  // The same game in another project starts from that project's save RAM.
  await newProject(page, 'other');
  await counter();
  assert.equal(await started(), 1);
  await page.browserContext().close();
});

test('a tile drawn with the mouse in the art editor, copied, flipped and rotated, is on the screen once built; a third colour in a cell is marked and fails the build', async () => {
  const page = await openStudio(['art/screen.png', 'screen']);
  await newProject(page, 'drawn');
  // Copies the converted screen's video memory in, then idles.
  await page.evaluate(() => Promise.all([
    window.lumacorStudio.setFile('gfx.txt', 'art/screen.png --vram\n'),
    window.lumacorStudio.setFile('main.asm', '.start\nLDW p2, screen\nLDW p4, 0x8000\ncopy: LD r0, [p2]\nST [p4], r0\n' +
      'INCW p2\nINCW p4\nCMPW p4, 0xA000\nJNZ copy\nidle: JMP idle\nscreen: .incbin "art/screen.vram"\n'),
  ]));
  await page.click('#file-new');
  await page.waitForSelector('#art:not([hidden]) #art-canvas');
  let canvas;
  const at = (x, y) => [canvas.x + (x + 0.5) * (canvas.width / 256), canvas.y + (y + 0.5) * (canvas.width / 256)];
  const stroke = async (points, button = 'left') => {
    canvas = await (await page.$('#art-canvas')).boundingBox();
    await page.mouse.move(...at(...points[0]));
    await page.mouse.down({ button });
    for (const point of points.slice(1)) await page.mouse.move(...at(...point), { steps: 4 });
    await page.mouse.up({ button });
  };
  // Cell (1, 1) in colour 2: its top row, and a column down its left side.
  await page.click('#art-palette .swatch[data-index="2"]');
  await stroke([[8, 8], [15, 8]]);
  await stroke([[8, 9], [8, 15]]);
  // Two more colours in the same cell.
  await page.click('#art-palette .swatch[data-index="4"]');
  await stroke([[12, 12], [13, 12]]);
  await page.click('#art-palette .swatch[data-index="1"]');
  await stroke([[12, 14], [13, 14]]);
  await page.waitForFunction(() => document.querySelector('#art-status').classList.contains('error'));
  assert.match(await page.$eval('#art-status', (s) => s.textContent), /1 cell\(s\) with more than two colours/);
  const refused = await page.evaluate(async () => (await window.lumacorStudio.build()));
  assert.equal(refused.ok, false);
  assert.match(refused.errors[0].file, /art\/screen\.png/);
  assert.match(refused.errors[0].message, /cell 1,1/);

  // The third colour erased with the right button, and colour 2 made another red.
  await stroke([[12, 14], [13, 14]], 'right');
  await page.waitForFunction(() => !document.querySelector('#art-status').classList.contains('error'));
  // The problem goes from the list once the picture is fixed, without a build.
  await page.waitForFunction(() => !document.querySelector('#problems li'));
  // Cell (1, 1) copied to (3, 1), flipped there, and to (5, 1), rotated there.
  const clickPixel = async (x, y) => {
    canvas = await (await page.$('#art-canvas')).boundingBox();
    await page.mouse.click(...at(x, y));
  };
  await page.click('#art-select');
  await clickPixel(9, 9);
  await page.click('#art-copy');
  await clickPixel(25, 9);
  await page.click('#art-paste');
  await page.click('#art-flip-h');
  await clickPixel(41, 9);
  await page.click('#art-paste');
  await page.click('#art-rotate');
  await page.click('#art-palette .swatch[data-index="2"]');
  await page.$eval('#art-colour-edit', (input) => {
    input.value = '#f02000';
    input.dispatchEvent(new Event('change'));
  });

  await page.keyboard.down('Control');
  await page.keyboard.press('Enter');
  await page.keyboard.up('Control');
  await page.waitForFunction(() => window.lumacorStudio.player && window.lumacorStudio.player.frame > 2);
  const texel = (x, y) => page.evaluate((i) => Array.from(window.lumacorStudio.player.pixels().slice(i, i + 3)), 4 * (y * 256 + x));
  for (const [x, y] of [[8, 8], [15, 8], [8, 15]]) assert.deepEqual(await texel(x, y), [0xF0, 0x20, 0x00], `${x},${y}`);
  assert.deepEqual(await texel(12, 12), [0x40, 0x60, 0xFF]); // colour 4 of the default palette
  assert.deepEqual(await texel(12, 14), [0, 0, 0]);          // erased: undrawn
  assert.deepEqual(await texel(9, 9), [0, 0, 0]);
  const red = [0xF0, 0x20, 0x00];
  const blue = [0x40, 0x60, 0xFF];
  for (const [x, y] of [[24, 8], [31, 8], [31, 15]]) assert.deepEqual(await texel(x, y), red, `flipped ${x},${y}`);
  assert.deepEqual(await texel(24, 15), [0, 0, 0]);
  assert.deepEqual(await texel(27, 12), blue);
  for (const [x, y] of [[40, 8], [40, 15], [47, 15]]) assert.deepEqual(await texel(x, y), red, `rotated ${x},${y}`);
  assert.deepEqual(await texel(47, 8), [0, 0, 0]);
  assert.deepEqual(await texel(44, 10), blue);
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('the debugged game takes the player\'s keys while its picture has the focus, and lets go when it loses it', async () => {
  const page = await openStudio();
  await newProject(page, 'keys');
  // Copies pad 0's byte into work RAM, over and over.
  await page.evaluate(() => window.lumacorStudio.setFile('main.asm',
    '.start\nloop: LDW p2, 0xFF0A\nLD r0, [p2]\nLDW p2, 0xA000\nST [p2], r0\nJMP loop\n'));
  await page.click('#debug');
  await page.waitForFunction(() => window.lumacorStudio.debugger?.state() === 'running');
  const padByte = () => page.evaluate(() => window.lumacorStudio.debugger.memory(0xA000, 1)[0]);
  const frameNow = () => page.evaluate(() => window.lumacorStudio.debugger.where().frame);
  const afterFrames = async (count) => {
    const from = await frameNow();
    await page.waitForFunction((f, n) => window.lumacorStudio.debugger.where().frame >= f + n, {}, from, count);
  };
  await page.click('#debug-screen');
  await page.keyboard.down('ArrowRight');
  await page.keyboard.down('KeyZ');
  await afterFrames(2);
  assert.equal(await padByte(), 0x08 | 0x40);
  await page.keyboard.up('KeyZ');
  await afterFrames(2);
  assert.equal(await padByte(), 0x08);
  // A click elsewhere takes the focus: the held key is let go.
  await page.click('.cm-content');
  await afterFrames(2);
  assert.equal(await padByte(), 0);
  await page.keyboard.up('ArrowRight');
  await page.browserContext().close();
});

test('go to definition: Ctrl+click on a label opens its definition, F12 too, in another file as well', async () => {
  const page = await openStudio();
  await page.evaluate(() => window.lumacorStudio.openFile('game.asm', 56));
  const word = async (lineText, name) => {
    const line = await page.evaluateHandle((text) => Array.from(document.querySelectorAll('.cm-content .cm-line'))
      .find((l) => l.textContent.trim() === text), lineText);
    const box = await line.boundingBox();
    const offset = await line.evaluate((l, n) => {
      const range = document.createRange();
      const node = l.lastChild.nodeType === Node.TEXT_NODE ? l.lastChild : l.lastChild.firstChild;
      range.setStart(node, node.textContent.indexOf(n) + 2);
      return range.getBoundingClientRect().x;
    }, name);
    return [offset, box.y + box.height / 2];
  };
  await page.keyboard.down('Control');
  await page.mouse.click(...await word('CALL  cycle_palette', 'cycle_palette'));
  await page.keyboard.up('Control');
  await page.waitForFunction(() => document.querySelector('.cm-activeLine')?.textContent === 'cycle_palette:');
  assert.equal(await page.$eval('#file-list li.open', (l) => l.dataset.name), 'game.asm');

  await page.evaluate(() => window.lumacorStudio.openFile('game.asm', 41));
  await page.mouse.click(...await word('CALL  select_bank2', 'select_bank2'));
  await page.keyboard.press('F12');
  await page.waitForFunction(() => document.querySelector('#file-list li.open')?.dataset.name === 'video.asm');
  await page.waitForFunction(() => document.querySelector('.cm-activeLine')?.textContent.startsWith('select_bank2:'));
  await page.browserContext().close();
});

test('projects are made, renamed and deleted from the bar, and outlive the page; the last one goes back to the sample', async () => {
  const page = await openStudio(['renamed']);
  const names = () => page.$$eval('#project option', (options) => options.map((o) => o.value));
  assert.deepEqual(await names(), ['demo']);
  await newProject(page, 'mine');
  await page.evaluate(() => window.lumacorStudio.setFile('main.asm', '; mine\n'));
  await page.click('#project-rename');
  await page.waitForFunction(() => window.lumacorStudio.project === 'renamed');
  assert.deepEqual(await names(), ['demo', 'renamed']);
  await page.reload();
  await page.evaluate(() => window.lumacorStudio.ready);
  assert.equal(await page.evaluate(() => window.lumacorStudio.project), 'renamed');
  assert.deepEqual(await page.evaluate(() => window.lumacorStudio.files()), ['lumacor.inc', 'main.asm']);
  assert.equal(await page.$eval('.cm-content', (c) => c.textContent), '; mine');
  await page.click('#project-delete');
  await page.waitForFunction(() => window.lumacorStudio.project === 'demo');
  assert.deepEqual(await names(), ['demo']);
  // The last project deleted, the sample comes back as it was shipped.
  await page.evaluate(() => window.lumacorStudio.setFile('extra.asm', '; extra\n'));
  await page.click('#project-delete');
  await page.waitForFunction(() => window.lumacorStudio.files().includes('demo.asm') &&
    !window.lumacorStudio.files().includes('extra.asm'));
  assert.deepEqual(await names(), ['demo']);
  await page.browserContext().close();
});

test('a browser that refuses IndexedDB still gets a working studio, and is told its projects are not kept', async () => {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  await page.evaluateOnNewDocument(() => {
    Object.defineProperty(window, 'indexedDB', { get() { throw new DOMException('refused', 'SecurityError'); } });
  });
  await page.goto(studio);
  await page.evaluate(() => window.lumacorStudio.ready);
  assert.match(await page.$eval('#status', (s) => s.textContent), /keeps no projects/);
  const built = await page.evaluate(async () => (await window.lumacorStudio.build()).rom.length);
  assert.equal(built, fs.statSync(romPath('demo.rom')).size);
  await context.close();
});
