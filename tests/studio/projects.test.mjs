// Projects in and out of zip archives, and the choice of the main source.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { zipSync, strToU8 } from '../../web/studio/node_modules/fflate/esm/index.mjs';
import { mainSource, memoryProjects, projectFromZip, projectToZip } from '../../web/studio/src/projects.js';
import { createStore } from '../../web/studio/src/store.js';

const png = Uint8Array.from([0x89, 0x50, 0x4E, 0x47, 0, 1, 2, 255]);

// One file of every kind a project holds: texts come back as strings (the
// editor opens them), the rest as the same bytes.
const everyKind = {
  'main.asm': '.start\n', 'lib/util.s': '; util\n', 'defs.inc': 'X = 1\n', 'gfx.txt': 'art/tiles.png --tiles\n',
  'NOTES.md': '# Notes ✓\n', 'game.sym': 'main 0100\n', 'maps/room.tmx': '<map/>\n', 'maps/room.tmj': '{}\n',
  'maps/set.tsx': '<tileset/>\n', 'data.json': '[]\n', 'table.csv': '1,2\n', 'Mixed.ASM': 'nop\n',
  'art/tiles.png': png, 'music/song.mid': Uint8Array.from([0x4D, 0x54, 0x68, 0x64, 0, 0, 0, 6]),
  'blob.bin': Uint8Array.from([0, 0xFF, 0x80]),
};

test('a project goes out as a zip and comes back the same: texts as text, everything else as bytes', () => {
  const back = projectFromZip('copy', projectToZip({ name: 'game', files: everyKind, save: Uint8Array.of(1) }));
  assert.equal(back.name, 'copy');
  assert.deepEqual(Object.keys(back.files).sort(), Object.keys(everyKind).sort());
  for (const [name, contents] of Object.entries(everyKind)) {
    if (typeof contents === 'string') assert.equal(back.files[name], contents, name);
    else assert.deepEqual(back.files[name], contents, name);
  }
  assert.equal(back.save, null);
});

test('one folder around everything is taken off; hidden files and folders are left out', () => {
  const wrapped = projectFromZip('w', zipSync({
    'game/main.asm': strToU8('a'), 'game/art/x.png': png, 'game/.DS_Store': strToU8('junk'), 'game/.git/HEAD': strToU8('ref'),
  }));
  assert.deepEqual(Object.keys(wrapped.files).sort(), ['art/x.png', 'main.asm']);
  // Two folders side by side are kept as they are.
  const two = projectFromZip('t', zipSync({ 'a/main.asm': strToU8('a'), 'b/part.asm': strToU8('b') }));
  assert.deepEqual(Object.keys(two.files).sort(), ['a/main.asm', 'b/part.asm']);
  assert.throws(() => projectFromZip('bad', strToU8('not a zip')));
});

test('the main source follows the files as they are added, renamed and deleted', async () => {
  const store = createStore(memoryProjects());
  await store.projects.put({ name: 'demo', files: { 'demo.asm': '.include "part.asm"\n', 'part.asm': 'x', 'gfx.txt': '' } });
  await store.open('demo');
  assert.equal(store.mainSource(), 'demo.asm'); // named after the project
  store.setFile('main.asm', '; mine\n');
  assert.equal(store.mainSource(), 'main.asm'); // main.asm comes first
  store.renameFile('main.asm', 'extra.asm');
  assert.equal(store.mainSource(), 'demo.asm');
  store.renameFile('demo.asm', 'game.asm');
  // Nothing is named main.asm or after the project: the first that no one includes.
  assert.equal(store.mainSource(), 'extra.asm');
  store.removeFile('extra.asm');
  assert.equal(store.mainSource(), 'game.asm');
  store.setFile('game.asm', '; no longer includes part.asm\n');
  assert.equal(store.mainSource(), 'game.asm');
  store.removeFile('game.asm');
  assert.equal(store.mainSource(), 'part.asm');
  store.removeFile('part.asm');
  assert.equal(store.mainSource(), null);
  store.cancelStore();
  // An include in a folder, with spaces around the name, counts as well.
  assert.equal(mainSource({ name: 'x', files: { 'a.asm': '  .INCLUDE   "src/b.asm"\n', 'src/b.asm': '' } }), 'a.asm');
});
