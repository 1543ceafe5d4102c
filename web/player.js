// The machine in the page: runs the machine (the same sources as the desktop
// program, compiled to WebAssembly) and gives it the browser's picture,
// sound, game pads and storage. The machine runs in the module; this script
// only moves bytes between it and the browser and decides when frames run.
// Everything else (keys, touch, the page's controls) drives it through
// window.lumacor, as scripts, tests and other pages do; controls.js is the
// player page's share.
'use strict';
(() => {
  const ui = {
    title: document.getElementById('title'),
    stage: document.getElementById('stage'),
    canvas: document.getElementById('screen'),
    message: document.getElementById('message'),
  };
  const events = new EventTarget();
  const tell = (type) => events.dispatchEvent(new Event(type));
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

  // Saves are stored under "lumacor:save:<image's CRC>"; a page that embeds
  // the player for its own use (the studio) names another prefix with the
  // image's data-storage, so its saves and an exported game's stay apart.
  let keyPrefix = 'lumacor';
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
    const stored = storage.set(`${keyPrefix}:save:${cartridge.key}`, toBase64(bytes(pointer, saveSize)));
    wasm.web_save_stored(performance.now(), stored ? 1 : 0);
    if (!stored && !saveFailureShown) say('The browser refuses to store the save RAM: it is lost when the page closes.', true);
    saveFailureShown = !stored;
  }

  function storeSaveIfChanged() {
    if (wasm && cartridge && wasm.web_save_dirty()) storeSave();
  }

  function restoreSave() {
    const stored = storage.get(`${keyPrefix}:save:${cartridge.key}`);
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

  let sound = null;        // { context, node, gain } once the worklet is in place
  let soundContext = null;
  let soundState = 'off';  // 'on' while the context runs, else its state or why there is none
  let volume = 1;
  let muted = false;

  // Audio worklets exist only in secure contexts: https pages, localhost and
  // local files. Elsewhere the interfaces are simply absent, so each one is
  // looked for before use, and a failure anywhere leaves the page silent
  // rather than losing the key or the file that asked for sound.
  const soundMissing = () => {
    if (window.isSecureContext === false) return 'this page is not secure (plain http), and browsers give audio worklets only to https pages, localhost and local files';
    if (typeof AudioContext !== 'function') return 'this browser has no Web Audio';
    if (typeof AudioWorkletNode !== 'function') return 'this browser has no audio worklets';
    return null;
  };

  function applyVolume() {
    if (sound) sound.gain.gain.value = muted ? 0 : volume;
  }

  function resumeSound() {
    const context = soundContext;
    if (!context || context.state !== 'suspended' || document.hidden) return;
    try {
      Promise.resolve(context.resume()).catch(() => {});
    } catch { /* the next gesture tries again */ }
  }

  function soundFailed(reason) {
    soundState = `unavailable: ${reason}`;
    mention(`No sound: ${reason}.`);
  }

  // Browsers let audio start only from a click or a key press, so every one
  // (and every file opened) resumes the context until it runs.
  function startSound() {
    if (!wasm || soundState.startsWith('unavailable')) return;
    if (soundContext) {
      resumeSound();
      return;
    }
    const missing = soundMissing();
    if (missing) {
      soundState = `unavailable: ${missing}`;
      return;
    }
    try {
      try {
        soundContext = new AudioContext({ sampleRate: 48000, latencyHint: 'interactive' });
      } catch {
        soundContext = new AudioContext({ latencyHint: 'interactive' });
      }
    } catch (error) {
      soundFailed(error.message);
      return;
    }
    const context = soundContext;
    if (!context.audioWorklet || typeof context.audioWorklet.addModule !== 'function') {
      soundFailed('this browser offers this page no audio worklets');
      return;
    }
    context.onstatechange = () => {
      if (sound) soundState = context.state === 'running' ? 'on' : context.state;
    };
    resumeSound();
    // A data: address, not a blob: one: a page opened from the disk has no
    // origin, and Chromium refuses worklet scripts from its blobs.
    const source = document.getElementById('lumacor-sound').textContent;
    Promise.resolve().then(() => context.audioWorklet.addModule(`data:text/javascript;charset=utf-8,${encodeURIComponent(source)}`)).then(() => {
      const node = new AudioWorkletNode(context, 'lumacor-sound',
        { numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [1] });
      const gain = context.createGain();
      node.connect(gain).connect(context.destination);
      wasm.web_set_sample_rate(context.sampleRate);
      sound = { context, node, gain };
      applyVolume();
      context.onstatechange();
    }).catch((error) => soundFailed(error.message));
  }

  function sendSound() {
    const count = wasm.web_sample_count();
    if (!sound || count === 0) return;
    const samples = new Float32Array(wasm.memory.buffer, wasm.web_samples(), count).slice();
    sound.node.port.postMessage(samples, [samples.buffer]);
  }

  // ---- presses and game pads ---------------------------------------------------

  function press(pad, bits, down) {
    if (wasm && bits) wasm.web_press(pad, bits, down ? 1 : 0);
  }

  // Pads take the first free player when they appear and free it (letting go
  // of their buttons) when they go, as on the desktop. Buttons are read by
  // the standard layout's positions.
  const padIndex = [null, null];
  const padBits = [0, 0];
  const padNames = ['', ''];
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
      padNames[slot] = pad.id;
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

  // ---- save states ---------------------------------------------------------------
  // A state is the machine's snapshot as the desktop writes it to
  // GAME.rom.state1 … 4, so the files move between the two either way.

  const stateKey = (slot) => `${keyPrefix}:state:${cartridge.key}:${slot}`;

  function stateData(slot) {
    const stored = cartridge && storage.get(stateKey(slot));
    return stored ? fromBase64(stored) : null;
  }

  // Restores the machine from a state's bytes; returns null, or why not.
  function restoreState(data) {
    const pointer = wasm.web_image_buffer(data.length);
    if (!pointer) return text(wasm.web_message());
    bytes(pointer, data.length).set(data);
    if (!wasm.web_state_load(data.length, performance.now())) return text(wasm.web_message());
    present();
    return null;
  }

  function saveState(slot) {
    const size = cartridge ? wasm.web_state_save() : 0;
    if (!size) return false;
    const stored = storage.set(stateKey(slot), toBase64(bytes(wasm.web_state_data(), size)));
    say(stored ? `State ${slot} saved.` : `The browser refuses to store state ${slot}.`, !stored);
    return stored;
  }

  function loadState(slot) {
    if (!cartridge) return false;
    const data = stateData(slot);
    if (!data) {
      say(`No state saved in slot ${slot} for this game.`);
      return false;
    }
    const problem = restoreState(data);
    say(problem ? `State ${slot} cannot be loaded: ${problem}` : `State ${slot} loaded.`, !!problem);
    return !problem;
  }

  // A state from a file (the desktop's or one downloaded here): it is loaded,
  // and kept in the slot only when the machine takes it.
  function putState(slot, data, name) {
    if (!cartridge) return false;
    const problem = restoreState(data);
    if (problem) {
      say(`${name}: ${problem}`, true);
      return false;
    }
    const stored = storage.set(stateKey(slot), toBase64(data));
    say(stored ? `${name} loaded into state ${slot}.` : `${name} is loaded, but the browser refuses to store it.`, !stored);
    return true;
  }

  // Save RAM from a file, read as the desktop reads GAME.rom.sav: its first
  // 4096 bytes, a shorter file padded with zeros. The game starts again so it
  // reads the save as it would at power on.
  function putSaveRAM(data, name) {
    if (!cartridge) return false;
    if (data.length > saveSize) {
      say(`${name}: this is not a save file: save RAM holds ${saveSize} bytes, the file ${data.length}.`, true);
      return false;
    }
    const save = bytes(wasm.web_save_ram(), saveSize);
    save.fill(0);
    save.set(data);
    storeSave();
    reset();
    say(`${name} is the save RAM now; the game started again.`);
    return true;
  }

  // ---- cartridges ----------------------------------------------------------------

  function load(data, name) {
    if (!wasm) return false;
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
    cartridge = { name, key: (wasm.web_image_crc() >>> 0).toString(16).padStart(8, '0') };
    restoreSave();
    paint.clearRect(0, 0, frameWidth, frameHeight);
    const title = name.replace(/\.[^.]*$/, '');
    ui.title.textContent = title;
    document.title = `${title} – lumacor`;
    say(paused ? `${name} is loaded and paused.` : `Playing ${name}.`);
    tell('load');
    return true;
  }

  async function openFile(file) {
    startSound();
    if (!wasm) return false;
    if (!wasm.web_image_buffer(file.size)) {
      say(`${file.name}: ${text(wasm.web_message())}`, true);
      return false;
    }
    try {
      return load(new Uint8Array(await file.arrayBuffer()), file.name);
    } catch (error) {
      say(`${file.name} cannot be read: ${error.message}`, true);
      return false;
    }
  }

  function reset() {
    if (!cartridge || !wasm.web_reset(performance.now())) return false;
    paint.clearRect(0, 0, frameWidth, frameHeight);
    if (paused) present();
    mention(`${cartridge.name} started again.`);
    return true;
  }

  function ended() {
    storeSaveIfChanged();
    const reason = text(wasm.web_error());
    say(wasm.web_end() === 2 ? `The program stopped: ${reason}` : 'The program has ended.', wasm.web_end() === 2);
    tell('end');
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

  function runFrames(count) {
    const run = wasm.web_run_frames(Math.max(0, Math.floor(count)));
    if (run > 0) present();
    drainLog();
    if (run > 0 && wasm.web_end() !== 0) ended();
    return run;
  }

  function setPaused(value) {
    if (paused === value) return;
    paused = value;
    if (!paused && wasm) wasm.web_pace_start(performance.now());
    tell(paused ? 'pause' : 'resume');
  }

  function onVisibility() {
    if (!wasm) return;
    if (document.hidden) {
      storeSaveIfChanged();
      if (sound) sound.context.suspend().catch(() => {});
    } else {
      wasm.web_pace_start(performance.now());
      resumeSound();
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
    buttons = Object.freeze({ up, down, left, right, start: startButton, back, a, x });
    padButtons = [[0, a], [2, x], [8, back], [9, startButton], [12, up], [13, down], [14, left], [15, right]];
    ui.canvas.width = frameWidth;
    ui.canvas.height = frameHeight;
    fit();

    const rom = document.getElementById('lumacor-rom');
    if (rom && rom.textContent.trim()) {
      document.body.classList.add('exported');
      if (rom.dataset.storage) keyPrefix = rom.dataset.storage;
      load(fromBase64(rom.textContent), rom.dataset.name || 'game.rom');
    } else {
      say('Open a ROM image to play it.');
    }
    step(); // the first frame now, not an animation frame later
    requestAnimationFrame(animate);
  }

  window.addEventListener('resize', () => frameWidth && fit());
  document.addEventListener('fullscreenchange', () => frameWidth && fit());
  window.addEventListener('pointerdown', startSound);
  window.addEventListener('keydown', startSound);
  window.addEventListener('gamepadconnected', () => wasm && pollPads());
  window.addEventListener('gamepaddisconnected', () => wasm && pollPads());
  document.addEventListener('visibilitychange', onVisibility);
  window.addEventListener('pagehide', storeSaveIfChanged);

  const ready = start().catch((error) => {
    broken = true;
    say(`The player could not start: ${error.message}`, true);
    throw error;
  });

  // The interface of the machine in the page, for the page's own controls,
  // for scripts and for other pages that embed it; docs/web.md describes it.
  const needWasm = () => {
    if (!wasm) throw new Error('lumacor is not ready yet: await lumacor.ready');
  };
  const needSlot = (slot) => {
    if (![1, 2, 3, 4].includes(slot)) throw new RangeError('slot must be 1, 2, 3 or 4');
  };
  window.lumacor = Object.freeze({
    ready,
    get frame() { return wasm ? wasm.web_frame() : 0; },
    get cartridge() { return cartridge ? cartridge.name : null; },
    get buttons() { return buttons; },
    get sound() { return soundState; },
    get paused() { return paused; },
    // Each player's game pad, { name, bits } of the buttons it holds, or null.
    get pads() { return padIndex.map((index, slot) => (index === null ? null : { name: padNames[slot], bits: padBits[slot] })); },
    get volume() { return volume; },
    set volume(value) { volume = Math.min(1, Math.max(0, Number(value) || 0)); applyVolume(); },
    get muted() { return muted; },
    set muted(value) { muted = !!value; applyVolume(); },
    on(type, listener) { events.addEventListener(type, listener); },
    say,
    startSound,
    load(data, name) { needWasm(); return load(data instanceof Uint8Array ? data : new Uint8Array(data), name); },
    open(file) { needWasm(); return openFile(file); },
    reset() { needWasm(); return reset(); },
    pause() { setPaused(true); },
    resume() { needWasm(); setPaused(false); },
    // One frame while paused, shown, as the desktop's N key runs it.
    advance() { needWasm(); return paused && cartridge ? runFrames(1) : 0; },
    runFrames(count) { needWasm(); return runFrames(count); },
    pixels() {
      needWasm();
      return bytes(wasm.web_pixels(), frameWidth * frameHeight * 4).slice();
    },
    setButtons(pad, bits) {
      needWasm();
      if (pad !== 0 && pad !== 1) throw new RangeError('pad must be 0 or 1');
      wasm.web_set_buttons(pad, bits & 0xFF);
    },
    press(pad, bits, down) {
      needWasm();
      if (pad !== 0 && pad !== 1) throw new RangeError('pad must be 0 or 1');
      press(pad, bits & 0xFF, down);
    },
    saveRAM() {
      needWasm();
      const pointer = wasm.web_save_ram();
      return pointer ? bytes(pointer, saveSize).slice() : null;
    },
    putSaveRAM(data, name = 'the file') { needWasm(); return putSaveRAM(new Uint8Array(data), name); },
    saveState(slot) { needWasm(); needSlot(slot); return saveState(slot); },
    loadState(slot) { needWasm(); needSlot(slot); return loadState(slot); },
    stateData(slot) { needWasm(); needSlot(slot); return stateData(slot); },
    putState(slot, data, name = 'the file') { needWasm(); needSlot(slot); return putState(slot, new Uint8Array(data), name); },
    fit() { if (frameWidth) fit(); },
  });
})();
