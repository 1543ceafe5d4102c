// The map editor in headless Chromium, used with the mouse as a person uses
// it: a project made from the Rooms template, its map painted, flipped,
// filled, copied and pasted, undone and redone, a second room reached from
// the rooms' grid and an object placed there; the saved file is read back by
// lumacor-map, and the game built from it shows the painted tiles.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { desktopBuild, launchBrowser, temporaryFolder } from '../web/support.mjs';
import { newProject, openStudio } from './support.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());

const FRONT = 0x80;

test('a map painted with the mouse is saved as Tiled\'s JSON that lumacor-map reads, and the game shows it', async () => {
  const page = await openStudio(browser);
  await newProject(page, 'walk', 'Rooms');
  const files = await page.evaluate(() => window.lumacorStudio.files());
  for (const name of ['main.asm', 'map.inc', 'rooms.tmj', 'tiles.png']) assert.ok(files.includes(name), name);
  assert.equal((await page.evaluate(() => window.lumacorStudio.build())).ok, true, 'the template builds as made');

  // The file list is made afresh whenever a check ends: click its item again
  // if it was replaced under the mouse.
  for (let tries = 0; ; tries++) {
    try {
      await page.click('#file-list li[data-name="rooms.tmj"]');
      break;
    } catch (error) {
      if (tries > 5 || !/detached/.test(error.message)) throw error;
    }
  }
  await page.waitForSelector('#map:not([hidden]) #map-canvas');
  const box = async (selector) => (await page.$(selector)).boundingBox();
  // The middle of a cell of the room shown, at the canvas's scale.
  const cell = async (x, y) => {
    const b = await box('#map-canvas');
    const size = b.width / 32;
    return [b.x + (x + 0.5) * size, b.y + (y + 0.5) * size];
  };
  const drag = async (from, to, button = 'left') => {
    await page.mouse.move(...await cell(...from));
    await page.mouse.down({ button });
    await page.mouse.move(...await cell(...to), { steps: 6 });
    await page.mouse.up({ button });
  };
  const pick = async (tile) => {
    const b = await box('#map-tiles');
    const size = b.width / 4; // the template's four tiles in a row
    await page.mouse.click(b.x + (tile + 0.5) * size, b.y + size / 2);
  };

  // Tile 2 in the back along row 1, then turned across and in the front at (1, 1).
  await pick(2);
  await page.click('#map-back');
  await drag([5, 1], [8, 1]);
  await page.click('#map-flip-h');
  await page.click('#map-front');
  await page.mouse.click(...await cell(1, 1));
  await page.click('#map-flip-h');
  await page.mouse.click(...await cell(20, 20), { button: 'right' });
  // A 2 x 2 region filled with tile 1 in the back, copied, moved right by
  // three cells with the arrow keys and pasted; the paste undone and redone.
  await page.click('#map-back');
  await pick(1);
  await page.click('#map-select');
  await drag([10, 10], [11, 11]);
  await page.click('#map-fill');
  await page.click('#map-copy');
  await page.focus('#map-canvas');
  for (let i = 0; i < 3; i++) await page.keyboard.press('ArrowRight');
  await page.click('#map-paste');
  await page.click('#map-undo');
  const undone = await page.evaluate(() => JSON.parse(window.lumacorStudio.file('rooms.tmj')));
  await page.click('#map-redo');
  // Room 1 from the grid: a tile at its corner and a door.
  await page.click('#map-rooms canvas[data-room="1"]');
  await page.click('#map-paint');
  await pick(3);
  await page.mouse.click(...await cell(0, 0));
  await page.click('#map-object');
  await page.$eval('#map-type', (input) => { input.value = ''; });
  await page.type('#map-type', 'door');
  await page.mouse.click(...await cell(12, 6));
  assert.match(await page.$eval('#map-status', (s) => s.textContent), /room 1 of 2 x 1, back layer/);

  // The saved JSON holds the cells as painted.
  const text = await page.evaluate(() => window.lumacorStudio.file('rooms.tmj'));
  const doc = JSON.parse(text);
  const layer = (name) => doc.layers.find((l) => l.name === name).data;
  const gid = (name, x, y) => layer(name)[y * 64 + x] >>> 0;
  assert.equal(gid('front', 1, 1), (0x80000000 | 3) >>> 0);
  assert.equal(gid('back', 1, 1), 0);
  for (let x = 5; x <= 8; x++) assert.equal(gid('back', x, 1), 3, `back ${x},1`);
  for (const [x, y] of [[10, 10], [11, 11], [13, 10], [14, 11]]) assert.equal(gid('back', x, y), 2, `back ${x},${y}`);
  assert.equal(undone.layers.find((l) => l.name === 'back').data[10 * 64 + 13], 3, 'the paste undone: the path again');
  assert.equal(gid('back', 12, 10), 3, 'the selection moved, not stretched');
  assert.equal(gid('back', 20, 20) + gid('front', 20, 20), 0, 'the right button empties a cell');
  assert.equal(gid('back', 32, 0), 4);
  const door = doc.layers.find((l) => l.type === 'objectgroup').objects.find((o) => o.type === 'door');
  assert.ok(door && door.x >= 256 + 96 && door.x < 256 + 104 && door.y >= 48 && door.y < 56, JSON.stringify(door));

  // lumacor-map reads the saved file: the front in the cell's attributes, the door in room 1.
  const dir = temporaryFolder();
  fs.writeFileSync(path.join(dir, 'rooms.tmj'), text);
  fs.writeFileSync(path.join(dir, 'tiles.png'), Buffer.from(await page.evaluate(() => Array.from(window.lumacorStudio.file('tiles.png')))));
  const run = spawnSync(path.join(desktopBuild, 'tools/map/lumacor-map'), ['rooms.tmj', '-o', 'rooms.inc'], { cwd: dir, encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  const include = fs.readFileSync(path.join(dir, 'rooms.inc'), 'utf8');
  const bytesOf = (label) => {
    const lines = include.slice(include.indexOf(`\n${label}:`) + label.length + 3).split('\n');
    const out = [];
    for (const line of lines) {
      if (/^\S+:/.test(line)) break;
      const data = /^\s*\.byte\s+([^;]*)/.exec(line);
      if (data) out.push(...data[1].split(',').map((v) => Number(v.trim())));
    }
    return out;
  };
  const room0 = bytesOf('rooms_room_0');
  // A cell is its pattern, its colours and its attributes.
  assert.equal(room0[(1 * 32 + 1) * 3 + 2] & FRONT, FRONT);
  assert.equal(room0[(1 * 32 + 5) * 3 + 2] & FRONT, 0);
  const objects = bytesOf('rooms_room_1_objects');
  const places = Array.from({ length: objects[0] }, (_, i) => objects.slice(2 + 4 * i, 4 + 4 * i).join());
  assert.ok(places.includes(`${door.x - 256},${door.y}`), places.join(' '));

  // The game built from it shows the tile at (1, 1) as the mirror of the one at (5, 1).
  assert.equal(await page.evaluate(() => window.lumacorStudio.run({ paused: true })), true);
  const screen = await page.evaluate(() => {
    window.lumacorStudio.player.runFrames(3);
    return Array.from(window.lumacorStudio.player.pixels());
  });
  const texel = (x, y) => screen.slice(4 * (y * 256 + x), 4 * (y * 256 + x) + 3).join();
  const shown = [];
  for (let y = 8; y < 16; y++) {
    for (let x = 0; x < 8; x++) {
      assert.equal(texel(8 + x, y), texel(40 + 7 - x, y), `texel ${x},${y - 8} of the turned tile`);
      shown.push(texel(8 + x, y));
    }
  }
  assert.ok(new Set(shown).size > 1 || shown[0] !== '0,0,0', 'the tile shows');
  assert.deepEqual(page.pageErrors, []);
  await page.browserContext().close();
});
