// The audio worklet that plays the machine's sound. The page renders each
// frame's samples with the machine's own synthesiser on the main thread and
// posts them here; this processor plays them from a ring buffer. It waits for
// two frames of sound before it starts (and again after running dry), and
// drops the oldest samples when more than four frames are queued, so a burst
// of frames made up after a stall does not leave the sound lagging behind.
'use strict';

const FRAME_SECONDS = 0.016;

class LumacorSound extends AudioWorkletProcessor {
  constructor() {
    super();
    this.ring = new Float32Array(Math.ceil(sampleRate * FRAME_SECONDS * 16));
    this.read = 0;
    this.count = 0;
    this.start = Math.ceil(sampleRate * FRAME_SECONDS * 2);
    this.limit = Math.ceil(sampleRate * FRAME_SECONDS * 4);
    this.playing = false;
    this.port.onmessage = (event) => this.queue(event.data);
  }

  queue(samples) {
    const size = this.ring.length;
    for (let i = 0; i < samples.length; i++) {
      if (this.count === size) {
        this.read = (this.read + 1) % size;
        this.count--;
      }
      this.ring[(this.read + this.count) % size] = samples[i];
      this.count++;
    }
    if (this.count > this.limit) {
      const drop = this.count - this.limit;
      this.read = (this.read + drop) % size;
      this.count -= drop;
    }
  }

  process(inputs, outputs) {
    const out = outputs[0][0];
    if (!this.playing && this.count < this.start) {
      out.fill(0);
      return true;
    }
    this.playing = true;
    const size = this.ring.length;
    for (let i = 0; i < out.length; i++) {
      if (this.count === 0) {
        out.fill(0, i);
        this.playing = false;
        break;
      }
      out[i] = this.ring[this.read];
      this.read = (this.read + 1) % size;
      this.count--;
    }
    return true;
  }
}

registerProcessor('lumacor-sound', LumacorSound);
