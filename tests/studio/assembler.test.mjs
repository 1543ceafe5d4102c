// The studio's assembler is the desktop one compiled to WebAssembly: on the
// same files it gives the same image, the same debug information and the
// same diagnostics as lumacor-asm, byte for byte.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { desktopBuild, temporaryFolder, webBuild } from '../web/support.mjs';
import { instantiateTools } from '../../web/studio/src/tools.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const repository = path.resolve(here, '../..');
const assembler = path.join(desktopBuild, 'tools/asm/lumacor-asm');
const include = path.join(desktopBuild, 'tools/asm/include/lumacor.inc');
const tools = await instantiateTools(await WebAssembly.compile(fs.readFileSync(path.join(webBuild, 'studio/studio.wasm'))));

// Copies the sources (and lumacor.inc, as a studio project holds it) into a
// fresh folder, and assembles `main` there with both assemblers.
function assembleBoth(sources, main) {
  const dir = temporaryFolder();
  const files = new Map();
  for (const [name, text] of Object.entries({ ...sources, 'lumacor.inc': fs.readFileSync(include, 'utf8') })) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
    fs.writeFileSync(path.join(dir, name), text);
    files.set(path.join(dir, name), text);
  }
  const run = spawnSync(assembler, [path.join(dir, main), '-o', path.join(dir, 'out.rom'), '-g', path.join(dir, 'out.dbg')],
    { encoding: 'utf8', cwd: dir });
  const desktop = {
    ok: run.status === 0,
    image: run.status === 0 ? new Uint8Array(fs.readFileSync(path.join(dir, 'out.rom'))) : new Uint8Array(0),
    debugInfo: run.status === 0 ? fs.readFileSync(path.join(dir, 'out.dbg'), 'utf8') : '',
    messages: run.stderr.split('\n').filter(Boolean),
  };
  const page = tools.assemble(files, path.join(dir, main), true);
  fs.rmSync(dir, { recursive: true, force: true });
  return { desktop, page };
}

const sourcesIn = (dir, filter = () => true) => Object.fromEntries(fs.readdirSync(dir)
  .filter((name) => name.endsWith('.asm') && filter(name)).map((name) => [name, fs.readFileSync(path.join(dir, name), 'utf8')]));

// The demo's pictures and map as the desktop build converted them, and
// map.inc (the page's own conversions are checked elsewhere).
const includesIn = (dir, prefix = '') => Object.fromEntries(fs.readdirSync(path.join(desktopBuild, dir))
  .filter((name) => name.endsWith('.inc'))
  .map((name) => [`${prefix}${name}`, fs.readFileSync(path.join(desktopBuild, dir, name), 'utf8')]));
const demoArt = () => ({ ...includesIn('roms/demo/art', 'art/'), ...includesIn('roms/demo'),
  'map.inc': fs.readFileSync(path.join(desktopBuild, 'tools/asm/include/map.inc'), 'utf8') });

// The sound driver beside lumacor.inc, and the demo's sounds as the desktop build converted them.
const demoSound = () => Object.fromEntries([['sound.inc', path.join(path.dirname(include), 'sound.inc')],
  ['sounds.inc', path.join(desktopBuild, 'roms/demo/sounds.inc')]].map(([name, file]) => [name, fs.readFileSync(file, 'utf8')]));

test('the demo and every test cartridge: the same image and debug information', () => {
  const cartridges = [[{ ...sourcesIn(path.join(repository, 'roms/demo')), ...demoArt(), ...demoSound() }, 'demo.asm']];
  for (const name of Object.keys(sourcesIn(path.join(repository, 'tests/roms'))))
    cartridges.push([sourcesIn(path.join(repository, 'tests/roms'), (n) => n === name), name]);
  for (const [sources, main] of cartridges) {
    const { desktop, page } = assembleBoth(sources, main);
    assert.ok(desktop.ok, `${main}: ${desktop.messages.join('\n')}`);
    assert.ok(page.ok, `${main}: ${JSON.stringify(page.diagnostics)}`);
    assert.ok(page.image.length > 0x100, main);
    assert.deepEqual(page.image, desktop.image, `${main}: images differ`);
    assert.equal(page.debugInfo, desktop.debugInfo, `${main}: debug information differs`);
  }
});

test('errors: the same diagnostics at the same places, in an included file too', () => {
  const { desktop, page } = assembleBoth({
    'main.asm': '        .start\n        LD    r0, 1\n        .include "part.asm"\n        JMP   nowhere\n',
    'part.asm': '; a part\n        LD    r1, 300\n        ADD   r99x, 1\n',
  }, 'main.asm');
  assert.equal(desktop.ok, false);
  assert.equal(page.ok, false);
  assert.equal(page.image.length, 0);
  const formatted = page.diagnostics.map((d) => `${d.file}:${d.line}:${d.column}: ${d.severity}: ${d.message}`);
  assert.deepEqual(formatted.sort(), desktop.messages.sort());
  assert.ok(page.diagnostics.some((d) => d.file.endsWith('part.asm') && d.line === 3), formatted.join('\n'));
  assert.ok(page.diagnostics.some((d) => d.file.endsWith('main.asm') && d.line === 4), formatted.join('\n'));
});

test('a missing main source or include is an error, not an empty image', () => {
  const missing = tools.assemble(new Map([['/p/main.asm', '.include "gone.asm"\n']]), '/p/main.asm');
  assert.equal(missing.ok, false);
  assert.match(missing.diagnostics[0].message, /gone\.asm/);
  const noMain = tools.assemble(new Map(), '/p/main.asm');
  assert.equal(noMain.ok, false);
  assert.equal(noMain.diagnostics[0].severity, 'error');
});
