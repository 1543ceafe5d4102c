// The map panel: the project's Tiled maps (.tmj), a room at a time. Tiles
// are picked from the tileset's picture and painted into the back or the
// front layer with the brush's flips; a selection is filled, copied,
// pasted, flipped and moved around its room with the arrow keys; objects
// are placed with a type; the rooms' grid moves between rooms. Every edit
// is written back to the store as Tiled's JSON.
import { coloursOf, decodePng, encodePng } from '../art.js';
import {
  FLIP_H, FLIP_V, ROOM_COLUMNS, ROOM_ROWS, beginEdit, brokenCells, copy, fill, flipRegion, gidOf, isMap, moveSelection,
  mapText, newMap, paint, paste, placeObject, readMap, redo, tileColours, undo, writeMap,
} from '../map.js';

const ZOOM = 2;
const PICKER_ZOOM = 2;

export function mapPanel({ store, say }) {
  const element = document.getElementById('map');
  const $ = (id) => document.getElementById(id);
  const canvas = $('map-canvas');
  const picker = $('map-tiles');
  let openName = null;
  let map = null;
  let tileset = null; // { picture, bitmap, colours }
  let room = { x: 0, y: 0 };
  let tool = 'paint';
  let front = false;
  let brush = { tile: 0, flips: 0 };
  let selection = null; // { x, y, w, h } in map cells
  let clip = null;

  const brushCell = () => (map.firstGid + brush.tile + brush.flips) >>> 0;

  function changed() {
    store.setFile(openName, writeMap(map), 'map');
    draw();
  }

  function setTool(next) {
    tool = next;
    for (const name of ['paint', 'select', 'object']) $(`map-${name}`).classList.toggle('on', name === tool);
  }

  function setLayer(isFront) {
    front = isFront;
    $('map-back').classList.toggle('on', !front);
    $('map-front').classList.toggle('on', front);
    draw();
  }

  // Draws one tile (with flips) at (x, y) of a 2D context, `size` texels wide.
  function drawTile(paint2d, cell, x, y, size) {
    const tile = gidOf(cell) - map.firstGid;
    if (tile < 0 || tile >= map.tileCount) return;
    paint2d.save();
    paint2d.translate(x + (cell & FLIP_H ? size : 0), y + (cell & FLIP_V ? size : 0));
    paint2d.scale(cell & FLIP_H ? -1 : 1, cell & FLIP_V ? -1 : 1);
    paint2d.drawImage(tileset.bitmap, (tile % map.columns) * 8, Math.floor(tile / map.columns) * 8, 8, 8, 0, 0, size, size);
    paint2d.restore();
  }

  function drawRoom(paint2d, rx, ry, zoom, dimBack = false) {
    paint2d.imageSmoothingEnabled = false;
    paint2d.fillStyle = '#000';
    paint2d.fillRect(0, 0, ROOM_COLUMNS * 8 * zoom, ROOM_ROWS * 8 * zoom);
    for (const [cells, isFront] of [[map.back, false], [map.front, true]]) {
      paint2d.globalAlpha = dimBack && front !== isFront ? 0.45 : 1;
      for (let y = 0; y < ROOM_ROWS; y++) {
        for (let x = 0; x < ROOM_COLUMNS; x++) {
          const cell = cells[(ry * ROOM_ROWS + y) * map.doc.width + rx * ROOM_COLUMNS + x];
          if (gidOf(cell)) drawTile(paint2d, cell, x * 8 * zoom, y * 8 * zoom, 8 * zoom);
        }
      }
    }
    paint2d.globalAlpha = 1;
  }

  function draw() {
    if (!map) return;
    canvas.width = ROOM_COLUMNS * 8 * ZOOM;
    canvas.height = ROOM_ROWS * 8 * ZOOM;
    const paint2d = canvas.getContext('2d');
    drawRoom(paint2d, room.x, room.y, ZOOM, true);
    const left = room.x * ROOM_COLUMNS;
    const top = room.y * ROOM_ROWS;
    const cellSize = 8 * ZOOM;
    // The machine's rule, shown where a painted tile breaks it.
    const broken = brokenCells(map, tileset.colours);
    paint2d.lineWidth = 2;
    paint2d.strokeStyle = '#ff3030';
    for (const b of broken) {
      if (b.x >= left && b.x < left + ROOM_COLUMNS && b.y >= top && b.y < top + ROOM_ROWS)
        paint2d.strokeRect((b.x - left) * cellSize + 1, (b.y - top) * cellSize + 1, cellSize - 2, cellSize - 2);
    }
    paint2d.lineWidth = 1;
    paint2d.font = `${6 * ZOOM}px sans-serif`;
    for (const o of map.objects) {
      const x = o.x - left * 8;
      const y = o.y - top * 8;
      if (x < 0 || y < 0 || x >= ROOM_COLUMNS * 8 || y >= ROOM_ROWS * 8) continue;
      paint2d.strokeStyle = '#40e0ff';
      paint2d.strokeRect(x * ZOOM + 0.5, y * ZOOM + 0.5, 8 * ZOOM - 1, 8 * ZOOM - 1);
      paint2d.fillStyle = '#40e0ff';
      paint2d.fillText(o.type || '?', x * ZOOM + 1, y * ZOOM - 2 > 6 * ZOOM ? y * ZOOM - 2 : y * ZOOM + 14 * ZOOM);
    }
    if (selection) {
      paint2d.strokeStyle = '#ffe040';
      paint2d.strokeRect((selection.x - left) * cellSize + 0.5, (selection.y - top) * cellSize + 0.5,
        selection.w * cellSize - 1, selection.h * cellSize - 1);
    }
    drawPicker();
    drawRooms();
    const notes = [];
    if (broken.length) notes.push(`${broken.length} cell(s) with more than two colours (marked red)`);
    if (tileset.count > 16) notes.push(`the tileset has ${tileset.count} colours: the palette holds 16`);
    const problems = notes.map((note) => `; ${note}`).join('');
    const status = $('map-status');
    status.textContent = `${openName}: room ${room.y * map.roomsWide + room.x} of ${map.roomsWide} x ${map.roomsHigh}, ` +
      `${front ? 'front' : 'back'} layer, tile ${brush.tile}${brush.flips & FLIP_H ? ' ↔' : ''}${
        brush.flips & FLIP_V ? ' ↕' : ''}${problems}`;
    status.classList.toggle('error', notes.length > 0);
  }

  function drawPicker() {
    const { picture } = tileset;
    picker.width = picture.width * PICKER_ZOOM;
    picker.height = picture.height * PICKER_ZOOM;
    const paint2d = picker.getContext('2d');
    paint2d.imageSmoothingEnabled = false;
    paint2d.fillStyle = '#000';
    paint2d.fillRect(0, 0, picker.width, picker.height);
    paint2d.drawImage(tileset.bitmap, 0, 0, picker.width, picker.height);
    const size = 8 * PICKER_ZOOM;
    paint2d.lineWidth = 2;
    tileset.colours.forEach((c, t) => {
      // Red: too many colours anywhere; orange: only in the front, where black counts.
      if (c.all <= 2) return;
      paint2d.strokeStyle = c.lit > 2 ? '#ff3030' : '#ff9040';
      paint2d.strokeRect((t % map.columns) * size + 1, Math.floor(t / map.columns) * size + 1, size - 2, size - 2);
    });
    paint2d.strokeStyle = '#ffe040';
    paint2d.strokeRect((brush.tile % map.columns) * size + 1, Math.floor(brush.tile / map.columns) * size + 1, size - 2, size - 2);
    paint2d.lineWidth = 1;
  }

  function drawRooms() {
    const grid = $('map-rooms');
    grid.style.gridTemplateColumns = `repeat(${map.roomsWide}, auto)`;
    if (grid.children.length !== map.roomsWide * map.roomsHigh) {
      grid.replaceChildren();
      for (let n = 0; n < map.roomsWide * map.roomsHigh; n++) {
        const thumb = document.createElement('canvas');
        thumb.width = ROOM_COLUMNS * 8;
        thumb.height = ROOM_ROWS * 8;
        thumb.dataset.room = n;
        thumb.title = `room ${n}`;
        thumb.addEventListener('click', () => showRoom(n % map.roomsWide, Math.floor(n / map.roomsWide)));
        grid.append(thumb);
      }
    }
    [...grid.children].forEach((thumb, n) => {
      const rx = n % map.roomsWide;
      const ry = Math.floor(n / map.roomsWide);
      drawRoom(thumb.getContext('2d'), rx, ry, 1);
      thumb.classList.toggle('on', rx === room.x && ry === room.y);
    });
  }

  function showRoom(x, y) {
    room = { x, y };
    selection = null;
    draw();
  }

  const cellAt = (event) => {
    const box = canvas.getBoundingClientRect();
    const tx = Math.floor((event.clientX - box.left) / ZOOM);
    const ty = Math.floor((event.clientY - box.top) / ZOOM);
    if (tx < 0 || ty < 0 || tx >= ROOM_COLUMNS * 8 || ty >= ROOM_ROWS * 8) return null;
    return { x: room.x * ROOM_COLUMNS + (tx >> 3), y: room.y * ROOM_ROWS + (ty >> 3),
      tx: room.x * ROOM_COLUMNS * 8 + tx, ty: room.y * ROOM_ROWS * 8 + ty };
  };

  function needsSelection() {
    if (!selection) say('Select a region first (Select, then drag over the room).');
    return Boolean(selection);
  }

  function wire() {
    let stroke = null; // 'paint' or the selection's anchor while the button is down
    canvas.addEventListener('pointerdown', (event) => {
      const at = map && cellAt(event);
      if (!at) return;
      canvas.focus();
      if (tool === 'object') {
        const type = $('map-type').value.trim();
        if (!type) return say('Give the object a type first.', true);
        placeObject(map, type, at.tx, at.ty);
        return changed();
      }
      canvas.setPointerCapture(event.pointerId);
      if (tool === 'select') {
        stroke = { x: at.x, y: at.y };
        selection = { x: at.x, y: at.y, w: 1, h: 1 };
        return draw();
      }
      stroke = 'paint';
      beginEdit(map);
      paint(map, at.x, at.y, event.button === 2 ? 0 : brushCell(), front);
      draw();
    });
    canvas.addEventListener('pointermove', (event) => {
      const at = stroke && cellAt(event);
      if (!at) return;
      if (stroke === 'paint') {
        paint(map, at.x, at.y, event.buttons & 2 ? 0 : brushCell(), front);
      } else {
        selection = { x: Math.min(stroke.x, at.x), y: Math.min(stroke.y, at.y), w: Math.abs(at.x - stroke.x) + 1,
          h: Math.abs(at.y - stroke.y) + 1 };
      }
      draw();
    });
    const finish = () => {
      if (stroke === 'paint') changed();
      stroke = null;
    };
    canvas.addEventListener('pointerup', finish);
    canvas.addEventListener('pointercancel', finish);
    canvas.addEventListener('contextmenu', (event) => event.preventDefault());
    canvas.addEventListener('keydown', (event) => {
      const steps = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] }[event.key];
      if (steps && selection) {
        event.preventDefault();
        selection = moveSelection(selection, ...steps, room);
        draw();
      } else if ((event.ctrlKey || event.metaKey) && ['z', 'y', 'c', 'v'].includes(event.key.toLowerCase())) {
        event.preventDefault();
        const key = event.key.toLowerCase();
        ({ z: event.shiftKey ? onRedo : onUndo, y: onRedo, c: onCopy, v: onPaste })[key]();
      }
    });
    picker.addEventListener('pointerdown', (event) => {
      if (!map) return;
      const box = picker.getBoundingClientRect();
      const column = Math.floor((event.clientX - box.left) / (8 * PICKER_ZOOM));
      const row = Math.floor((event.clientY - box.top) / (8 * PICKER_ZOOM));
      const tile = row * map.columns + column;
      if (column >= map.columns || tile >= map.tileCount) return;
      brush = { ...brush, tile };
      setTool('paint');
      draw();
    });
    const on = (id, handler) => $(id).addEventListener('click', handler);
    on('map-paint', () => setTool('paint'));
    on('map-select', () => setTool('select'));
    on('map-object', () => setTool('object'));
    on('map-back', () => setLayer(false));
    on('map-front', () => setLayer(true));
    // A flip turns the brush, and the selected region with it.
    const flip = (bit, horizontal) => {
      brush = { ...brush, flips: (brush.flips ^ bit) >>> 0 };
      if (selection) {
        flipRegion(map, selection, horizontal);
        return changed();
      }
      draw();
    };
    on('map-flip-h', () => flip(FLIP_H, true));
    on('map-flip-v', () => flip(FLIP_V, false));
    on('map-fill', () => {
      if (!needsSelection()) return;
      fill(map, selection, brushCell(), front);
      changed();
    });
    on('map-copy', onCopy);
    on('map-paste', onPaste);
    on('map-undo', onUndo);
    on('map-redo', onRedo);
  }

  function onCopy() {
    if (needsSelection()) clip = copy(map, selection);
  }
  function onPaste() {
    if (!clip) return say('Copy a region first.');
    if (!needsSelection()) return;
    paste(map, clip, selection.x, selection.y);
    selection = { ...selection, w: clip.w, h: clip.h };
    changed();
  }
  function onUndo() {
    if (undo(map)) changed();
  }
  function onRedo() {
    if (redo(map)) changed();
  }

  async function open(name) {
    let next;
    try {
      next = readMap(name, String(store.file(name)), (path) => store.file(path));
      const bytes = store.file(next.image);
      if (!(bytes instanceof Uint8Array)) throw new Error(`its tileset picture ${next.image} is not in the project`);
      const picture = await decodePng(bytes);
      const bitmap = await createImageBitmap(new ImageData(new Uint8ClampedArray(picture.rgba), picture.width, picture.height));
      tileset = { picture, bitmap, colours: tileColours(picture, next.columns, next.tileCount),
        count: coloursOf(picture).length };
    } catch (error) {
      say(`${name} cannot be edited as a map: ${error.message}`, true);
      return false;
    }
    const same = openName === name && map;
    if (same) Object.assign(next, { undo: map.undo, redo: map.redo });
    openName = name;
    map = next;
    if (!same) {
      room = { x: 0, y: 0 };
      selection = null;
      brush = { tile: 0, flips: 0 };
    }
    room = { x: Math.min(room.x, map.roomsWide - 1), y: Math.min(room.y, map.roomsHigh - 1) };
    draw();
    return true;
  }

  // A new map of one room, on the tileset picture named after it (a blank
  // sheet of 128 tiles, made if the project has none).
  async function create(name) {
    const picture = name.replace(/\.tmj$/i, '-tiles.png');
    if (!(store.file(picture) instanceof Uint8Array))
      store.setFile(picture, await encodePng({ width: 128, height: 64, rgba: new Uint8Array(128 * 64 * 4) }));
    const { width, height } = await decodePng(store.file(picture));
    store.setFile(name, mapText(newMap(1, 1, picture.slice(picture.lastIndexOf('/') + 1), width, height)));
  }

  wire();
  setTool('paint');
  setLayer(false);
  store.on('file', (name, by) => {
    if (!openName || by === 'map') return;
    // The map itself changed elsewhere, or its tileset or picture did.
    if (name === openName || (map && (name === map.image || /\.tsj$/i.test(name)))) open(openName);
  });
  store.on('renamed', (from, to) => {
    if (openName === from) openName = to;
  });
  store.on('project', () => { openName = null; map = null; });

  return {
    name: 'map',
    element,
    handles: (name, contents) => isMap(name) && typeof contents === 'string',
    open,
    create,
    close: () => { openName = null; map = null; },
  };
}
