// The rough edges a first game met in the studio, each as a person meets it
// (the page's size is checked with the help that fills most of it).
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { launchBrowser } from '../web/support.mjs';
import { ctrl, newProject, openStudio } from './support.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());

const studioOf = (page) => (expression, ...args) => page.evaluate(expression, ...args);

test('a breakpoint outlives a reload; the stop line is shown well inside the editor; the right pane shows all it holds', async () => {
  const page = await openStudio(browser);
  const studio = studioOf(page);
  await studio(() => window.lumacorStudio.openFile('game.asm', 56));
  await studio(() => window.lumacorStudio.toggleBreakpoint(56));
  await page.waitForFunction(() => !window.lumacorStudio.unsaved);
  await page.reload();
  await studio(() => window.lumacorStudio.ready);
  await page.keyboard.press('F5');
  await page.waitForFunction(() => window.lumacorStudio.debugger?.state() === 'stopped');
  const where = await studio(() => window.lumacorStudio.debugger.where());
  assert.deepEqual([where.reason, path.basename(where.file), where.line], ['breakpoint', 'game.asm', 56]);
  assert.equal(await page.$eval('#file-list li.open', (l) => l.dataset.name), 'game.asm');

  // Opened from the top of the file, the stop line is brought in with room around it.
  await page.waitForSelector('.cm-current-line');
  const room = await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => {
    const scroller = document.querySelector('.cm-scroller').getBoundingClientRect();
    const line = document.querySelector('.cm-current-line').getBoundingClientRect();
    resolve([line.top - scroller.top, scroller.bottom - line.bottom]);
  })));
  assert.ok(room[0] >= 60 && room[1] >= 60, `the stop line is ${room.join(' and ')} px from the editor's edges`);

  // The pane beside the editor scrolls down, never across, and cuts nothing off.
  const pane = await page.evaluate(() => {
    const side = document.getElementById('side');
    const memory = document.getElementById('memory');
    return { across: side.scrollWidth - side.clientWidth, memory: memory.scrollWidth - memory.clientWidth,
      right: Math.max(...Array.from(side.querySelectorAll('#debug-panel *')).map((e) => e.getBoundingClientRect().right))
        - side.getBoundingClientRect().right,
      captions: Array.from(document.querySelectorAll('.vram canvas')).map((c) => c.closest('figure')?.querySelector('figcaption')?.textContent ?? '') };
  });
  assert.equal(pane.across, 0);
  assert.ok(pane.memory <= 0, `the memory view needs ${pane.memory} px more`);
  assert.ok(pane.right <= 0, `the debug panel sticks out ${pane.right} px`);
  assert.equal(pane.captions.length, 4);
  for (const caption of pane.captions) assert.ok(caption.length > 4, `a video memory picture without a label: ${pane.captions}`);

  // At 1400 px the project bar is one row.
  const rows = await page.$$eval('header button:not([hidden]), header select', (all) => new Set(all.map((b) => Math.round(b.getBoundingClientRect().top))).size);
  assert.equal(rows, 1);
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('a label and an instruction on one line are both highlighted, and the line after a label is indented for an instruction', async () => {
  const page = await openStudio(browser);
  await newProject(page, 'typed');
  await page.click('.cm-content');
  await ctrl(page, 'KeyA');
  await page.keyboard.press('Backspace');
  await page.keyboard.type('.wait:  LD    r0, 1\nloop:\nJMP loop');
  const colours = await page.evaluate(() => {
    const colourOf = (text) => {
      const span = Array.from(document.querySelectorAll('.cm-line span')).find((s) => s.textContent === text);
      return span ? getComputedStyle(span).color : null;
    };
    return { label: colourOf('.wait:'), mnemonic: colourOf('LD'), jump: colourOf('JMP') };
  });
  assert.equal(colours.label, 'rgb(255, 207, 106)');
  assert.equal(colours.mnemonic, 'rgb(138, 160, 255)');
  assert.equal(colours.jump, colours.mnemonic);
  assert.equal(await page.evaluate(() => window.lumacorStudio.file('main.asm')), '.wait:  LD    r0, 1\nloop:\n        JMP loop');
  await page.browserContext().close();
});

