// The page's parts in node, without a browser: the pacing of the glue on a
// clock the test sets, and the sound worklet's queue with the worklet scope
// stood in.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';
import path from 'node:path';
import { echoRom, loadModule, webBuild } from './support.mjs';

test('pacing: one frame per 16 ms, the first at once; a stall made up 8 a call; none after a pause; sound per frame', async () => {
  const { wasm, load } = await loadModule();
  assert.ok(load(fs.readFileSync(echoRom), 1000));
  const ticks = (times) => times.map((now) => wasm.web_tick(now));
  assert.deepEqual(ticks([1000, 1010, 1016, 1031, 1032, 1047.9, 1048]), [1, 0, 1, 0, 1, 0, 1]);
  assert.deepEqual(ticks(Array(10).fill(2048)), [8, 8, 8, 8, 8, 8, 8, 6, 0, 0], '62 frames due in the second after 1048');
  wasm.web_pace_start(9000);
  assert.deepEqual(ticks([9000, 9001, 9015, 9016]), [1, 0, 0, 1]);
  wasm.web_set_sample_rate(44100); // 705.6 samples a frame
  const counts = Array.from({ length: 125 }, (_, i) => wasm.web_tick(9032 + 16 * i) && wasm.web_sample_count());
  assert.deepEqual([Math.min(...counts), Math.max(...counts), counts.reduce((a, b) => a + b)], [705, 706, 88200]);
});

// The echo cartridge copies the controller bytes into save RAM each frame.
test('presses: a tap between two frames holds for one frame; pressed again before it, it stays; setButtons '
  + 'forgets taps, a reset keeps them', async () => {
  const { wasm, load } = await loadModule();
  assert.ok(load(fs.readFileSync(echoRom), 0));
  const seen = () => {
    wasm.web_run_frames(1);
    return new Uint8Array(wasm.memory.buffer, wasm.web_save_ram(), 2)[0];
  };
  // Presses as [bits, down] pairs, each 1 (down) or 0 (up).
  const presses = (...list) => list.forEach(([bits, down]) => wasm.web_press(0, bits, down));
  presses([0x40, 1], [0x01, 1]);
  assert.equal(seen(), 0x41);
  presses([0x01, 0], [0x10, 1], [0x10, 0]);
  assert.deepEqual([seen(), seen()], [0x50, 0x40], 'a held key lets go at once, a tap after one frame');
  presses([0x08, 1], [0x08, 0], [0x08, 1]);
  assert.deepEqual([seen(), seen()], [0x48, 0x48], 'tapped, then held');
  presses([0x80, 1], [0x80, 0]);
  wasm.web_set_buttons(0, 0x02);
  assert.deepEqual([seen(), seen()], [0x02, 0x02], 'setButtons sets the byte whole');
  presses([0x04, 1], [0x04, 0]);
  assert.deepEqual([wasm.web_reset(0), wasm.web_frame()], [1, 0]);
  assert.deepEqual([seen(), seen()], [0x06, 0x02], 'a reset keeps what is held, and a tap is still owed its frame');
});

// At 1000 Hz a frame is 16 samples: the worklet starts after 32, keeps at
// most 64, and its ring holds 256.
test('sound: waits for two frames, plays in order across the ring\'s end, runs dry into silence, keeps four frames', () => {
  const scope = { sampleRate: 1000, AudioWorkletProcessor: class { constructor() { this.port = {}; } } };
  scope.registerProcessor = (name, kind) => { scope.made = name === 'lumacor-sound' && new kind(); };
  vm.runInNewContext(fs.readFileSync(new URL('../../web/sound.js', import.meta.url), 'utf8'), scope);
  const post = (from, count) => scope.made.port.onmessage({ data: Float32Array.from({ length: count }, (_, i) => from + i) });
  const play = (count) => {
    const out = new Float32Array(count).fill(NaN);
    assert.equal(scope.made.process([], [[out]]), true);
    return Array.from(out);
  };
  const range = (from, count, zeros = 0) => [...Array.from({ length: count }, (_, i) => from + i), ...Array(zeros).fill(0)];
  post(1, 31);
  assert.deepEqual(play(8), range(0, 0, 8));
  post(32, 1);
  assert.deepEqual(play(40), range(1, 32, 8));
  for (let from = 0; from < 400; from += 48) {
    post(from, 48);
    assert.deepEqual(play(48), range(from, 48));
  }
  post(1, 100);
  assert.deepEqual(play(66), range(37, 64, 2));
});

test('the sizes docs/web.md gives are the built files\', within 2 KB', () => {
  const doc = fs.readFileSync(new URL('../../docs/web.md', import.meta.url), 'utf8');
  const stated = [...doc.matchAll(/\| `(lumacor\.wasm|lumacor\.html|lumacor-export|demo\.html)`[^|]*\| (\d+) KB/g)];
  stated.push(...[...doc.matchAll(/`build-web\/(lumacor\.wasm)` \| [^|]*about (\d+) KB/g)]);
  stated.push(...[...doc.matchAll(/The player and machine take about (\d+) KB/g)].map(([line, kb]) => [line, 'lumacor.html', kb]));
  assert.equal(stated.length, 6, 'the size table, the build table and the exported file\'s share');
  for (const [line, file, kb] of stated) {
    const actual = fs.statSync(path.join(webBuild, file)).size / 1000;
    assert.ok(Math.abs(actual - Number(kb)) <= 2, `${line}: the build's ${file} is ${actual.toFixed(0)} KB (bash scripts/web.sh --measure)`);
  }
});
