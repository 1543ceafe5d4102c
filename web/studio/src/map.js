// The project's Tiled maps (.tmj): reading one into what the map panel
// edits, the edits themselves with their undo, writing Tiled's JSON back, and
// the conversion the build service runs (the map converter's core in the
// studio's module, as lumacor-map converts a map on the desktop).
//
// A map is edited in two tile layers, the back and the one named "front",
// and one object layer; other layers and every field the studio does not
// know are kept as Tiled wrote them. Cells hold Tiled's global tile ids
// with its flip bits.
import { unzlibSync, gunzipSync } from 'fflate';
import { RULES_FILE, decodePng, parseRules, tileNumber } from './art.js';

export const ROOM_COLUMNS = 32;
export const ROOM_ROWS = 24;
export const FLIP_H = 0x80000000;
export const FLIP_V = 0x40000000;
const GID_MASK = 0x0fffffff;
const HISTORY = 200;

export const gidOf = (cell) => (cell & GID_MASK) >>> 0;
export const isMap = (name) => /\.tmj$/i.test(name);

const folderOf = (path) => path.slice(0, path.lastIndexOf('/') + 1);

// A path as a project names its files: "maps/../art/a.png" is "art/a.png".
export function normalPath(path) {
  const parts = [];
  for (const part of path.split('/')) {
    if (part === '..') parts.pop();
    else if (part && part !== '.') parts.push(part);
  }
  return parts.join('/');
}

function decodeBase64(text) {
  const binary = atob(text.replace(/\s+/g, ''));
  return Uint8Array.from(binary, (c) => c.charCodeAt(0));
}

// A tile layer's cells as numbers, whichever way Tiled stored them.
function layerCells(layer) {
  if (Array.isArray(layer.data)) return layer.data.map((n) => n >>> 0);
  let bytes = decodeBase64(layer.data);
  if (layer.compression === 'zlib') bytes = unzlibSync(bytes);
  else if (layer.compression === 'gzip') bytes = gunzipSync(bytes);
  else if (layer.compression) throw new Error(`layer ${layer.name}: ${layer.compression} compression is not read here`);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  return Array.from({ length: bytes.length >> 2 }, (_, i) => view.getUint32(i * 4, true));
}

// Every tile layer of a map with its data as a plain array, so the map
// converter reads it without an inflater of its own.
export function plainLayers(doc) {
  const walk = (layers) => {
    for (const layer of layers || []) {
      if (layer.type === 'group') walk(layer.layers);
      else if (layer.type === 'tilelayer' && layer.data !== undefined && !Array.isArray(layer.data)) {
        layer.data = layerCells(layer);
        layer.encoding = 'csv';
        delete layer.compression;
      }
    }
  };
  walk(doc.layers);
  return doc;
}

