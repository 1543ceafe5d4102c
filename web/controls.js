// The player page around the machine: keys, the on-screen pad, the buttons
// and dialogs, files opened, dropped or named in the address, and saves
// carried in and out. It drives the machine only through window.lumacor.
'use strict';
(() => {
  const { lumacor } = window;
  const $ = (id) => document.getElementById(id);
  const ui = {
    file: $('file'), canvas: $('screen'), stage: $('stage'), pause: $('pause'), reset: $('reset'),
    fullscreen: $('fullscreen'), mute: $('mute'), volume: $('volume'), help: $('help'), settings: $('settings'),
    paused: $('paused'), notice: $('notice'), remap: $('remap'), saves: $('saves'), upload: $('upload'),
    statesFirst: $('states-first'),
  };
  const NAMES = ['up', 'down', 'left', 'right', 'start', 'back', 'a', 'x'];
  const DEFAULT_KEYS = {
    up: ['ArrowUp'], down: ['ArrowDown'], left: ['ArrowLeft'], right: ['ArrowRight'], start: ['Enter'],
    back: ['Backspace', 'ShiftRight'], a: ['KeyZ', 'Space'], x: ['KeyX'],
  };
  const SLOTS = ['F1', 'F2', 'F3', 'F4'];

  const stored = (key) => {
    try { return JSON.parse(localStorage.getItem(key)); } catch { return null; }
  };
  const store = (key, value) => {
    try { localStorage.setItem(key, JSON.stringify(value)); } catch { /* kept for this visit only */ }
  };

  // ---- focus: keys belong to the game unless a field or a dialog has them ----

  function focusGame() {
    if (!document.querySelector('dialog[open]')) ui.canvas.focus({ preventScroll: true });
  }

  function pageTakes(event) {
    if (document.querySelector('dialog[open]')) return true;
    const target = event.target;
    if (!(target instanceof Element)) return false;
    if (target.isContentEditable || ['INPUT', 'TEXTAREA', 'SELECT'].includes(target.tagName)) return true;
    // A page button reached with Tab is pressed with Enter or Space.
    return target.tagName === 'BUTTON' && (event.code === 'Enter' || event.code === 'Space');
  }

  // ---- keys --------------------------------------------------------------------

  const settings = stored('lumacor:keys') || {};
  let keyMap = validKeyMap(settings.map) || structuredClone(DEFAULT_KEYS);
  let statesFirst = settings.statesFirst !== false;
  let keyBits = new Map();
  const held = new Map();        // code -> bits it holds in the machine
  const heldShifts = new Map();  // Shift key that is a button, held back -> { bits, spoiled }

  function validKeyMap(map) {
    if (!map || typeof map !== 'object') return null;
    return NAMES.every((name) => Array.isArray(map[name]) && map[name].every((code) => typeof code === 'string'))
      ? map : null;
  }

  function rebuildKeys() {
    keyBits = new Map();
    for (const name of NAMES) for (const code of keyMap[name]) keyBits.set(code, lumacor.buttons[name]);
    store('lumacor:keys', { map: keyMap, statesFirst });
    showKeys();
  }

  function releaseKeys() {
    for (const bits of held.values()) lumacor.press(0, bits, false);
    held.clear();
    heldShifts.clear();
  }

  function onKeyDown(event) {
    if (listening) return;
    if (pageTakes(event) || !lumacor.buttons) return;
    const plain = !event.ctrlKey && !event.altKey && !event.metaKey;
    const slot = SLOTS.indexOf(event.code) + 1;
    if (slot && lumacor.cartridge && plain) {
      event.preventDefault();
      for (const shift of heldShifts.values()) shift.spoiled = true;
      if (!event.repeat) (event.shiftKey ? lumacor.saveState : lumacor.loadState)(slot);
      return;
    }
    if (event.code === 'F11' && plain) {
      event.preventDefault();
      if (!event.repeat) toggleFullscreen();
      return;
    }
    const bits = keyBits.get(event.code);
    if (bits === undefined) {
      if (!plain || event.repeat) return;
      if (event.code === 'KeyP') togglePause();
      else if (event.code === 'KeyN') lumacor.advance();
      return;
    }
    if (!lumacor.cartridge || !plain) return;
    event.preventDefault();
    if (event.repeat || held.has(event.code) || heldShifts.has(event.code)) return;
    if (statesFirst && event.code.startsWith('Shift')) {
      heldShifts.set(event.code, { bits, spoiled: false });
      return;
    }
    held.set(event.code, bits);
    lumacor.press(0, bits, true);
  }

  function onKeyUp(event) {
    const shift = heldShifts.get(event.code);
    if (shift) {
      heldShifts.delete(event.code);
      // A tap: the machine holds the button for the next frame.
      if (!shift.spoiled) {
        lumacor.press(0, shift.bits, true);
        lumacor.press(0, shift.bits, false);
      }
      return;
    }
    if (!held.has(event.code)) return;
    event.preventDefault();
    lumacor.press(0, held.get(event.code), false);
    held.delete(event.code);
  }

  // ---- the key table, shown in the help, the empty player and the footer ----------

  const keyName = (code) => ({
    ArrowUp: '↑', ArrowDown: '↓', ArrowLeft: '←', ArrowRight: '→', ShiftRight: 'right Shift', ShiftLeft: 'left Shift',
    ControlRight: 'right Ctrl', ControlLeft: 'left Ctrl', AltLeft: 'left Alt', AltRight: 'right Alt',
  }[code] || code.replace(/^(Key|Digit)/, ''));
  const kbd = (code) => `<kbd>${keyName(code)}</kbd>`;
  const keysOf = (name) => keyMap[name].map((code) => kbd(code) + (statesFirst && code.startsWith('Shift') ? ' (let go)' : ''))
    .join(' ') || '(none)';

  function showKeys() {
    const rows = NAMES.map((name) => [keysOf(name), name.toUpperCase()]);
    rows.push(['<kbd>Shift</kbd>+<kbd>F1</kbd>…<kbd>F4</kbd>', 'save the state in slot 1…4'],
      ['<kbd>F1</kbd>…<kbd>F4</kbd>', 'load that state'], ['<kbd>P</kbd>', 'pause, go on'],
      ['<kbd>N</kbd>', 'one frame, while paused'], ['<kbd>F11</kbd>', 'fullscreen']);
    $('help-keys').innerHTML = `<tr><th>Keys</th><th>Does</th></tr>${rows.map(([k, d]) => `<tr><td>${k}</td><td>${d}</td></tr>`).join('')}`;
    const line = rows.map(([k, d]) => `<span>${k} ${d}</span>`).join(' ');
    for (const place of document.querySelectorAll('.key-help')) place.innerHTML = line;
    ui.remap.innerHTML = NAMES.map((name) => `<tr data-name="${name}"><td>${name.toUpperCase()}</td>`
      + `<td>${keysOf(name)}</td><td><button type="button" class="change" aria-label="Change ${name.toUpperCase()}">Change</button></td></tr>`).join('');
    ui.statesFirst.checked = statesFirst;
  }

  // Change: the next key pressed becomes that button's only key, and no
  // other button's.
  let listening = null;
  ui.remap.addEventListener('click', (event) => {
    const row = event.target.closest('tr');
    if (!event.target.classList.contains('change') || !row) return;
    listening = row.dataset.name;
    row.classList.add('listening');
    row.cells[1].textContent = 'press a key… (Escape keeps it)';
  });
  window.addEventListener('keydown', (event) => {
    if (!listening) return;
    event.preventDefault();
    event.stopPropagation();
    const name = listening;
    listening = null;
    // The state keys, fullscreen and Tab (moving through the page) stay the page's.
    if ([...SLOTS, 'F11', 'Tab'].includes(event.code)) {
      lumacor.say(`${event.code} is the page's own key; ${name.toUpperCase()} keeps its keys.`, true);
    } else if (event.code !== 'Escape') {
      for (const other of NAMES) keyMap[other] = keyMap[other].filter((code) => code !== event.code);
      keyMap[name] = [event.code];
    }
    releaseKeys();
    rebuildKeys();
  }, true);
  $('keys-default').addEventListener('click', () => {
    keyMap = structuredClone(DEFAULT_KEYS);
    statesFirst = true;
    releaseKeys();
    rebuildKeys();
  });
  ui.statesFirst.addEventListener('change', () => {
    statesFirst = ui.statesFirst.checked;
    releaseKeys();
    rebuildKeys();
  });

  // ---- the on-screen pad -----------------------------------------------------------
  // Every touch that began on a pad button holds the button under it now, so
  // a thumb slides across the d-pad and two thumbs hold two buttons.

  const touches = new Map();  // touch identifier -> true while it counts
  let touchBits = 0;

  function buttonAt(x, y) {
    const element = document.elementFromPoint(x, y);
    const button = element && element.closest('.touchpad [data-button]');
    return button ? button.dataset.button : null;
  }

  function touchesChanged(event) {
    event.preventDefault();
    if (event.type === 'touchstart') {
      lumacor.startSound();
      for (const touch of event.changedTouches) touches.set(touch.identifier, true);
    }
    for (const touch of event.changedTouches) {
      if (event.type === 'touchend' || event.type === 'touchcancel') touches.delete(touch.identifier);
    }
    let bits = 0;
    const names = new Set();
    for (const touch of event.touches) {
      if (!touches.has(touch.identifier)) continue;
      const name = buttonAt(touch.clientX, touch.clientY);
      if (name) {
        names.add(name);
        bits |= lumacor.buttons[name];
      }
    }
    setTouchBits(bits, names);
  }

  function setTouchBits(bits, names) {
    const changed = bits ^ touchBits;
    if (changed & bits) lumacor.press(0, changed & bits, true);
    if (changed & ~bits) lumacor.press(0, changed & ~bits, false);
    touchBits = bits;
    for (const button of document.querySelectorAll('.touchpad [data-button]')) {
      button.classList.toggle('held', names.has(button.dataset.button));
    }
  }

  for (const pad of document.querySelectorAll('.touchpad')) {
    for (const type of ['touchstart', 'touchmove', 'touchend', 'touchcancel']) {
      pad.addEventListener(type, touchesChanged, { passive: false });
    }
    // A mouse on a touch screen's laptop presses them too.
    pad.addEventListener('mousedown', (event) => {
      const name = buttonAt(event.clientX, event.clientY);
      if (!name || !lumacor.buttons) return;
      event.preventDefault();
      setTouchBits(lumacor.buttons[name], new Set([name]));
      window.addEventListener('mouseup', () => setTouchBits(0, new Set()), { once: true });
    });
  }

  const touchDevice = () => navigator.maxTouchPoints > 0 || matchMedia('(pointer: coarse)').matches;
  document.body.classList.toggle('touch', touchDevice());
  window.addEventListener('touchstart', () => {
    if (!document.body.classList.contains('touch')) {
      document.body.classList.add('touch');
      lumacor.fit();
    }
  }, { passive: true });

  // ---- the page's buttons -----------------------------------------------------------

  function togglePause() {
    if (!lumacor.paused) lumacor.pause();
    else if (lumacor.buttons) lumacor.resume();
  }

  function showPaused() {
    ui.pause.textContent = lumacor.paused ? 'Resume' : 'Pause';
    ui.pause.setAttribute('aria-pressed', String(lumacor.paused));
    ui.paused.hidden = !lumacor.paused;
  }

  function toggleFullscreen() {
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(() => {});
    } else if (document.documentElement.requestFullscreen) {
      // The whole page, so its buttons (and a phone's pad) stay at hand.
      document.documentElement.requestFullscreen().catch((error) => lumacor.say(`Fullscreen is refused: ${error.message}`, true));
    } else {
      lumacor.say('This browser offers this page no fullscreen.', true);
    }
  }

  function showSound() {
    ui.mute.setAttribute('aria-pressed', String(lumacor.muted));
    ui.mute.textContent = lumacor.muted ? 'Unmute' : 'Mute';
    ui.volume.value = String(Math.round(lumacor.volume * 100));
  }

  const sound = stored('lumacor:sound') || {};
  lumacor.volume = typeof sound.volume === 'number' ? sound.volume : 1;
  lumacor.muted = sound.muted === true;
  const storeSound = () => store('lumacor:sound', { volume: lumacor.volume, muted: lumacor.muted });

  // A button clicked with the mouse gives the keys back to the game.
  const onButton = (button, action) => button.addEventListener('click', (event) => {
    action();
    if (event.detail > 0) focusGame();
  });
  onButton(ui.pause, togglePause);
  onButton(ui.reset, () => lumacor.reset());
  onButton(ui.fullscreen, toggleFullscreen);
  onButton(ui.mute, () => {
    lumacor.muted = !lumacor.muted;
    showSound();
    storeSound();
  });
  ui.volume.addEventListener('input', () => {
    lumacor.volume = Number(ui.volume.value) / 100;
    lumacor.muted = false;
    showSound();
    storeSound();
  });
  // Let go after a drag: the keys are the game's again (arrows on a
  // focused slider keep changing it).
  ui.volume.addEventListener('pointerup', focusGame);
  const openDialog = (dialog) => {
    releaseKeys();
    dialog.showModal();
  };
  onButton($('help-open'), () => openDialog(ui.help));
  onButton($('settings-open'), () => {
    showSaves();
    openDialog(ui.settings);
    showPads();
  });

  // The pads the page reads and what each holds now, while the settings show.
  function showPads() {
    const lines = lumacor.pads.map((pad, slot) => {
      if (!pad) return `<li>Player ${slot + 1}: no game pad (press one of its buttons)</li>`;
      const holds = NAMES.filter((name) => pad.bits & lumacor.buttons[name]).map((name) => name.toUpperCase());
      return `<li>Player ${slot + 1}: ${pad.name.replace(/[&<>]/g, '')}, holding ${holds.join(' ') || 'nothing'}</li>`;
    }).join('');
    if ($('pads').innerHTML !== lines) $('pads').innerHTML = lines;
    if (ui.settings.open) requestAnimationFrame(showPads);
  }
  onButton($('open-big'), () => ui.file.click());
  for (const dialog of [ui.help, ui.settings]) {
    dialog.querySelector('.close').addEventListener('click', () => dialog.close());
    dialog.addEventListener('close', () => {
      listening = null;
      focusGame();
    });
  }

  // ---- files: chosen, dropped, or named by ?rom= ----------------------------------------

  async function openFile(file) {
    await lumacor.open(file);
    focusGame();
  }

  ui.file.addEventListener('change', () => {
    const [file] = ui.file.files;
    ui.file.value = '';
    if (file) openFile(file);
    else focusGame();
  });
  ui.file.addEventListener('cancel', focusGame);
  window.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  window.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    if (event.dataTransfer && event.dataTransfer.files.length) openFile(event.dataTransfer.files[0]);
  });

  // lumacor.html?rom=URL: the address is read as the page's own (a relative
  // one from the page's folder); another site must allow the page to read it.
  async function openAddress(address) {
    let url;
    try {
      url = new URL(address, location.href);
    } catch {
      lumacor.say(`${address}: this is not a web address.`, true);
      return;
    }
    const name = decodeURIComponent(url.pathname.split('/').pop()) || 'game.rom';
    lumacor.say(`Fetching ${name}…`);
    let response;
    try {
      response = await fetch(url);
    } catch {
      lumacor.say(`${name} cannot be fetched from ${url.origin}: the server is unreachable, or it does not let this page read it.`, true);
      return;
    }
    if (!response.ok) {
      lumacor.say(`${name}: the server answered ${response.status} ${response.statusText}`.trim() + '.', true);
      return;
    }
    try {
      lumacor.load(new Uint8Array(await response.arrayBuffer()), name);
    } catch (error) {
      lumacor.say(`${name} cannot be read: ${error.message}`, true);
    }
  }

  // ---- saves carried out and in ----------------------------------------------------------

  function download(data, name) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([data], { type: 'application/octet-stream' }));
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }

  function showSaves() {
    const game = lumacor.cartridge;
    if (!game) {
      ui.saves.innerHTML = '<tr><td>Open a ROM first.</td></tr>';
      return;
    }
    const rows = [['sav', 'Save RAM', `${game}.sav`, true]];
    for (let slot = 1; slot <= 4; slot++) rows.push([String(slot), `State ${slot}`, `${game}.state${slot}`, !!lumacor.stateData(slot)]);
    ui.saves.innerHTML = rows.map(([what, label, file, has]) => `<tr data-what="${what}" data-file="${file.replace(/[&<>"]/g, '_')}">`
      + `<td>${label}</td><td><button type="button" class="down" aria-label="Download ${label}"${has ? '' : ' disabled'}>Download</button></td>`
      + `<td><button type="button" class="up" aria-label="Upload ${label}">Upload…</button></td></tr>`).join('');
  }

  let uploadTo = null;
  ui.saves.addEventListener('click', (event) => {
    const row = event.target.closest('tr');
    if (!row || !row.dataset.what || !lumacor.cartridge) return;
    const { what } = row.dataset;
    if (event.target.classList.contains('down')) {
      const data = what === 'sav' ? lumacor.saveRAM() : lumacor.stateData(Number(what));
      if (data) download(data, row.dataset.file);
    } else if (event.target.classList.contains('up')) {
      uploadTo = what;
      ui.upload.click();
    }
  });
  ui.upload.addEventListener('change', async () => {
    const [file] = ui.upload.files;
    ui.upload.value = '';
    if (!file || !uploadTo) return;
    const data = new Uint8Array(await file.arrayBuffer());
    if (uploadTo === 'sav') lumacor.putSaveRAM(data, file.name);
    else lumacor.putState(Number(uploadTo), data, file.name);
    showSaves();
  });

  // ---- start ------------------------------------------------------------------------------

  window.addEventListener('keydown', onKeyDown);
  window.addEventListener('keyup', onKeyUp);
  window.addEventListener('blur', releaseKeys);
  lumacor.on('pause', showPaused);
  lumacor.on('resume', showPaused);
  lumacor.on('load', () => {
    document.body.classList.add('loaded');
    releaseKeys();
    lumacor.fit();
  });
  if (window.isSecureContext === false) {
    ui.notice.textContent = 'No sound here: browsers play sound only on secure pages (https, localhost or a file on '
      + 'the disk), because the audio worklets it needs are given to secure pages alone. This page came over plain '
      + 'http; served over https, it plays its sound.';
  }
  showPaused();
  showSound();
  lumacor.ready.then(() => {
    rebuildKeys();
    if (lumacor.cartridge) document.body.classList.add('loaded');
    lumacor.fit();
    focusGame();
    const address = new URLSearchParams(location.search).get('rom');
    if (address && !document.body.classList.contains('exported')) openAddress(address);
  }, () => {});
})();
