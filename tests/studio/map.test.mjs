// The studio's maps: its edits and their undo, the colour rules it marks,
// and the file it saves, which Tiled opens and exports without a warning and
// which lumacor-map and the studio's own build convert to the same include.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { desktopBuild, temporaryFolder, webBuild } from '../web/support.mjs';
import { encodePng, picture } from './support.mjs';
import { instantiateTools } from '../../web/studio/src/tools.js';
import {
  FLIP_H, FLIP_V, beginEdit, brokenCells, convertMaps, copy, fill, flipRegion, mapText, moveSelection, newMap, paint,
  paste, placeObject, readMap, redo, tileColours, undo, writeMap,
} from '../../web/studio/src/map.js';

const W = 64; // two rooms side by side
const at = (map, layer, x, y) => map[layer][y * W + x];
const fresh = () => readMap('m.tmj', mapText(newMap(2, 1, 'tiles.png', 32, 8)), () => null);

// Four tiles of 8 x 8: 1 red on green, 2 all blue, 3 white with a black
// dot (two colours with black), 4 red, green and blue (three).
const colourAt = (x, y) => {
  const tile = x >> 3;
  const [red, green, blue, white, black] = [[255, 0, 0, 255], [0, 255, 0, 255], [0, 0, 255, 255], [255, 255, 255, 255],
    [0, 0, 0, 255]];
  if (tile === 0) return (x + y) & 1 ? red : green;
  if (tile === 1) return blue;
  if (tile === 2) return x === 18 && y === 3 ? black : white;
  return [red, green, blue][y % 3];
};
const tiles = picture(32, 8, colourAt);


test('painting, filling, copying, flipping and placing, each undone and redone', () => {
  const map = fresh();
  beginEdit(map);
  paint(map, 3, 4, 2, false);
  paint(map, 3, 4, 3 | FLIP_H, true); // a cell shows one tile: the back gives way
  assert.equal(at(map, 'front', 3, 4), (3 | FLIP_H) >>> 0);
  assert.equal(at(map, 'back', 3, 4), 0);
  paint(map, 5, 5, 2, false);
  paint(map, 5, 5, 0, true); // erasing empties both layers
  assert.equal(at(map, 'back', 5, 5), 0);

  fill(map, { x: 30, y: 0, w: 4, h: 2 }, 2, false); // across the rooms' edge
  assert.deepEqual([29, 30, 33, 34].map((x) => at(map, 'back', x, 1)), [0, 2, 2, 0]);
  assert.equal(at(map, 'back', 30, 2), 0);

  const clip = copy(map, { x: 2, y: 4, w: 2, h: 1 });
  paste(map, clip, 62, 23); // the corner: what falls outside is left out
  assert.equal(at(map, 'back', 62, 23), 0);
  assert.equal(at(map, 'front', 63, 23), (3 | FLIP_H) >>> 0);
  paste(map, clip, 63, 0); // past the right edge: nothing comes in on the next row
  assert.equal(at(map, 'front', 0, 1), 0);
  assert.equal(map.front.length, W * 24);

  flipRegion(map, { x: 2, y: 4, w: 2, h: 1 }, true);
  assert.equal(at(map, 'front', 2, 4), 3, 'moved across and its flip turned off');
  assert.equal(at(map, 'front', 3, 4), 0);
  flipRegion(map, { x: 2, y: 3, w: 1, h: 2 }, false);
  assert.equal(at(map, 'front', 2, 3), (3 | FLIP_V) >>> 0);

  placeObject(map, 'door', 300, 40);
  placeObject(map, 'key', 8, 8);
  assert.deepEqual(map.objects.map((o) => [o.id, o.type, o.x, o.y]), [[1, 'door', 300, 40], [2, 'key', 8, 8]]);

  const saved = writeMap(map);
  const steps = map.undo.length;
  for (let i = 0; i < steps; i++) assert.ok(undo(map));
  assert.ok(!undo(map), 'nothing left to undo');
  assert.ok(map.back.every((c) => c === 0) && map.front.every((c) => c === 0) && map.objects.length === 0);
  for (let i = 0; i < steps; i++) assert.ok(redo(map));
  assert.equal(writeMap(map), saved);
  undo(map);
  paint(map, 0, 0, 1, false);
  beginEdit(map);
  assert.ok(!redo(map), 'a new edit ends what could be redone');
});