// A new map of `wide` x `high` rooms whose one tileset is the picture
// `image` (a path from the map's folder) of width x height texels.
export function newMap(wide, high, image, width, height) {
  const w = wide * ROOM_COLUMNS;
  const h = high * ROOM_ROWS;
  const tileLayer = (id, name) => ({ data: new Array(w * h).fill(0), height: h, id, name, opacity: 1,
    type: 'tilelayer', visible: true, width: w, x: 0, y: 0 });
  const columns = Math.floor(width / 8);
  return {
    compressionlevel: -1, height: h, infinite: false,
    layers: [tileLayer(1, 'back'), tileLayer(2, 'front'),
      { draworder: 'topdown', id: 3, name: 'objects', objects: [], opacity: 1, type: 'objectgroup', visible: true,
        x: 0, y: 0 }],
    nextlayerid: 4, nextobjectid: 1, orientation: 'orthogonal', renderorder: 'right-down', tiledversion: '1.8.2',
    tileheight: 8,
    tilesets: [{ columns, firstgid: 1, image, imageheight: height, imagewidth: width, margin: 0,
      name: image.replace(/^.*\//, '').replace(/\.[^.]*$/, ''), spacing: 0,
      tilecount: columns * Math.floor(height / 8), tileheight: 8, tilewidth: 8 }],
    tilewidth: 8, type: 'map', version: '1.8', width: w,
  };
}

// What the panel edits, from a map's text. `readText` gives a project
// file's text (for an external .tsj tileset). Throws with the reason when
// the studio cannot edit the map.
export function readMap(path, text, readText) {
  const doc = plainLayers(JSON.parse(text));
  if (doc.infinite) throw new Error('an infinite map cannot be edited; make it finite in Tiled');
  if (doc.tilewidth !== 8 || doc.tileheight !== 8) throw new Error('its tiles are not 8 x 8');
  if (!(doc.width > 0 && doc.height > 0 && doc.width % ROOM_COLUMNS === 0 && doc.height % ROOM_ROWS === 0))
    throw new Error(`a map of ${doc.width} x ${doc.height} cells is not a whole number of rooms of 32 x 24 cells`);
  const tiles = (doc.layers || []).filter((l) => l.type === 'tilelayer');
  let front = tiles.find((l) => l.name.toLowerCase() === 'front');
  let back = tiles.find((l) => l !== front);
  const nextLayerId = () => (doc.nextlayerid = (doc.nextlayerid || 1) + 1) - 1;
  const blank = (name) => ({ data: new Array(doc.width * doc.height).fill(0), height: doc.height, id: nextLayerId(),
    name, opacity: 1, type: 'tilelayer', visible: true, width: doc.width, x: 0, y: 0 });
  doc.layers = doc.layers || [];
  if (!back) doc.layers.unshift((back = blank('back')));
  if (!front) doc.layers.splice(doc.layers.indexOf(back) + 1, 0, (front = blank('front')));
  let objects = doc.layers.find((l) => l.type === 'objectgroup');
  if (!objects) {
    objects = { draworder: 'topdown', id: nextLayerId(), name: 'objects', objects: [], opacity: 1,
      type: 'objectgroup', visible: true, x: 0, y: 0 };
    doc.layers.push(objects);
  }
  const first = (doc.tilesets || [])[0];
  if (!first) throw new Error('it has no tileset');
  let tileset = first;
  let imageFrom = path;
  if (first.source) {
    imageFrom = normalPath(folderOf(path) + first.source);
    const tsj = readText(imageFrom);
    if (typeof tsj !== 'string' || !tsj.trim().startsWith('{'))
      throw new Error(`its tileset ${first.source} is not a JSON tileset (.tsj) in the project`);
    tileset = JSON.parse(tsj);
  }
  return {
    doc, back: back.data, front: front.data, objects: objects.objects,
    firstGid: first.firstgid, columns: tileset.columns, tileCount: tileset.tilecount,
    image: normalPath(folderOf(imageFrom) + (tileset.image || '')),
    roomsWide: doc.width / ROOM_COLUMNS, roomsHigh: doc.height / ROOM_ROWS,
    undo: [], redo: [],
  };
}

// A map's JSON as Tiled lays it out: one field a line, a layer's cells on
// one line.
export function mapText(doc) {
  const cells = [];
  const text = JSON.stringify(doc, (key, value) => {
    if (key !== 'data' || !Array.isArray(value)) return value;
    cells.push(value.join(','));
    return `\u0000${cells.length - 1}`;
  }, 1);
  return `${text.replace(/"\\u0000(\d+)"/g, (_, n) => `[${cells[n]}]`)}\n`;
}

// Tiled's JSON of the map as edited: the studio's layers written as plain
// arrays, everything else as it came.
export function writeMap(map) {
  const doc = map.doc;
  const ids = doc.layers.filter((l) => l.type === 'objectgroup').flatMap((l) => l.objects.map((o) => o.id));
  doc.nextobjectid = Math.max(doc.nextobjectid || 1, ...ids.map((id) => id + 1));
  return mapText(doc);
}

// ---- edits, each undoable ------------------------------------------------------

function remember(map) {
  map.undo.push({ back: map.back.slice(), front: map.front.slice(), objects: structuredClone(map.objects) });
  if (map.undo.length > HISTORY) map.undo.shift();
  map.redo = [];
}

function restore(map, from, to) {
  const state = from.pop();
  if (!state) return false;
  to.push({ back: map.back.slice(), front: map.front.slice(), objects: structuredClone(map.objects) });
  map.back.splice(0, map.back.length, ...state.back);
  map.front.splice(0, map.front.length, ...state.front);
  map.objects.splice(0, map.objects.length, ...state.objects);
  return true;
}

export const undo = (map) => restore(map, map.undo, map.redo);
export const redo = (map) => restore(map, map.redo, map.undo);

// A cell shows one tile, so a tile put in one layer leaves the other empty
// there: the converter refuses a cell drawn in both.
function put(map, x, y, cell, front) {
  if (x < 0 || y < 0 || x >= map.doc.width || y >= map.doc.height) return;
  const i = y * map.doc.width + x;
  (front ? map.front : map.back)[i] = cell >>> 0;
  if (gidOf(cell)) (front ? map.back : map.front)[i] = 0;
}

// Starts an edit: strokes of one drag share one undo step.
export const beginEdit = remember;

// One cell of a stroke: the brush's cell (0 erases both layers).
export function paint(map, x, y, cell, front) {
  if (!gidOf(cell)) {
    put(map, x, y, 0, true);
    put(map, x, y, 0, false);
  } else {
    put(map, x, y, cell, front);
  }
}

// rect: { x, y, w, h } in map cells.
export function fill(map, rect, cell, front) {
  remember(map);
  for (let y = rect.y; y < rect.y + rect.h; y++) for (let x = rect.x; x < rect.x + rect.w; x++) paint(map, x, y, cell, front);
}

export function copy(map, rect) {
  const cells = [];
  for (let y = rect.y; y < rect.y + rect.h; y++) {
    for (let x = rect.x; x < rect.x + rect.w; x++) {
      const i = y * map.doc.width + x;
      cells.push([map.back[i], map.front[i]]);
    }
  }
  return { w: rect.w, h: rect.h, cells };
}

// The copied cells with their layers, their top left at (x, y); what falls
// outside the map is left out.
export function paste(map, clip, x, y) {
  remember(map);
  clip.cells.forEach(([back, front], n) => {
    const cx = x + (n % clip.w);
    const cy = y + Math.floor(n / clip.w);
    if (cx < 0 || cy < 0 || cx >= map.doc.width || cy >= map.doc.height) return;
    const i = cy * map.doc.width + cx;
    map.back[i] = back;
    map.front[i] = front;
  });
}

// Mirrors the region and each cell's tile in it.
export function flipRegion(map, rect, horizontal) {
  const clip = copy(map, rect);
  const bit = horizontal ? FLIP_H : FLIP_V;
  const turned = clip.cells.map((_, n) => {
    const x = n % clip.w;
    const y = Math.floor(n / clip.w);
    const from = horizontal ? y * clip.w + (clip.w - 1 - x) : (clip.h - 1 - y) * clip.w + x;
    return clip.cells[from].map((c) => (gidOf(c) ? (c ^ bit) >>> 0 : 0));
  });
  paste(map, { ...clip, cells: turned }, rect.x, rect.y);
}

// An object of `type` with its top left at texel (x, y) of the map.
export function placeObject(map, type, x, y) {
  remember(map);
  const id = Math.max(map.doc.nextobjectid || 1, ...map.objects.map((o) => o.id + 1));
  map.doc.nextobjectid = id + 1;
  map.objects.push({ height: 8, id, name: '', rotation: 0, type, visible: true, width: 8, x, y });
}

// The selection moved by (dx, dy) cells, kept inside its room.
export function moveSelection(rect, dx, dy, room) {
  const left = room.x * ROOM_COLUMNS;
  const top = room.y * ROOM_ROWS;
  const clamp = (v, low, high) => Math.max(low, Math.min(high, v));
  return { ...rect, x: clamp(rect.x + dx, left, left + ROOM_COLUMNS - rect.w),
    y: clamp(rect.y + dy, top, top + ROOM_ROWS - rect.h) };
}

// ---- the machine's rules ---------------------------------------------------------

// For each tile of the tileset picture, the colours it holds: { all, lit }
// (lit leaves black out: undrawn in the back, where nothing drawn shows
// black). A tile breaks the rule of two colours a cell when it has more than
// two, counting black only in the front.
export function tileColours(picture, columns, count) {
  const result = [];
  for (let t = 0; t < count; t++) {
    const all = new Set();
    for (let y = 0; y < 8; y++) {
      for (let x = 0; x < 8; x++) {
        const px = (t % columns) * 8 + x;
        const py = Math.floor(t / columns) * 8 + y;
        if (px >= picture.width || py >= picture.height) continue;
        const i = 4 * (py * picture.width + px);
        if (picture.rgba[i + 3] >= 128) all.add((picture.rgba[i] << 16) | (picture.rgba[i + 1] << 8) | picture.rgba[i + 2]);
      }
    }
    result.push({ all: all.size, lit: all.size - (all.has(0) ? 1 : 0) });
  }
  return result;
}

// The cells of the map whose tile breaks the rule, as { x, y, front }.
export function brokenCells(map, colours) {
  const broken = [];
  const check = (cells, front) => cells.forEach((cell, i) => {
    const tile = gidOf(cell) - map.firstGid;
    const c = colours[tile];
    if (gidOf(cell) && c && (front ? c.all : c.lit) > 2) broken.push({ x: i % map.doc.width, y: Math.floor(i / map.doc.width), front });
  });
  check(map.back, false);
  check(map.front, true);
  return broken;
}

// ---- in the build ----------------------------------------------------------------

// lumacor-map's options from a map's gfx.txt line.
export function mapOptionsOf(path, args) {
  const options = { name: '', firstTile: 0, pack: false, paletteFrom: null, problems: [] };
  for (let i = 0; i < args.length; i++) {
    const arg = args[i];
    if (arg === '--pack') options.pack = true;
    else if (arg === '--name' && i + 1 < args.length) options.name = args[++i];
    else if (arg === '--palette-from' && i + 1 < args.length) options.paletteFrom = args[++i];
    else if (arg === '--first-tile' && i + 1 < args.length) {
      options.firstTile = tileNumber(args[++i]);
      if (!(options.firstTile >= 0 && options.firstTile <= 255)) options.problems.push(`--first-tile: Value ${args[i]} not in range 0 to 255`);
    } else options.problems.push(`${arg}: not an option of a map (--name, --first-tile, --pack, --palette-from)`);
  }
  if (!options.name) {
    let name = path.slice(path.lastIndexOf('/') + 1).replace(/\..*$/, '').replace(/[^A-Za-z0-9]/g, '_');
    if (!name || /^[0-9]/.test(name)) name = `map_${name}`;
    options.name = name;
  }
  options.output = path.replace(/\.tmj$/i, '.inc');
  return options;
}

// Every map of the project converted: its include by the path the sources
// include it as, and its problems. `decode` turns PNG bytes into
// { width, height, rgba }.
export async function convertMaps(tools, files, decode) {
  const rules = parseRules(typeof files[RULES_FILE] === 'string' ? files[RULES_FILE] : '');
  const outputs = new Map();
  const problems = [];
  for (const [path, contents] of Object.entries(files)) {
    if (!isMap(path) || typeof contents !== 'string') continue;
    const options = mapOptionsOf(path, rules.get(path) || []);
    for (const problem of options.problems) problems.push({ file: RULES_FILE, message: `${path}: ${problem}` });
    if (options.problems.length) continue;
    let doc;
    try {
      doc = plainLayers(JSON.parse(contents));
    } catch (error) {
      problems.push({ file: path, message: `not a Tiled map (${error.message})` });
      continue;
    }
    // The tilesets and pictures it may name, by the paths the converter
    // asks for (joined to the folder of the file that names them).
    const texts = new Map();
    const images = new Map();
    const addImage = async (asked) => {
      const bytes = files[normalPath(asked)];
      if (bytes instanceof Uint8Array) images.set(asked, await decode(bytes).catch(() => null));
      if (images.get(asked) === null) images.delete(asked);
    };
    for (const set of doc.tilesets || []) {
      if (set.source) {
        const asked = folderOf(path) + set.source;
        const text = files[normalPath(asked)];
        if (typeof text !== 'string') continue;
        texts.set(asked, text);
        try {
          const image = JSON.parse(text).image;
          if (image) await addImage(folderOf(asked) + image);
        } catch {
          // the converter names what is wrong with it
        }
      } else if (set.image) {
        await addImage(folderOf(path) + set.image);
      }
    }
    let order = null;
    if (options.paletteFrom) {
      if (!(files[options.paletteFrom] instanceof Uint8Array)) {
        problems.push({ file: path, message: `--palette-from ${options.paletteFrom}: no such picture in the project` });
        continue;
      }
      order = await decode(files[options.paletteFrom]);
    }
    const result = tools.convertMap(path, JSON.stringify(doc), texts, images, options, order);
    if (result.ok) outputs.set(options.output, result.text);
    else for (const message of result.problems) problems.push({ file: path, message: message.replace(`${path}: `, '') });
  }
  return { outputs, problems };
}

// The maps as the build service converts them.
export const mapConverter = {
  name: 'maps',
  reads: (name) => isMap(name) || /\.(tsj|png)$/i.test(name) || name === RULES_FILE,
  convert: (tools, files) => convertMaps(tools, files, decodePng),
};
