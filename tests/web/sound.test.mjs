// The sound worklet's queue, run in node with the worklet scope stood in:
// it waits for two frames of sound, plays samples in order across the ring's
// end, fills silence when it runs dry and then waits again, and drops the
// oldest samples beyond four frames.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import vm from 'node:vm';

const source = fs.readFileSync(path.join(path.dirname(fileURLToPath(import.meta.url)), '../../web/sound.js'), 'utf8');

// 1000 samples a second make a frame (16 ms) 16 samples: a start after 32,
// at most 64 queued, a ring of 256.
function makeProcessor() {
  const scope = {
    sampleRate: 1000,
    AudioWorkletProcessor: class { constructor() { this.port = {}; } },
    registerProcessor(name, kind) { scope.registered = { name, kind }; },
  };
  vm.runInNewContext(source, scope);
  assert.equal(scope.registered.name, 'lumacor-sound');
  const processor = new scope.registered.kind();
  const post = (values) => processor.port.onmessage({ data: Float32Array.from(values) });
  const play = (count) => {
    const out = new Float32Array(count).fill(NaN);
    assert.equal(processor.process([], [[out]]), true);
    return Array.from(out);
  };
  return { post, play };
}

const range = (from, count) => Array.from({ length: count }, (_, i) => from + i);

test('waits for two frames of sound, then plays them in order', () => {
  const { post, play } = makeProcessor();
  post(range(1, 31));
  assert.deepEqual(play(8), Array(8).fill(0));
  post([32]);
  assert.deepEqual(play(8), range(1, 8));
  assert.deepEqual(play(24), range(9, 24));
});

test('runs dry into silence and waits for two frames again', () => {
  const { post, play } = makeProcessor();
  post(range(1, 32));
  assert.deepEqual(play(40), [...range(1, 32), ...Array(8).fill(0)]);
  post(range(100, 16));
  assert.deepEqual(play(4), Array(4).fill(0));
  post(range(116, 16));
  assert.deepEqual(play(4), range(100, 4));
});

test('keeps at most four frames, dropping the oldest', () => {
  const { post, play } = makeProcessor();
  post(range(1, 100));
  assert.deepEqual(play(64), range(37, 64));
  assert.deepEqual(play(2), [0, 0]);
});

test('plays across the end of its ring', () => {
  const { post, play } = makeProcessor();
  for (let round = 0; round < 10; round++) {
    post(range(round * 48, 48));
    assert.deepEqual(play(48), range(round * 48, 48), `round ${round}`);
  }
});