test('the selection moves by cells and stays in its room', () => {
  const rooms = [{ x: 0, y: 0 }, { x: 1, y: 0 }];
  const cases = [
    [{ x: 0, y: 0, w: 2, h: 2 }, -1, 0, rooms[0], [0, 0]],
    [{ x: 29, y: 5, w: 2, h: 2 }, 1, 1, rooms[0], [30, 6]],
    [{ x: 30, y: 5, w: 2, h: 2 }, 1, 0, rooms[0], [30, 5]],
    [{ x: 32, y: 22, w: 3, h: 2 }, -1, 1, rooms[1], [32, 22]],
    [{ x: 40, y: 10, w: 1, h: 1 }, 0, -1, rooms[1], [40, 9]],
  ];
  for (const [rect, dx, dy, room, [x, y]] of cases) {
    const moved = moveSelection(rect, dx, dy, room);
    assert.deepEqual([moved.x, moved.y, moved.w, moved.h], [x, y, rect.w, rect.h], JSON.stringify(rect));
  }
});

test('a tile with more than two colours is marked where it is painted, black counted only in the front', () => {
  const colours = tileColours(tiles, 4, 4);
  assert.deepEqual(colours.map((c) => [c.all, c.lit]), [[2, 2], [1, 1], [2, 1], [3, 3]]);
  const map = fresh();
  paint(map, 0, 0, 3, false); // white and black: black is undrawn in the back
  paint(map, 1, 0, 3, true);  // a colour in the front: still two
  paint(map, 2, 0, 4, false);
  paint(map, 40, 1, 4, true);
  paint(map, 3, 0, 1, true);
  assert.deepEqual(brokenCells(map, colours), [{ x: 2, y: 0, front: false }, { x: 40, y: 1, front: true }]);
  const black = { width: 8, height: 8, rgba: new Uint8Array(256) };
  for (let i = 0; i < 64; i++) black.rgba.set([i & 1 ? 0 : 255, 0, 0, 255], i * 4);
  black.rgba.set([0, 0, 255, 255], 0);
  const [tile] = tileColours(black, 1, 1);
  assert.deepEqual([tile.all, tile.lit], [3, 2]);
  const dotted = fresh();
  paint(dotted, 0, 0, 1, false);
  paint(dotted, 1, 0, 1, true);
  assert.deepEqual(brokenCells(dotted, [tile]), [{ x: 1, y: 0, front: true }]);
});

// The room bytes of `name`_room_N in an include, and its object table.
function roomOf(include, name, n) {
  const bytes = (label) => {
    const from = include.indexOf(`\n${label}:`);
    assert.ok(from >= 0, `${label} in the include`);
    const out = [];
    for (const line of include.slice(from + label.length + 3).split('\n')) {
      if (/^\S+:/.test(line)) break;
      const data = /^\s*\.byte\s+(.*)$/.exec(line.replace(/;.*/, ''));
      if (data) out.push(...data[1].split(',').map((v) => Number(v.trim())));
    }
    return out;
  };
  return { cells: bytes(`${name}_room_${n}`), objects: bytes(`${name}_room_${n}_objects`) };
}