test('a new picture asks what it is for: a new sheet builds at once with its patterns from tile 1, a new screen as video memory', async () => {
  const page = await openStudio(browser, { answers: ['art/hero.png', 'sheet 16x16', 'art/title.png', 'screen',
    'art/huge.png', 'sheet 256x128'] });
  await newProject(page, 'pictures');
  for (const name of ['art/hero.png', 'art/title.png']) {
    await page.click('#file-new');
    await page.waitForFunction((n) => document.querySelector('#file-list li.open')?.dataset.name === n, {}, name);
  }
  assert.equal(await page.evaluate(() => window.lumacorStudio.file('gfx.txt')), 'art/hero.png --tiles --first-tile 1\nart/title.png --vram\n');
  assert.match(await page.$eval('#art-status', (s) => s.textContent), /art\/title\.png: 256 x 192, a screen/);
  const built = await page.evaluate(() => window.lumacorStudio.build());
  assert.equal(built.ok, true, JSON.stringify(built.errors));
  // More tiles than the machine holds is refused when asked, not at the build.
  await page.click('#file-new');
  await page.waitForFunction(() => /at most 255 tiles/.test(document.getElementById('status').textContent));
  assert.equal(await page.evaluate(() => window.lumacorStudio.files().includes('art/huge.png')), false);
  await page.browserContext().close();
});

test('one faulty picture gives its own error only, not the assembler\'s about what it lacks', async () => {
  const page = await openStudio(browser);
  await page.evaluate(() => window.lumacorStudio.setFile('art/tiles.png', [1, 2, 3]));
  const built = await page.evaluate(() => window.lumacorStudio.build());
  assert.equal(built.ok, false);
  assert.deepEqual(built.errors.map((e) => e.file), ['art/tiles.png']);
  assert.match(built.errors[0].message, /PNG/);
  await page.waitForFunction(() => document.querySelectorAll('#problems li').length === 1);
  await page.browserContext().close();
});

test('the art editor undoes and redoes, and its 16 numbered swatches keep their numbers when the picture is opened again', async () => {
  const page = await openStudio(browser, { answers: ['art/hero.png', 'sheet 16x16'] });
  await newProject(page, 'art');
  await page.click('#file-new');
  await page.waitForFunction(() => document.querySelector('#file-list li.open')?.dataset.name === 'art/hero.png');
  const swatches = () => page.$$eval('#art-palette .swatch', (all) => all.map((s) => [s.textContent, getComputedStyle(s).backgroundColor]));
  const first = await swatches();
  assert.equal(first.length, 17); // transparent, then colours 0 to 15
  assert.deepEqual(first.slice(1).map(([number]) => number), Array.from({ length: 16 }, (_, i) => String(i)));
  // The texel at (x, y) as the editor shows it.
  const shown = (x, y) => page.evaluate((px, py) => {
    const canvas = document.getElementById('art-canvas');
    const zoom = canvas.width / 16;
    return Array.from(canvas.getContext('2d').getImageData(px * zoom + zoom / 2, py * zoom + zoom / 2, 1, 1).data.slice(0, 3));
  }, x, y);
  const empty = await shown(1, 1);
  await page.click('#art-palette .swatch[data-index="5"]');
  const box = await (await page.$('#art-canvas')).boundingBox();
  await page.mouse.click(box.x + 1.5 * (box.width / 16), box.y + 1.5 * (box.width / 16));
  const yellow = await shown(1, 1);
  assert.notDeepEqual(yellow, empty);
  await ctrl(page, 'KeyZ');
  assert.deepEqual(await shown(1, 1), empty);
  await ctrl(page, 'KeyY');
  assert.deepEqual(await shown(1, 1), yellow);
  await page.click('#art-undo');
  await page.click('#art-redo');
  assert.deepEqual(await shown(1, 1), yellow);

  // Opened again, here and after a reload: colour 5 is still the fifth swatch.
  await page.waitForFunction(() => !window.lumacorStudio.unsaved);
  await page.evaluate(() => window.lumacorStudio.openFile('main.asm'));
  await page.evaluate(() => window.lumacorStudio.openFile('art/hero.png'));
  assert.deepEqual(await swatches(), first);
  await page.reload();
  await page.evaluate(() => window.lumacorStudio.ready);
  await page.evaluate(() => window.lumacorStudio.openFile('art/hero.png'));
  assert.deepEqual(await swatches(), first);
  assert.deepEqual(await shown(1, 1), yellow);
  await page.browserContext().close();
});

