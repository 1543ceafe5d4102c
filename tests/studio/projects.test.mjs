// Projects in and out of zip archives, and the choice of the main source.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { zipSync, strToU8 } from '../../web/studio/node_modules/fflate/esm/index.mjs';
import { mainSource, projectFromZip, projectToZip } from '../../web/studio/src/projects.js';

const png = Uint8Array.from([0x89, 0x50, 0x4E, 0x47, 0, 1, 2, 255]);

test('a project goes out as a zip and comes back the same: texts as text, pictures as bytes', () => {
  const project = { name: 'game', files: { 'main.asm': '.start\n', 'art/tiles.png': png, 'gfx.txt': 'art/tiles.png --tiles\n' } };
  const back = projectFromZip('copy', projectToZip(project));
  assert.equal(back.name, 'copy');
  assert.deepEqual(Object.keys(back.files).sort(), ['art/tiles.png', 'gfx.txt', 'main.asm']);
  assert.equal(back.files['main.asm'], '.start\n');
  assert.equal(back.files['gfx.txt'], 'art/tiles.png --tiles\n');
  assert.deepEqual(back.files['art/tiles.png'], png);
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

test('the main source: main.asm, else the one named after the project, else the one nobody includes', () => {
  const files = { 'part.asm': 'x', 'game.asm': '.include "part.asm"\n', 'main.asm': '' };
  assert.equal(mainSource({ name: 'game', files }), 'main.asm');
  assert.equal(mainSource({ name: 'game', files, main: 'part.asm' }), 'part.asm');
  delete files['main.asm'];
  assert.equal(mainSource({ name: 'game', files }), 'game.asm');
  assert.equal(mainSource({ name: 'other', files: { 'b.asm': '', 'a.asm': '.include "b.asm"\n' } }), 'a.asm');
  assert.equal(mainSource({ name: 'empty', files: { 'gfx.txt': '' } }), null);
});
