// The studio converts a project's pictures as gfx.txt says; lumacor-gfx,
// given the same line, must write the same include or video memory, and
// refuse the same pictures and options.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { desktopBuild, temporaryFolder, webBuild } from '../web/support.mjs';
import { encodePng, picture } from './support.mjs';
import { instantiateTools } from '../../web/studio/src/tools.js';
import { convertArt } from '../../web/studio/src/art.js';

const converter = path.join(desktopBuild, 'tools/gfx/lumacor-gfx');
const tools = await instantiateTools(await WebAssembly.compile(fs.readFileSync(path.join(webBuild, 'studio/studio.wasm'))));


const RED = [255, 40, 40, 255];
const YELLOW = [255, 224, 64, 255];
const BLUE = [64, 96, 255, 255];
const BLACK = [0, 0, 0, 255];
const CLEAR = [0, 0, 0, 0];
// Four cells: a two-colour pattern, one blue cell, an empty one, and the first mirrored.
const sheet = picture(16, 16, (x, y) => {
  const cell = (y >> 3) * 2 + (x >> 3);
  const [u, v] = [x & 7, y & 7];
  if (cell === 0) return u < v ? RED : YELLOW;
  if (cell === 1) return u === v ? BLUE : CLEAR;
  if (cell === 2) return CLEAR;
  return 7 - u < v ? RED : YELLOW;
});
const screen = picture(256, 192, (x, y) => (x < 24 && y < 16 ? ((x ^ y) & 4 ? RED : YELLOW) : x > 200 && y > 150 ? BLUE : BLACK));
const crowded = picture(16, 8, (x) => (x < 8 ? RED : [RED, YELLOW, BLUE][x % 3]));
const order = picture(16, 8, (x) => [BLUE, YELLOW, RED, BLACK][x >> 2]);
const shaded = picture(32, 8, (x, y) => [x * 8, y * 30, 128 + x * 4, 255]);
const shadedScreen = picture(256, 192, (x, y) => (x < 32 && y < 8 ? [x * 8, y * 30, 128 + x * 4, 255] : BLACK));

const pictures = { 'art/sheet.png': sheet, 'art/screen.png': screen, 'art/crowded.png': crowded,
  'art/order.png': order, 'art/shaded.png': shaded, 'art/shaded-screen.png': shadedScreen, 'art/8-bit.sheet.png': sheet };

// [picture, gfx.txt's options] converted the same by both.
const agreeing = [
  ['art/sheet.png', '--tiles'], ['art/sheet.png', '--map'], ['art/sheet.png', '--palette'],
  ['art/sheet.png', '--tiles --map --palette --name level'], ['art/screen.png', '--vram'],
  ['art/screen.png', '--tiles --map'], ['art/sheet.png', '--tiles --first-tile 0x10'],
  ['art/sheet.png', '--tiles --first-tile 010'], ['art/sheet.png', '--map --first-tile 253'],
  ['art/sheet.png', '--map --tiles --sheet'], ['art/sheet.png', '--tiles --screen-art'],
  ['art/sheet.png', '--palette --tiles --palette-from art/order.png'], ['art/shaded.png', '--tiles --quantize'],
  ['art/shaded-screen.png', '--vram --quantize'], ['art/8-bit.sheet.png', '--tiles'],
];
// Refused by both: the picture, or the options.
const refused = [
  ['art/crowded.png', '--tiles'], ['art/shaded-screen.png', '--vram'], ['art/shaded.png', '--vram --quantize'], ['art/sheet.png', '--tiles --first-tile 256'], ['art/sheet.png', '--map --first-tile 255'],
  ['art/sheet.png', '--tiles --first-tile 1e1'], ['art/sheet.png', '--tiles --first-tile 0b1'],
  ['art/sheet.png', '--tiles --first-tile -1'], ['art/sheet.png', '--tiles --name'],
  ['art/sheet.png', '--tiles --first-tile'], ['art/sheet.png', '--vram --tiles'], ['art/sheet.png', '--tiles --bold'],
];

const words = (options) => options.split(' ').filter(Boolean);