test('the saved map opens in Tiled without a warning, and lumacor-map and the studio convert it alike', async () => {
  const dir = temporaryFolder();
  fs.writeFileSync(path.join(dir, 'tiles.png'), encodePng(tiles));
  const map = fresh();
  // Tile 3 (a black dot on white) turned across in the front beside itself
  // unturned, and turned down in the back beside itself unturned.
  paint(map, 2, 2, 3 | FLIP_H, true);
  paint(map, 3, 2, 3, true);
  paint(map, 40, 5, 3 | FLIP_V, false);
  paint(map, 41, 5, 3, false);
  paint(map, 42, 5, 1, false);
  placeObject(map, 'door', 300, 40);
  const saved = writeMap(map);
  fs.writeFileSync(path.join(dir, 'rooms.tmj'), saved);

  const runtime = fs.mkdtempSync(path.join(dir, 'run-'));
  fs.chmodSync(runtime, 0o700);
  const tiled = spawnSync('tiled', ['--export-map', 'json', 'rooms.tmj', 'tiled.tmj'], { cwd: dir, encoding: 'utf8',
    env: { ...process.env, QT_QPA_PLATFORM: 'offscreen', XDG_RUNTIME_DIR: runtime } });
  assert.equal(tiled.status, 0, tiled.stderr);
  assert.equal(`${tiled.stdout}${tiled.stderr}`.trim(), '', 'Tiled says nothing of the studio\'s map');

  const convert = (file, ...options) => {
    const run = spawnSync(path.join(desktopBuild, 'tools/map/lumacor-map'), [file, '-o', 'out.inc', ...options],
      { cwd: dir, encoding: 'utf8' });
    assert.equal(run.status, 0, run.stderr);
    return fs.readFileSync(path.join(dir, 'out.inc'), 'utf8');
  };
  const include = convert('rooms.tmj', '--name', 'rooms');
  assert.equal(convert('tiled.tmj', '--name', 'rooms').replace(/tiled\.tmj/g, 'rooms.tmj'), include, 'Tiled kept every cell');

  const room0 = roomOf(include, 'rooms', 0);
  const room1 = roomOf(include, 'rooms', 1);
  // A cell is its pattern, its colours and its attributes; patterns are
  // shared across flips, so a tile and its mirror differ in the flip bit.
  const cell = (room, x, y) => room.cells.slice((y * 32 + x) * 3, (y * 32 + x) * 3 + 3);
  const blank = cell(room0, 0, 0)[0];
  const [turned, plain] = [cell(room0, 2, 2), cell(room0, 3, 2)];
  assert.equal(turned[0], plain[0]);
  assert.equal(turned[2] & 0x80, 0x80, 'in the front');
  assert.equal(turned[2] ^ plain[2], 0x20, 'one turned across');
  const [down, up] = [cell(room1, 8, 5), cell(room1, 9, 5)];
  assert.equal(down[0], up[0]);
  assert.equal(down[2] ^ up[2], 0x40, 'one turned down');
  assert.equal(down[2] & 0x80, 0, 'in the back');
  assert.notEqual(cell(room1, 10, 5)[0], blank);
  assert.equal(cell(room1, 11, 5)[0], blank);
  assert.deepEqual(room1.objects, [1, 1, 300 - 256, 40, 0], 'one door, its place within room 1');

  const tools = await instantiateTools(await WebAssembly.compile(fs.readFileSync(path.join(webBuild, 'studio/studio.wasm'))));
  const files = { 'rooms.tmj': saved, 'tiles.png': new Uint8Array(1), 'gfx.txt': 'rooms.tmj --name rooms\n' };
  const studio = await convertMaps(tools, files, async () => tiles);
  assert.deepEqual(studio.problems, []);
  assert.equal(studio.outputs.get('rooms.inc'), include);

  // The options of the map's gfx.txt line.
  const packed = await convertMaps(tools, { ...files, 'gfx.txt': 'rooms.tmj --pack --name level --first-tile 9\n' },
    async () => tiles);
  assert.equal(packed.outputs.get('rooms.inc'), convert('rooms.tmj', '--pack', '--name', 'level', '--first-tile', '9'));

  // A map in a folder names its tileset's picture from there.
  const inFolder = JSON.parse(saved);
  inFolder.tilesets[0].image = '../art/tiles.png';
  const folder = await convertMaps(tools, { 'levels/rooms.tmj': JSON.stringify(inFolder), 'art/tiles.png': new Uint8Array(1),
    'gfx.txt': 'levels/rooms.tmj --name rooms\n' }, async () => tiles);
  assert.deepEqual(folder.problems, []);
  assert.equal(folder.outputs.get('levels/rooms.inc'), include.replaceAll('rooms.tmj', 'levels/rooms.tmj'));

  // A tile of three colours: the converter's place, the file named once.
  paint(map, 4, 3, 4, false);
  const refused = await convertMaps(tools, { ...files, 'rooms.tmj': writeMap(map) }, async () => tiles);
  assert.equal(refused.outputs.size, 0);
  assert.match(refused.problems[0].message, /^layer back, cell 4,3 \(room 0, cell 4,3\): /);
});
