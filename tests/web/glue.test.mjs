// The page's glue in node, on a clock the test sets: frames paced 16 ms
// apart with a stall made up back to back (a few frames per animation frame),
// no making up after a pause, a frame's worth of sound per frame at any
// rate, and the files the player refuses.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { before, describe, test } from 'node:test';
import { loadModule, testRoms } from './support.mjs';

const echo = fs.readFileSync(path.join(testRoms, 'echo.rom'));

describe('pacing', () => {
  let machine;
  before(async () => {
    machine = await loadModule();
    assert.equal(machine.load(echo, 1000), null);
  });

  test('one frame every 16 ms of the page clock, the first at once', () => {
    const { wasm } = machine;
    const ticks = [[1000, 1], [1010, 0], [1016, 1], [1031, 0], [1032, 1], [1047.9, 0], [1048, 1]];
    for (const [now, frames] of ticks) assert.equal(wasm.web_tick(now), frames, `at ${now} ms`);
  });

  test('a one-second stall is made up back to back, eight frames per call', () => {
    const { wasm } = machine;
    const start = wasm.web_frame();
    const runs = [];
    for (let i = 0; i < 10; i++) runs.push(wasm.web_tick(2048));
    assert.deepEqual(runs, [8, 8, 8, 8, 8, 8, 8, 6, 0, 0]);
    assert.equal(wasm.web_frame() - start, 62);
  });

  test('after a pause the schedule starts again instead of catching up', () => {
    const { wasm } = machine;
    wasm.web_pace_start(9000);
    assert.deepEqual([9000, 9001, 9015, 9016].map((now) => wasm.web_tick(now)), [1, 0, 0, 1]);
  });
});

describe('sound of a frame', () => {
  test('48000 Hz gives 768 samples a frame; 44100 Hz gives 44100 samples in 125 frames', async () => {
    const { wasm, load } = await loadModule();
    assert.equal(load(echo, 0), null);
    assert.equal(wasm.web_tick(0), 1);
    assert.equal(wasm.web_sample_count(), 0, 'no sound before the page has an audio context');
    wasm.web_set_sample_rate(48000);
    assert.equal(wasm.web_tick(32), 2);
    assert.equal(wasm.web_sample_count(), 2 * 768);
    wasm.web_set_sample_rate(44100);
    let total = 0;
    for (let now = 48; now < 48 + 125 * 16; now += 16) {
      assert.equal(wasm.web_tick(now), 1);
      assert.ok([705, 706].includes(wasm.web_sample_count()));
      total += wasm.web_sample_count();
    }
    assert.equal(total, 88200);
  });
});

describe('files the player refuses', () => {
  let machine;
  before(async () => { machine = await loadModule(); });

  const program = (size) => {
    const image = Buffer.alloc(size);
    image[0x100] = 0xFF; // HALT
    return image;
  };
  const text = Buffer.from('; a source, not a program\n'.repeat(20));
  const cases = [
    ['an empty file', Buffer.alloc(0), /empty/],
    ['one byte more than a ROM can hold', 16000001, /too large.*16000000/],
    ['a file that ends before the start address', program(0x100).subarray(0, 0x100), /too short/],
    ['a PNG picture', Buffer.concat([Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'), program(300)]), /PNG/],
    ['a ZIP archive', Buffer.concat([Buffer.from('PK\x03\x04', 'latin1'), program(300)]), /ZIP/],
    ['a host program', Buffer.concat([Buffer.from('\x7fELF', 'latin1'), program(300)]), /host computer/],
    ['assembly source', text, /text file/],
    ['a program just past the start address', program(0x101), null],
    ['text whose start address holds a control byte', Buffer.concat([text.subarray(0, 0x100), Buffer.from([0x10]), text]), null],
    ['the largest ROM', 16000000, null],
  ];
  for (const [name, image, reason] of cases) {
    test(name, () => {
      const bytes = typeof image === 'number' ? Buffer.alloc(image) : image;
      const refusal = machine.load(bytes);
      if (reason === null) assert.equal(refusal, null);
      else assert.match(refusal ?? '', reason);
    });
  }

  test('a refused file leaves the running cartridge playing', () => {
    const { wasm, load } = machine;
    assert.equal(load(echo), null);
    assert.match(load(Buffer.alloc(0)), /empty/);
    assert.equal(wasm.web_run_frames(3), 3);
  });
});