function desktop(dir, name, options) {
  const output = name.replace(/\.png$/, options.includes('--vram') ? '.vram' : '.inc');
  fs.rmSync(path.join(dir, output), { force: true });
  const run = spawnSync(converter, [name, '-o', output, '--report', ...words(options)], { cwd: dir, encoding: 'utf8' });
  return { ok: run.status === 0, output, messages: run.stderr.split('\n').filter((l) => l && !/^(usage| |what|options|exit|  )/.test(l)),
    bytes: run.status === 0 ? fs.readFileSync(path.join(dir, output)) : null, report: run.stdout, stderr: run.stderr };
}

async function studio(name, options) {
  // The picture, and the one it takes its palette's order from.
  const files = { 'gfx.txt': `${name} ${options}\n`, [name]: encodePng(pictures[name]) };
  if (options.includes('--palette-from')) files['art/order.png'] = encodePng(order);
  const byBytes = new Map(Object.entries(files).filter(([file]) => file.endsWith('.png')).map(([file, bytes]) => [bytes, pictures[file]]));
  return convertArt(tools, files, async (bytes) => byBytes.get(bytes));
}

test('every option a gfx.txt line can carry gives lumacor-gfx\'s include or video memory byte for byte, and its refusals', async () => {
  const dir = temporaryFolder();
  fs.mkdirSync(path.join(dir, 'art'));
  for (const [name, art] of Object.entries(pictures)) fs.writeFileSync(path.join(dir, name), encodePng(art));
  for (const [name, options] of agreeing) {
    const expected = desktop(dir, name, options);
    assert.ok(expected.ok, `${name} ${options}: ${expected.messages.join('\n')}`);
    const { outputs, problems, details } = await studio(name, options);
    assert.deepEqual(problems, [], `${name} ${options}`);
    assert.equal(details.get(name).report, expected.report, `${name} ${options}`);
    const made = outputs.get(expected.output);
    if (typeof made === 'string') assert.equal(made, expected.bytes.toString('utf8'), `${name} ${options}`);
    else assert.deepEqual(Buffer.from(made ?? []), expected.bytes, `${name} ${options}`);
  }
  // Refused by both, with the converter's words, and nothing written.
  for (const [name, options] of refused) {
    const expected = desktop(dir, name, options);
    assert.equal(expected.ok, false, `${name} ${options}`);
    const { outputs, problems, details } = await studio(name, options);
    assert.equal(outputs.size, 0, `${name} ${options}`);
    // A picture's own problems read as the converter prints them.
    if (expected.stderr.startsWith(`${name}:`)) assert.equal(details.get(name).report, expected.stderr, `${name} ${options}`);
    assert.equal(details.get(name).shown, null, `${name} ${options}`);
    // The converter's first words, without its program name or the picture's path.
    const first = expected.messages[0].replace(/^lumacor-gfx: /, '').replace(`${name}:`, '').trim();
    assert.ok(problems.some((p) => p.message.includes(first)), `${name} ${options}: ${first} / ${JSON.stringify(problems)}`);
  }
  fs.rmSync(dir, { recursive: true, force: true });
});

// What the machine shows of a converted picture: [picture, options, the
// picture's 8 x 8 cell (x, y), where it shows in the preview (x, y)]. A
// screen shows as drawn; a sheet's pattern shows at its tile, 16 tiles a row.
const shownAt = [
  ['art/screen.png', '--vram', 0, 0, 0, 0], ['art/screen.png', '--vram', 200, 184, 200, 184],
  ['art/sheet.png', '--tiles', 0, 0, 0, 0], ['art/sheet.png', '--tiles --first-tile 0x11', 0, 0, 8, 8],
  ['art/sheet.png', '--tiles --first-tile 1', 8, 0, 16, 0],
];
test('the preview is the converted data as the machine shows it: a screen composed, a sheet\'s patterns at their tiles', async () => {
  const block = ({ width, rgba }, x, y) => Array.from({ length: 8 }, (_, r) =>
    Array.from(rgba.subarray(4 * ((y + r) * width + x), 4 * ((y + r) * width + x + 8))));
  for (const [name, options, x, y, atX, atY] of shownAt) {
    const { shown } = (await studio(name, options)).details.get(name);
    assert.deepEqual([shown.width, shown.height], name.includes('screen') ? [256, 192] : [128, 128]);
    assert.deepEqual(block(shown, atX, atY), block(pictures[name], x, y), `${name} ${options}`);
  }
});
