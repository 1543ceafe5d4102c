// The player page: runs the machine (the same sources as the desktop program,
// compiled to WebAssembly) and gives it the browser's picture, sound, keys,
// game pads and storage. The machine runs in the module; this script only
// moves bytes between it and the browser and decides when frames run.
// Scripts (and tests) drive the page through window.lumacor.
'use strict';
(() => {
  const ui = {
    title: document.getElementById('title'),
    file: document.getElementById('file'),
    stage: document.getElementById('stage'),
    canvas: document.getElementById('screen'),
    message: document.getElementById('message'),
  };
  const paint = ui.canvas.getContext('2d', { alpha: false });
  // A page that embeds the player (the studio) asks for a paused start on the ROM's element.
  const startPaused = new URLSearchParams(location.search).has('paused') ||
    document.getElementById('lumacor-rom').hasAttribute('data-paused');

  let wasm = null;        // the module's exports
  let frameWidth = 0;
  let frameHeight = 0;
  let saveSize = 0;
  let buttons = null;     // the machine's button bits by name
  let cartridge = null;   // { name, key } of the loaded image
  let paused = startPaused;
  let broken = false;     // the module trapped: nothing more runs
  let firstFrameShown = false;
  let saveFailureShown = false;

  // ---- the module's memory -------------------------------------------------

  const bytes = (pointer, length) => new Uint8Array(wasm.memory.buffer, pointer, length);

  function text(pointer) {
    const heap = new Uint8Array(wasm.memory.buffer);
    let end = pointer;
    while (heap[end]) end++;
    return new TextDecoder().decode(heap.subarray(pointer, end));
  }

  function toBase64(data) {
    let binary = '';
    for (let i = 0; i < data.length; i += 0x8000)
      binary += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return btoa(binary);
  }

  function fromBase64(encoded) {
    const binary = atob(encoded);
    const data = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) data[i] = binary.charCodeAt(i);
    return data;
  }

  // The machine's own diagnostic lines (memory map, bank switches, the test
  // port) go to the console, as the desktop program prints them.
  function drainLog() {
    const lines = text(wasm.web_log());
    if (lines) console.log(lines.replace(/\n$/, ''));
  }

  // Standalone WebAssembly asks for a few system calls; the machine only ever
  // prints through its log, so output that still comes this way is shown in
  // the console too.
  function systemCalls() {
    const pending = ['', '', ''];
    return {
      fd_write(fd, iov, count, written) {
        const view = new DataView(wasm.memory.buffer);
        let total = 0;
        for (let i = 0; i < count; i++) {
          const base = view.getUint32(iov + i * 8, true);
          const length = view.getUint32(iov + i * 8 + 4, true);
          pending[fd] = (pending[fd] || '') + new TextDecoder().decode(bytes(base, length));
          total += length;
        }
        const lines = pending[fd].split('\n');
        pending[fd] = lines.pop();
        for (const line of lines) (fd === 2 ? console.error : console.log)(line);
        view.setUint32(written, total, true);
        return 0;
      },
      proc_exit(code) {
        throw new Error(`the machine exited with status ${code}`);
      },
    };
  }

  // The C library's other system calls (closing and seeking files) are
  // linked in but never made, and the memory's growth needs no notice: the
  // views on it are made afresh for every use.
  function imports(module, given) {
    for (const { module: space, name, kind } of WebAssembly.Module.imports(module)) {
      given[space] = given[space] || {};
      if (kind === 'function' && !given[space][name]) given[space][name] = () => 52; // ENOSYS
    }
    return given;
  }

  // ---- messages and storage ------------------------------------------------

  function say(words, isError = false) {
    ui.message.textContent = words;
    ui.message.classList.toggle('error', isError);
  }

  // A remark that does not push an error off the page.
  function mention(words) {
    if (!ui.message.classList.contains('error')) say(words);
  }

  const storage = {
    get(key) {
      try { return localStorage.getItem(key); } catch { return null; }
    },
    set(key, value) {
      try { localStorage.setItem(key, value); return true; } catch { return false; }
    },
  };

  function storeSave() {
    const pointer = wasm.web_save_ram();
    if (!cartridge || !pointer) return;
    const stored = storage.set(`lumacor:save:${cartridge.key}`, toBase64(bytes(pointer, saveSize)));
    wasm.web_save_stored(performance.now(), stored ? 1 : 0);
    if (!stored && !saveFailureShown) say('The browser refuses to store the save RAM: it is lost when the page closes.', true);
    saveFailureShown = !stored;
  }

  function storeSaveIfChanged() {
    if (wasm && cartridge && wasm.web_save_dirty()) storeSave();
  }

  function restoreSave() {
    const stored = storage.get(`lumacor:save:${cartridge.key}`);
    if (!stored) return;
    const data = fromBase64(stored);
    bytes(wasm.web_save_ram(), saveSize).set(data.subarray(0, saveSize));
  }

  // ---- picture ---------------------------------------------------------------

  function present() {
    const pointer = wasm.web_pixels();
    const texels = new Uint8ClampedArray(wasm.memory.buffer, pointer, frameWidth * frameHeight * 4);
    paint.putImageData(new ImageData(texels, frameWidth, frameHeight), 0, 0);
    if (!firstFrameShown) {
      firstFrameShown = true;
      performance.mark('lumacor:first-frame');
    }
  }

  // Whole multiples of the machine's pixels in device pixels, so every pixel
  // is a sharp square at any zoom; 512 x 384 where the page has room for it.
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const width = ui.stage.clientWidth * ratio;
    const height = ui.stage.clientHeight * ratio;
    const factor = Math.max(1, Math.floor(Math.min(width / frameWidth, height / frameHeight)));
    ui.canvas.style.width = `${(frameWidth * factor) / ratio}px`;
    ui.canvas.style.height = `${(frameHeight * factor) / ratio}px`;
  }

  // ---- sound -------------------------------------------------------------------

  let sound = null;        // { context, node } once the worklet is in place
  let soundContext = null;
  let soundState = 'off';  // 'on' while the context runs, else its state or why there is none

  // Browsers let audio start only from a click or a key press, so every one
  // (and every file opened) resumes the context until it runs.
  function startSound() {
    if (!wasm || soundState.startsWith('unavailable')) return;
    if (soundContext) {
      if (soundContext.state === 'suspended' && !document.hidden) soundContext.resume();
      return;
    }
    if (typeof AudioWorkletNode !== 'function') {
      soundState = 'unavailable: no audio worklets (they need an https page or a local file)';
      mention('This page plays no sound here: the browser offers audio worklets only to https pages and local files.');
      return;
    }
    try {
      soundContext = new AudioContext({ sampleRate: 48000, latencyHint: 'interactive' });
    } catch {
      soundContext = new AudioContext({ latencyHint: 'interactive' });
    }
    const context = soundContext;
    context.onstatechange = () => {
      if (sound) soundState = context.state === 'running' ? 'on' : context.state;
    };
    context.resume();
    // A data: address, not a blob: one: a page opened from the disk has no
    // origin, and Chromium refuses worklet scripts from its blobs.
    const source = document.getElementById('lumacor-sound').textContent;
    context.audioWorklet.addModule(`data:text/javascript;charset=utf-8,${encodeURIComponent(source)}`).then(() => {
      const node = new AudioWorkletNode(context, 'lumacor-sound',
        { numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1] });
      node.connect(context.destination);
      wasm.web_set_sample_rate(context.sampleRate);
      sound = { context, node };
      context.onstatechange();
    }).catch((error) => {
      soundState = `unavailable: ${error.message}`;
      mention(`No sound: ${error.message}`);
    });
  }

  function sendSound() {
    const count = wasm.web_sample_count();
    if (!sound || count === 0) return;
    const samples = new Float32Array(wasm.memory.buffer, wasm.web_samples(), count).slice();
    sound.node.port.postMessage(samples, [samples.buffer]);
  }

  // ---- keys and game pads ------------------------------------------------------

  let keyBits = new Map();
  const keysHeld = new Set();

  function press(pad, bits, down) {
    if (wasm && bits) wasm.web_press(pad, bits, down ? 1 : 0);
  }

  function releaseKeys() {
    for (const code of keysHeld) press(0, keyBits.get(code), false);
    keysHeld.clear();
  }

  function onKeyDown(event) {
    startSound();
    if (event.target === ui.file) return; // the keys that open the picker
    const slot = ['F1', 'F2', 'F3', 'F4'].indexOf(event.code) + 1;
    if (slot && cartridge) {
      event.preventDefault();
      if (!event.repeat) (event.shiftKey ? saveState : loadState)(slot);
      return;
    }
    const bit = keyBits.get(event.code);
    if (bit === undefined || !cartridge || event.ctrlKey || event.altKey || event.metaKey) return;
    event.preventDefault();
    if (event.repeat || keysHeld.has(event.code)) return;
    keysHeld.add(event.code);
    press(0, bit, true);
  }

  function onKeyUp(event) {
    if (!keysHeld.delete(event.code)) return;
    event.preventDefault();
    press(0, keyBits.get(event.code), false);
  }

  // Pads take the first free player when they appear and free it (letting go
  // of their buttons) when they go, as on the desktop. Buttons are read by
  // the standard layout's positions.
  const padIndex = [null, null];
  const padBits = [0, 0];
  let padButtons = [];

  function pollPads() {
    const pads = navigator.getGamepads ? Array.from(navigator.getGamepads()) : [];
    const present = (index) => pads.some((pad) => pad && pad.connected && pad.index === index);
    for (let slot = 0; slot < 2; slot++) {
      if (padIndex[slot] === null || present(padIndex[slot])) continue;
      press(slot, padBits[slot], false);
      padIndex[slot] = null;
      padBits[slot] = 0;
      mention(`Game pad of player ${slot + 1} unplugged.`);
    }
    for (const pad of pads) {
      if (!pad || !pad.connected || padIndex.includes(pad.index)) continue;
      const slot = padIndex.indexOf(null);
      if (slot < 0) break;
      padIndex[slot] = pad.index;
      console.log(`Controller: ${slot} ${pad.id}`);
      mention(`Game pad for player ${slot + 1}: ${pad.id}`);
    }
    for (let slot = 0; slot < 2; slot++) {
      const pad = pads.find((p) => p && p.index === padIndex[slot]);
      if (!pad) continue;
      let bits = 0;
      for (const [button, bit] of padButtons) if (pad.buttons[button] && pad.buttons[button].pressed) bits |= bit;
      const changed = bits ^ padBits[slot];
      press(slot, bits & changed, true);
      press(slot, ~bits & changed & 0xFF, false);
      padBits[slot] = bits;
    }
  }

  // ---- save states -------------------------------------------------------------

  function saveState(slot) {
    const size = wasm.web_state_save();
    if (!size) return;
    const stored = storage.set(`lumacor:state:${cartridge.key}:${slot}`, toBase64(bytes(wasm.web_state_data(), size)));
    say(stored ? `State ${slot} saved.` : `The browser refuses to store state ${slot}.`, !stored);
  }

  function loadState(slot) {
    const stored = storage.get(`lumacor:state:${cartridge.key}:${slot}`);
    if (!stored) {
      say(`No state saved in slot ${slot} for this game.`);
      return;
    }
    const data = fromBase64(stored);
    const pointer = wasm.web_image_buffer(data.length);
    if (!pointer) return;
    bytes(pointer, data.length).set(data);
    if (wasm.web_state_load(data.length, performance.now())) {
      present();
      say(`State ${slot} loaded.`);
    } else {
      say(`State ${slot} cannot be loaded: ${text(wasm.web_message())}`, true);
    }
  }

  // ---- cartridges ----------------------------------------------------------------

  function load(data, name) {
    const pointer = wasm.web_image_buffer(data.length);
    if (!pointer) {
      say(`${name}: ${text(wasm.web_message())}`, true);
      return false;
    }
    bytes(pointer, data.length).set(data);
    storeSaveIfChanged();
    if (!wasm.web_load(data.length, performance.now())) {
      say(`${name}: ${text(wasm.web_message())}`, true);
      return false;
    }
    drainLog();
    releaseKeys();
    cartridge = { name, key: (wasm.web_image_crc() >>> 0).toString(16).padStart(8, '0') };
    restoreSave();
    paint.clearRect(0, 0, frameWidth, frameHeight);
    const title = name.replace(/\.[^.]*$/, '');
    ui.title.textContent = title;
    document.title = `${title} – lumacor`;
    say(paused ? `${name} is loaded and paused.` : `Playing ${name}.`);
    return true;
  }

  async function open(file) {
    startSound();
    if (!wasm) return;
    if (!wasm.web_image_buffer(file.size)) {
      say(`${file.name}: ${text(wasm.web_message())}`, true);
      return;
    }
    try {
      load(new Uint8Array(await file.arrayBuffer()), file.name);
    } catch (error) {
      say(`${file.name} cannot be read: ${error.message}`, true);
    }
  }

  function ended() {
    storeSaveIfChanged();
    const reason = text(wasm.web_error());
    say(wasm.web_end() === 2 ? `The program stopped: ${reason}` : 'The program has ended.', wasm.web_end() === 2);
  }

  // ---- the frame loop --------------------------------------------------------------

  function broke(error) {
    broken = true;
    say(`The machine stopped on an internal fault (${error.message}). Reload the page to start again.`, true);
    console.error(error);
  }

  function animate() {
    requestAnimationFrame(animate);
    step();
  }

  function step() {
    if (broken) return;
    try {
      pollPads();
      const now = performance.now();
      if (cartridge && !paused && !document.hidden && wasm.web_end() === 0) {
        if (wasm.web_tick(now) > 0) {
          present();
          sendSound();
          drainLog();
          if (wasm.web_end() !== 0) ended();
        }
      }
      if (cartridge && wasm.web_save_due(now)) storeSave();
    } catch (error) {
      broke(error);
    }
  }

  function onVisibility() {
    if (!wasm) return;
    if (document.hidden) {
      storeSaveIfChanged();
      if (sound) sound.context.suspend();
    } else {
      wasm.web_pace_start(performance.now());
      if (sound) sound.context.resume();
    }
  }

  // ---- start -----------------------------------------------------------------------

  async function start() {
    const module = await WebAssembly.compile(fromBase64(document.getElementById('lumacor-wasm').textContent));
    const instance = await WebAssembly.instantiate(module, imports(module, { wasi_snapshot_preview1: systemCalls() }));
    wasm = instance.exports;
    wasm._initialize();
    if (!wasm.web_init()) throw new Error('the machine could not be built');
    drainLog();
    frameWidth = wasm.web_frame_width();
    frameHeight = wasm.web_frame_height();
    saveSize = wasm.web_save_size();
    const [up, down, left, right, startButton, back, a, x] = bytes(wasm.web_button_bits(), 8);
    buttons = { up, down, left, right, start: startButton, back, a, x };
    keyBits = new Map([
      ['ArrowUp', up], ['ArrowDown', down], ['ArrowLeft', left], ['ArrowRight', right],
      ['Enter', startButton], ['Backspace', back], ['ShiftRight', back],
      ['KeyZ', a], ['Space', a], ['KeyX', x],
    ]);
    padButtons = [[0, a], [2, x], [8, back], [9, startButton], [12, up], [13, down], [14, left], [15, right]];
    ui.canvas.width = frameWidth;
    ui.canvas.height = frameHeight;
    fit();

    const rom = document.getElementById('lumacor-rom');
    if (rom.textContent.trim()) {
      document.body.classList.add('exported');
      load(fromBase64(rom.textContent), rom.dataset.name || 'game.rom');
    } else {
      say('Open a ROM image to play it.');
    }
    step(); // the first frame now, not an animation frame later
    requestAnimationFrame(animate);
  }

  window.addEventListener('resize', () => frameWidth && fit());
  window.addEventListener('keydown', onKeyDown);
  window.addEventListener('keyup', onKeyUp);
  window.addEventListener('blur', releaseKeys);
  window.addEventListener('pointerdown', startSound);
  window.addEventListener('gamepadconnected', () => wasm && pollPads());
  window.addEventListener('gamepaddisconnected', () => wasm && pollPads());
  document.addEventListener('visibilitychange', onVisibility);
  window.addEventListener('pagehide', storeSaveIfChanged);
  ui.file.addEventListener('change', () => {
    if (ui.file.files.length) open(ui.file.files[0]);
    ui.file.value = '';
  });
  window.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  window.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    if (event.dataTransfer.files.length) open(event.dataTransfer.files[0]);
  });

  const ready = start().catch((error) => {
    broken = true;
    say(`The player could not start: ${error.message}`, true);
    throw error;
  });

  // The automation interface; docs/web.md describes it.
  const needWasm = () => {
    if (!wasm) throw new Error('lumacor is not ready yet: await lumacor.ready');
  };
  window.lumacor = Object.freeze({
    ready,
    get frame() { return wasm ? wasm.web_frame() : 0; },
    get cartridge() { return cartridge ? cartridge.name : null; },
    get buttons() { return buttons; },
    get sound() { return soundState; },
    pause() { paused = true; },
    resume() {
      needWasm();
      if (!paused) return;
      paused = false;
      wasm.web_pace_start(performance.now());
    },
    runFrames(count) {
      needWasm();
      const run = wasm.web_run_frames(Math.max(0, Math.floor(count)));
      if (run > 0) present();
      drainLog();
      if (run > 0 && wasm.web_end() !== 0) ended();
      return run;
    },
    pixels() {
      needWasm();
      return bytes(wasm.web_pixels(), frameWidth * frameHeight * 4).slice();
    },
    setButtons(pad, bits) {
      needWasm();
      if (pad !== 0 && pad !== 1) throw new RangeError('pad must be 0 or 1');
      wasm.web_set_buttons(pad, bits & 0xFF);
    },
    saveRAM() {
      needWasm();
      const pointer = wasm.web_save_ram();
      return pointer ? bytes(pointer, saveSize).slice() : null;
    },
  });
})();
