// The debugger panel: the desktop debugger's session (compiled into the
// studio's module) runs the build one frame per animation frame, stops at
// the breakpoints kept in the store, steps forwards and back, and shows the
// registers, memory and video memory where it stops.
const STATES = ['idle', 'stopped', 'running', 'ended'];
const VRAM = 0x8000;
const VRAM_SIZE = 8192;
const PLANE_A = 0x0000;
const PLANE_B = 0x0800;
const TILE_MAP = 0x1000;
const SPRITES = 0x1900;
const PALETTE = 0x19C8;
const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, '0');

class Debugger {
  constructor(tools, { canvas, panel, root, onStop, onRun, say }) {
    this.tools = tools;
    this.wasm = tools.wasm;
    this.canvas = canvas;
    this.paint = canvas.getContext('2d', { alpha: false });
    this.panel = panel;
    this.root = root;
    this.onStop = onStop;
    this.onRun = onRun;
    this.say = say;
    this.where = null;
    this.closed = false;
    this.loop = this.loop.bind(this);
    this.listenToKeys();
  }

  // The player's keys drive pad 0 while the debugger's picture has the focus
  // (a click on it gives it).
  listenToKeys() {
    const [up, down, left, right, start, back, a, x] = this.tools.bytes(this.wasm.dbg_button_bits(), 8);
    const bits = new Map([['ArrowUp', up], ['ArrowDown', down], ['ArrowLeft', left], ['ArrowRight', right],
      ['Enter', start], ['Backspace', back], ['ShiftRight', back], ['KeyZ', a], ['Space', a], ['KeyX', x]]);
    let held = 0;
    const key = (event, down) => {
      const bit = bits.get(event.code);
      if (bit === undefined || event.ctrlKey || event.altKey || event.metaKey) return;
      event.preventDefault();
      held = down ? held | bit : held & ~bit;
      this.wasm.dbg_set_buttons(0, held);
    };
    this.keyDown = (event) => key(event, true);
    this.keyUp = (event) => key(event, false);
    this.letGo = () => {
      held = 0;
      this.wasm.dbg_set_buttons(0, 0);
    };
    this.canvas.addEventListener('keydown', this.keyDown);
    this.canvas.addEventListener('keyup', this.keyUp);
    this.canvas.addEventListener('blur', this.letGo);
    this.canvas.addEventListener('pointerdown', () => this.canvas.focus());
  }

  launch(rom, debugInfo) {
    const info = new TextEncoder().encode(debugInfo);
    const launched = this.tools.withBuffers([rom, info], (r, i) => this.wasm.dbg_launch(r, rom.length, i, info.length));
    if (!launched) return false;
    return true;
  }

  state() {
    return STATES[this.wasm.dbg_state()] || 'idle';
  }

  // files: Map of absolute path -> line numbers.
  setBreakpoints(files) {
    for (const [path, lines] of files) {
      const name = new TextEncoder().encode(path);
      const list = new Uint8Array(new Uint32Array(lines).buffer);
      this.tools.withBuffers([name, list], (n, l) => this.wasm.dbg_set_line_breaks(n, name.length, l, lines.length));
    }
  }

  start() {
    this.wasm.dbg_start();
    this.running();
  }

  resume(kind) {
    if (this.state() !== 'stopped') return;
    this.wasm.dbg_resume(kind);
    this.running();
  }

  stepBack() {
    if (this.state() !== 'stopped') return;
    this.wasm.dbg_step_back();
    this.stopped();
  }

  pause() {
    this.wasm.dbg_pause();
    this.stopped();
  }

  running() {
    this.onRun();
    if (!this.frameRequest) this.frameRequest = requestAnimationFrame(this.loop);
    this.loop();
  }

  // One slice (at most a frame of the machine) per animation frame; a step
  // ends within its slice, so a step answers at once.
  loop() {
    this.frameRequest = 0;
    if (this.closed || this.state() !== 'running') return;
    this.wasm.dbg_run_slice();
    this.present();
    if (this.state() === 'running') this.frameRequest = requestAnimationFrame(this.loop);
    else this.stopped();
  }

  present() {
    const pixels = new Uint8ClampedArray(this.wasm.memory.buffer, this.wasm.dbg_picture(), 256 * 192 * 4);
    this.paint.putImageData(new ImageData(pixels.slice(), 256, 192), 0, 0);
  }

  report() {
    return JSON.parse(this.tools.text(this.wasm.dbg_report()));
  }

