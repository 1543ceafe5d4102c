// Projects in and out of zip archives, and the choice of the main source.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { zipSync, strToU8 } from '../../web/studio/node_modules/fflate/esm/index.mjs';
import { mainSource, memoryProjects, mergeProjects, projectFromZip, projectToZip } from '../../web/studio/src/projects.js';
import { createStore } from '../../web/studio/src/store.js';

const png = Uint8Array.from([0x89, 0x50, 0x4E, 0x47, 0, 1, 2, 255]);

// One file of every kind a project holds: texts come back as strings (the
// editor opens them), the rest as the same bytes.
const everyKind = {
  'main.asm': '.start\n', 'lib/util.s': '; util\n', 'defs.inc': 'X = 1\n', 'gfx.txt': 'art/tiles.png --tiles\n',
  'NOTES.md': '# Notes ✓\n', 'game.sym': 'main 0100\n', 'maps/room.tmx': '<map/>\n', 'music/tune.snd': 'song t\nC4 square 9\n', 'maps/room.tmj': '{}\n',
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
  // An include in a folder, in capitals, with spaces around the name, counts as well.
  assert.equal(mainSource({ name: 'x', files: { 'src/b.asm': '', 'z.asm': '  .INCLUDE   "src/b.asm"\n' } }), 'z.asm');
});

test('two tabs\' writes merged: a change on one side is taken, changes on both are both kept, a change beats a deletion', () => {
  const picture = () => Uint8Array.of(1, 2, 3);
  // [what happened, base, theirs, mine, merged]; undefined is a file that is not there.
  const cases = [
    ['only theirs changed', 'a', 'b', 'a', { 'f.asm': 'b' }],
    ['only mine changed', 'a', 'a', 'c', { 'f.asm': 'c' }],
    ['both made the same change', 'a', 'b', 'b', { 'f.asm': 'b' }],
    ['both changed it', 'a', 'b', 'c', { 'f.asm': 'c', 'f (other tab).asm': 'b' }],
    ['mine deleted it', 'a', 'a', undefined, {}],
    ['theirs deleted it', 'a', undefined, 'a', {}],
    ['mine deleted what theirs changed', 'a', 'b', undefined, { 'f.asm': 'b' }],
    ['theirs deleted what mine changed', 'a', undefined, 'c', { 'f.asm': 'c' }],
    ['both added it', undefined, 'b', 'c', { 'f.asm': 'c', 'f (other tab).asm': 'b' }],
    ['a picture stored again, the same bytes', picture(), picture(), picture(), { 'f.asm': picture() }],
  ];
  const project = (contents, extra = {}) => ({ name: 'p', files: contents === undefined ? { ...extra } : { 'f.asm': contents, ...extra } });
  for (const [what, base, theirs, mine, merged] of cases) {
    const { project: result, copies } = mergeProjects(project(base), project(theirs), project(mine));
    assert.deepEqual(result.files, merged, what);
    assert.equal(copies.length, Object.keys(merged).length - 1 === 1 ? 1 : 0, what);
  }
  // A copy's name already taken is numbered; a name without an extension keeps none.
  const taken = mergeProjects(project('a', { 'f (other tab).asm': 'x' }), project('b', { 'f (other tab).asm': 'x' }),
    project('c', { 'f (other tab).asm': 'x' }));
  assert.deepEqual(taken.copies, [['f.asm', 'f (other tab 2).asm']]);
  const bare = mergeProjects({ files: { 'dir.v/README': 'a' } }, { files: { 'dir.v/README': 'b' } }, { files: { 'dir.v/README': 'c' } });
  assert.deepEqual(Object.keys(bare.project.files).sort(), ['dir.v/README', 'dir.v/README (other tab)']);
  // Save RAM and breakpoints: theirs unless this tab changed them.
  const save = mergeProjects({ files: {}, save: null, breakpoints: {} }, { files: {}, save: Uint8Array.of(9), breakpoints: { 'f.asm': [3] } },
    { files: {}, save: null, breakpoints: {} }).project;
  assert.deepEqual([save.save, save.breakpoints], [Uint8Array.of(9), { 'f.asm': [3] }]);
});

test('a write over another tab\'s is merged, one over the version this tab read is not', async () => {
  const projects = memoryProjects();
  await projects.put({ name: 'p', files: { 'a.asm': '1', 'b.asm': '1' }, version: 4 });
  const base = await projects.get('p');
  const first = await projects.write({ ...base, files: { ...base.files, 'a.asm': '2' } }, base);
  assert.deepEqual([first.merged, first.project.version], [false, 5]);
  // This tab still holds version 4: its write is merged with version 5.
  const second = await projects.write({ ...base, files: { ...base.files, 'b.asm': '3' } }, base);
  assert.deepEqual([second.merged, second.project.version], [true, 6]);
  assert.deepEqual((await projects.get('p')).files, { 'a.asm': '2', 'b.asm': '3' });
});
