// The sound worklet's queue in node, with the worklet scope stood in: at
// 1000 Hz a frame is 16 samples, so it starts after 32, keeps at most 64,
// and its ring holds 256.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';

const source = fs.readFileSync(new URL('../../web/sound.js', import.meta.url), 'utf8');
const range = (from, count) => Array.from({ length: count }, (_, i) => from + i);

function makeProcessor() {
  const scope = { sampleRate: 1000, AudioWorkletProcessor: class { constructor() { this.port = {}; } } };
  scope.registerProcessor = (name, kind) => { scope.made = name === 'lumacor-sound' && new kind(); };
  vm.runInNewContext(source, scope);
  const post = (values) => scope.made.port.onmessage({ data: Float32Array.from(values) });
  const play = (count) => {
    const out = new Float32Array(count).fill(NaN);
    assert.equal(scope.made.process([], [[out]]), true);
    return Array.from(out);
  };
  return { post, play };
}

test('waits for two frames, plays in order, runs dry into silence and then waits again', () => {
  const { post, play } = makeProcessor();
  post(range(1, 31));
  assert.deepEqual(play(8), Array(8).fill(0));
  post([32]);
  assert.deepEqual(play(40), [...range(1, 32), ...Array(8).fill(0)]);
  post(range(100, 16));
  assert.deepEqual(play(4), Array(4).fill(0));
  post(range(116, 16));
  assert.deepEqual(play(4), range(100, 4));
});

test('keeps at most four frames, dropping the oldest, and plays across the end of its ring', () => {
  const { post, play } = makeProcessor();
  post(range(1, 100));
  assert.deepEqual(play(66), [...range(37, 64), 0, 0]);
  for (let round = 0; round < 10; round++) {
    post(range(round * 48, 48));
    assert.deepEqual(play(48), range(round * 48, 48), `round ${round}`);
  }
});