  stopped() {
    this.present();
    this.where = this.report();
    if (this.where.output) console.log(this.where.output.replace(/\n$/, ''));
    const state = this.where.state;
    this.say(state === 'ended' ? 'The program has ended.'
      : `Stopped (${this.where.stopText || this.where.reason}) at ${this.where.where}: ${this.where.instruction}`);
    this.showWhere();
    this.onStop(this.where);
  }

  memory(address, size) {
    return this.tools.bytes(this.wasm.dbg_memory(address, size), size).slice();
  }

  showWhere() {
    const where = this.where;
    if (!where || this.closed) return;
    const $ = (id) => document.getElementById(id);
    $('where').textContent = `${where.where} (PC ${hex(where.pc, 4)}), frame ${where.frame}` +
      (where.calls.length ? `; in ${where.calls.slice().reverse().join(' ← ')}` : '');
    const registers = where.registers.map((value, r) => `r${r} ${hex(value, 2)}`);
    registers.push(`SP ${hex(where.sp, 4)}`, `PC ${hex(where.pc, 4)}`,
      `Z ${where.registers[11] & 0x80 ? 1 : 0} C ${where.registers[11] & 0x40 ? 1 : 0}`);
    $('registers').replaceChildren(...registers.map((text) => Object.assign(document.createElement('span'), { textContent: text })));
    const base = (Number.parseInt($('memory-address').value, 16) || 0) & 0xFFF0;
    const bytes = this.memory(base, 128);
    const rows = [];
    for (let row = 0; row < 8; row++) {
      const slice = Array.from(bytes.subarray(row * 16, row * 16 + 16));
      rows.push(`${hex((base + row * 16) & 0xFFFF, 4)}  ${slice.map((b) => hex(b, 2)).join(' ')}  ` +
        slice.map((b) => (b >= 32 && b < 127 ? String.fromCharCode(b) : '.')).join(''));
    }
    $('memory').textContent = rows.join('\n');
    this.showVideoMemory(this.memory(VRAM, VRAM_SIZE));
  }

  // The palette, the 256 tiles (drawn in the first two colours of the
  // palette over transparent grey), the tile map as the front and back layers
  // show it, and the sprites' records.
  showVideoMemory(vram) {
    const $ = (id) => document.getElementById(id);
    const colour = (index) => {
      const at = PALETTE + 3 * index;
      return [vram[at + 2], vram[at + 1], vram[at]]; // stored blue first
    };
    const palette = $('vram-palette').getContext('2d');
    for (let i = 0; i < 16; i++) {
      palette.fillStyle = `rgb(${colour(i).join(',')})`;
      palette.fillRect(i * 8, 0, 8, 8);
    }
    const tileTexel = (tile, x, y) => {
      const select = (vram[PLANE_A + 8 * tile + y] >> (7 - x)) & 1;
      const cover = (vram[PLANE_B + 8 * tile + y] >> (7 - x)) & 1;
      return { select, cover };
    };
    const tiles = new ImageData(128, 128);
    for (let tile = 0; tile < 256; tile++) {
      for (let y = 0; y < 8; y++) {
        for (let x = 0; x < 8; x++) {
          const { select, cover } = tileTexel(tile, x, y);
          const at = 4 * ((Math.floor(tile / 16) * 8 + y) * 128 + (tile % 16) * 8 + x);
          const level = cover ? (select ? 255 : 150) : 40;
          tiles.data.set([level, level, cover ? level : 70, 255], at);
        }
      }
    }
    $('vram-tiles').getContext('2d').putImageData(tiles, 0, 0);
    const map = new ImageData(256, 192);
    for (let cell = 0; cell < 32 * 24; cell++) {
      const tile = vram[TILE_MAP + 3 * cell];
      const colours = vram[TILE_MAP + 3 * cell + 1];
      const attr = vram[TILE_MAP + 3 * cell + 2];
      for (let y = 0; y < 8; y++) {
        for (let x = 0; x < 8; x++) {
          const fx = attr & 0x20 ? 7 - x : x;
          const fy = attr & 0x40 ? 7 - y : y;
          const { select, cover } = tileTexel(tile, fx, fy);
          const rgb = cover ? colour(select ? colours >> 4 : colours & 15) : [0, 0, 0];
          map.data.set([...rgb, 255], 4 * (((cell >> 5) * 8 + y) * 256 + (cell & 31) * 8 + x));
        }
      }
    }
    $('vram-map').getContext('2d').putImageData(map, 0, 0);
    // The visible sprites on a layer of their own, and their records.
    const sprites = [];
    const layer = new ImageData(256, 192);
    for (let s = 0; s < 40; s++) {
      const [x, y, tile, colours, attr] = vram.subarray(SPRITES + 5 * s, SPRITES + 5 * s + 5);
      if (!(attr & 0x80)) continue;
      sprites.push(`#${s}: x ${x} y ${y} tile ${hex(tile, 2)} colours ${hex(colours, 2)} attr ${hex(attr, 2)}`);
      for (let ty = 0; ty < 8; ty++) {
        for (let tx = 0; tx < 8; tx++) {
          const { select, cover } = tileTexel(tile, attr & 0x20 ? 7 - tx : tx, attr & 0x40 ? 7 - ty : ty);
          if (!cover || x + tx >= 256 || y + ty >= 192) continue;
          layer.data.set([...colour(select ? colours >> 4 : colours & 15), 255], 4 * ((y + ty) * 256 + x + tx));
        }
      }
    }
    $('vram-sprite-layer').getContext('2d').putImageData(layer, 0, 0);
    $('vram-sprites').textContent = sprites.length ? sprites.join('\n') : 'no sprite shown';
  }