test('the includes made from pictures are listed and open read-only, and go to definition reaches into them', async () => {
  const page = await openStudio(browser);
  // The pictures' and the map's includes, the sound driver and the demo's converted sounds.
  await page.waitForFunction(() => document.querySelectorAll('#made-list li').length === 6);
  assert.deepEqual(await page.$$eval('#made-list li', (all) => all.map((l) => l.dataset.name)),
    ['art/fields.inc', 'art/palette.inc', 'art/tiles.inc', 'fields.inc', 'sound.inc', 'sounds.inc']);
  // The cursor inside "sheet_tile_count" on "        .assert sheet_tile_count == TILE_COUNT, ...".
  await page.evaluate(() => window.lumacorStudio.openFile('tiles.asm', 15));
  for (let i = 0; i < 20; i++) await page.keyboard.press('ArrowRight');
  await page.keyboard.press('F12');
  await page.waitForFunction(() => document.querySelector('#made-list li.open')?.dataset.name === 'art/tiles.inc');
  assert.match(await page.$eval('.cm-activeLine', (l) => l.textContent), /^sheet_tile_count\b/);
  // Typing changes nothing, and the build is as before.
  const before = await page.$eval('.cm-content', (c) => c.textContent);
  await page.keyboard.type('oops');
  assert.equal(await page.$eval('.cm-content', (c) => c.textContent), before);
  assert.equal(await page.evaluate(() => window.lumacorStudio.files().includes('art/tiles.inc')), false);
  assert.equal((await page.evaluate(() => window.lumacorStudio.build())).ok, true);
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});

test('beside a picture, the converter\'s report and what the machine shows follow each edit: a broken rule shows, and clears with the fix', async () => {
  const page = await openStudio(browser, { answers: ['art/hero.png', 'sheet 16x16'] });
  await newProject(page, 'report');
  await page.click('#file-new');
  const machine = () => page.evaluate(() => {
    const shown = document.getElementById('art-shown');
    const report = document.getElementById('art-report');
    return { report: report.textContent, error: report.classList.contains('error'), size: [shown.width, shown.height],
      // The pattern of the sheet's first cell, as tile 1: its texel (1, 1).
      texel: shown.width ? Array.from(shown.getContext('2d').getImageData(9, 1, 1, 1).data) : null };
  });
  const settled = (pattern) => page.waitForFunction((source) =>
    new RegExp(source).test(document.getElementById('art-report').textContent), {}, pattern.source);
  await settled(/^art\/hero\.png: sheet 16 x 16\ncolours: 0 of 16/);
  assert.deepEqual((await machine()).size, [128, 128]);
  // Three colours in one cell: the report says where; the preview goes.
  const box = await (await page.$('#art-canvas')).boundingBox();
  const texel = box.width / 16;
  for (const [colour, x] of [[2, 1], [3, 2], [4, 3]]) {
    await page.click(`#art-palette .swatch[data-index="${colour}"]`);
    await page.mouse.click(box.x + (x + 0.5) * texel, box.y + 1.5 * texel);
  }
  await settled(/^art\/hero\.png:cell 0,0 .*3 colours/);
  assert.deepEqual(await machine().then(({ error, size }) => [error, size]), [true, [0, 0]]);
  // Undone, the cell converts again: tile 1 holds the red texel drawn first.
  await page.click('#art-undo');
  await settled(/^art\/hero\.png: sheet 16 x 16\ncolours: 2 of 16: #ff4040 #40c040\npatterns: 4, tiles 1-4/);
  const fixed = await machine();
  assert.deepEqual([fixed.error, fixed.size, fixed.texel], [false, [128, 128], [255, 64, 64, 255]]);
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});
