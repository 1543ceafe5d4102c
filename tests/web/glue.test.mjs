// The page's glue in node, on a clock the test sets: frames paced 16 ms
// apart, a stall made up back to back a few frames per call, no making up
// after a pause, a frame's worth of sound per frame at any rate, and the
// files the player refuses.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import { echoRom, loadModule } from './support.mjs';

const echo = fs.readFileSync(echoRom);

test('pacing: one frame per 16 ms, the first at once; a stall made up 8 frames a call; none after a pause', async () => {
  const { wasm, load } = await loadModule();
  assert.equal(load(echo, 1000), null);
  const ticks = (times) => times.map((now) => wasm.web_tick(now));
  assert.deepEqual(ticks([1000, 1010, 1016, 1031, 1032, 1047.9, 1048]), [1, 0, 1, 0, 1, 0, 1]);
  assert.deepEqual(ticks(Array(10).fill(2048)), [8, 8, 8, 8, 8, 8, 8, 6, 0, 0], '62 frames due in the second after 1048');
  wasm.web_pace_start(9000);
  assert.deepEqual(ticks([9000, 9001, 9015, 9016]), [1, 0, 0, 1]);
});

test('sound: none before the page has a rate; 768 samples a frame at 48000 Hz; 44100 Hz in 125 frames', async () => {
  const { wasm, load } = await loadModule();
  assert.equal(load(echo, 0), null);
  wasm.web_tick(0);
  assert.equal(wasm.web_sample_count(), 0);
  wasm.web_set_sample_rate(48000);
  assert.equal(wasm.web_tick(32), 2);
  assert.equal(wasm.web_sample_count(), 2 * 768);
  wasm.web_set_sample_rate(44100);
  const counts = Array.from({ length: 125 }, (_, i) => wasm.web_tick(48 + 16 * i) && wasm.web_sample_count());
  assert.ok(counts.every((n) => n === 705 || n === 706));
  assert.equal(counts.reduce((a, b) => a + b), 88200);
});

test('refused files, with their reasons, and the images just inside the limits', async () => {
  const { wasm, load } = await loadModule();
  const program = (size, head = '') => {
    const image = Buffer.concat([Buffer.from(head, 'latin1'), Buffer.alloc(size)]);
    if (image.length > 0x100) image[0x100] = 0xFF; // HALT
    return image;
  };
  const text = Buffer.from('; a source, not a program\n'.repeat(20));
  const cases = [
    [Buffer.alloc(0), /empty/], [Buffer.alloc(16000001), /too large.*16000000/], [program(0x100), /too short/],
    [program(300, '\x89PNG'), /PNG/], [program(300, 'PK\x03\x04'), /ZIP/], [program(300, '\x7fELF'), /host computer/],
    [text, /text file/], [program(0x101), null], [Buffer.alloc(16000000), null],
    [Buffer.concat([text.subarray(0, 0x100), Buffer.from([0x10]), text]), null],
  ];
  for (const [image, reason] of cases) {
    if (reason) assert.match(load(image) ?? 'loaded', reason);
    else assert.equal(load(image), null, `${image.length} bytes`);
  }
  assert.equal(load(echo), null);
  assert.match(load(Buffer.alloc(0)), /empty/);
  assert.equal(wasm.web_run_frames(3), 3, 'a refused file leaves the cartridge playing');
});