  automation() {
    return {
      state: () => this.state(),
      where: () => this.report(),
      memory: (address, size) => this.memory(address, size),
    };
  }

  close() {
    this.closed = true;
    this.letGo();
    this.canvas.removeEventListener('keydown', this.keyDown);
    this.canvas.removeEventListener('keyup', this.keyUp);
    this.canvas.removeEventListener('blur', this.letGo);
    if (this.frameRequest) cancelAnimationFrame(this.frameRequest);
  }
}

// The panel. `onStop(where)` is told where the program stopped (where.file
// and where.line name the source line, if it has one), `onRun()` when it
// runs on, `onEnd()` when the session is closed.
export function debuggerPanel({ store, build, tools, say, onStop, onRun, onEnd }) {
  const $ = (id) => document.getElementById(id);
  let debug = null;

  const breakpointsByFile = () => new Map(store.files().filter(store.isText)
    .map((name) => [build.root() + name, store.breakpoints(name)]));

  function updateButtons() {
    const stopped = debug && debug.state() === 'stopped';
    for (const id of ['continue', 'step-in', 'step-over', 'step-out', 'step-back']) $(id).disabled = !stopped;
    $('pause').disabled = !(debug && debug.state() === 'running');
  }

  const panel = {
    name: 'debugger',
    element: $('debug-panel'),
    get active() { return debug !== null; },
    get session() { return debug; },

    // Starts the built image (build.build()'s result) under the debugger.
    start(result) {
      panel.stop();
      debug = new Debugger(tools, {
        canvas: $('debug-screen'),
        panel: $('debug-panel'),
        root: build.root(),
        onStop: (where) => {
          updateButtons();
          onStop(where);
        },
        onRun: () => {
          updateButtons();
          onRun();
        },
        say,
      });
      if (!debug.launch(result.rom, result.debugInfo)) {
        say('The debugger cannot start this image.', true);
        debug = null;
        return false;
      }
      debug.setBreakpoints(breakpointsByFile());
      debug.start();
      $('debug-panel').hidden = false;
      $('debug-screen').hidden = false;
      say('Debugging: the program runs to its first breakpoint.');
      updateButtons();
      return true;
    },

    stop() {
      if (debug) {
        debug.close();
        debug = null;
        onEnd();
      }
      $('debug-panel').hidden = true;
      $('debug-screen').hidden = true;
      updateButtons();
    },

    resume: (kind) => debug && debug.resume(kind),
    pause: () => debug && debug.pause(),
    stepBack: () => debug && debug.stepBack(),
  };

  const on = (id, handler) => $(id).addEventListener('click', handler);
  on('continue', () => panel.resume(0));
  on('pause', () => panel.pause());
  on('step-in', () => panel.resume(1));
  on('step-over', () => panel.resume(2));
  on('step-out', () => panel.resume(3));
  on('step-back', () => panel.stepBack());
  $('memory-address').addEventListener('change', () => debug && debug.showWhere());
  store.on('breakpoints', () => debug && debug.setBreakpoints(breakpointsByFile()));
  store.on('project', () => panel.stop());
  updateButtons();
  return panel;
}
