// The project's pictures: how each is converted when the game is built (the
// lumacor-gfx options in the project's gfx.txt, one picture a line), the
// conversion itself (the converter's core in the studio's module), and the
// tile and sprite editor that draws them.
const encoder = new TextEncoder();
export const RULES_FILE = 'gfx.txt';

// "art/title.png --map --tiles --name title" lines; '#' starts a comment.
// A picture without a line is converted as a sheet of tiles.
export function parseRules(text) {
  const rules = new Map();
  for (const line of (text || '').split('\n')) {
    const words = line.replace(/#.*/, '').trim().split(/\s+/).filter(Boolean);
    if (words.length) rules.set(words[0], words.slice(1));
  }
  return rules;
}

// The options as lumacor-gfx reads them, with the same choice of reading.
export function optionsOf(picture, args) {
  const options = { parts: 0, vram: false, name: '', firstTile: 0, paletteFrom: null, quantize: false,
    forceSheet: false, forceScreen: false, problems: [] };
  for (let i = 0; i < args.length; i++) {
    const arg = args[i];
    if (arg === '--tiles') options.parts |= 1;
    else if (arg === '--map') options.parts |= 2;
    else if (arg === '--palette') options.parts |= 4;
    else if (arg === '--vram') options.vram = true;
    else if (arg === '--name') options.name = args[++i] || '';
    else if (arg === '--first-tile') options.firstTile = Number(args[++i]);
    else if (arg === '--palette-from') options.paletteFrom = args[++i] || null;
    else if (arg === '--quantize') options.quantize = true;
    else if (arg === '--sheet') options.forceSheet = true;
    else if (arg === '--screen-art') options.forceScreen = true;
    else options.problems.push(`unknown option ${arg}`);
  }
  if (!options.vram && !options.parts) options.parts = 1;
  if (!(Number.isInteger(options.firstTile) && options.firstTile >= 0 && options.firstTile <= 255))
    options.problems.push('--first-tile: not a tile number (0-255)');
  if (options.vram && options.parts) options.problems.push('--vram writes a whole screen; --tiles, --map and --palette write include files instead');
  options.screen = options.forceScreen ||
    ((options.vram || (options.parts & 2) || !(options.parts & 5)) && !options.forceSheet);
  if (!options.name) {
    let name = picture.slice(picture.lastIndexOf('/') + 1);
    if (name.includes('.')) name = name.slice(0, name.indexOf('.'));
    name = name.replace(/[^A-Za-z0-9]/g, '_');
    if (!name || /^[0-9]/.test(name)) name = `art_${name}`;
    options.name = name;
  }
  options.output = picture.replace(/\.png$/i, options.vram ? '.vram' : '.inc');
  return options;
}

// ---- pictures in and out ------------------------------------------------------

const decoded = new WeakMap(); // PNG bytes -> { width, height, rgba }

export async function decodePng(bytes) {
  if (decoded.has(bytes)) return decoded.get(bytes);
  const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }),
    { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
  canvas.drawImage(bitmap, 0, 0);
  const picture = { width: bitmap.width, height: bitmap.height,
    rgba: new Uint8Array(canvas.getImageData(0, 0, bitmap.width, bitmap.height).data.buffer) };
  decoded.set(bytes, picture);
  return picture;
}

// A transparent pixel is stored as transparent black, so the browser's
// premultiplied canvas keeps every pixel's bytes as they are.
export async function encodePng(picture) {
  const canvas = new OffscreenCanvas(picture.width, picture.height);
  const rgba = new Uint8ClampedArray(picture.rgba);
  for (let i = 0; i < rgba.length; i += 4) if (rgba[i + 3] < 128) rgba.fill(0, i, i + 4);
  canvas.getContext('2d').putImageData(new ImageData(rgba, picture.width, picture.height), 0, 0);
  const bytes = new Uint8Array(await (await canvas.convertToBlob({ type: 'image/png' })).arrayBuffer());
  decoded.set(bytes, { width: picture.width, height: picture.height, rgba: new Uint8Array(rgba.buffer) });
  return bytes;
}

// Every picture of the project converted: the files the sources include
// (by the path they are included as), and the problems found.
export async function convertArt(tools, files) {
  const rules = parseRules(typeof files[RULES_FILE] === 'string' ? files[RULES_FILE] : '');
  const outputs = new Map();
  const problems = [];
  for (const [name, contents] of Object.entries(files)) {
    if (!/\.png$/i.test(name) || typeof contents === 'string') continue;
    const options = optionsOf(name, rules.get(name) || []);
    for (const problem of options.problems) problems.push({ file: RULES_FILE, message: `${name}: ${problem}` });
    if (options.problems.length) continue;
    let order = null;
    try {
      const picture = await decodePng(contents);
      if (options.paletteFrom) {
        if (!(files[options.paletteFrom] instanceof Uint8Array)) {
          problems.push({ file: name, message: `--palette-from ${options.paletteFrom}: no such picture in the project` });
          continue;
        }
        order = await decodePng(files[options.paletteFrom]);
      }
      const result = tools.convertPicture(picture, order, options, name.slice(name.lastIndexOf('/') + 1));
      if (result.ok) outputs.set(options.output, options.vram ? result.bytes : new TextDecoder().decode(result.bytes));
      else for (const message of result.problems) problems.push({ file: name, message });
    } catch (error) {
      problems.push({ file: name, message: `cannot be read as a PNG picture (${error.message})` });
    }
  }
  return { outputs, problems };
}

// ---- the editor -------------------------------------------------------------------

const DEFAULT_COLOURS = ['#000000', '#ffffff', '#ff4040', '#40c040', '#4060ff', '#ffe040', '#40e0e0', '#e040e0',
  '#808080', '#c0c0c0', '#a04000', '#ff9040', '#004080', '#80ff80', '#8040c0', '#ffc0c0'];
const hex = (r, g, b) => `#${[r, g, b].map((v) => v.toString(16).padStart(2, '0')).join('')}`;
const rgbOf = (text) => [1, 3, 5].map((i) => Number.parseInt(text.slice(i, i + 2), 16));

// The colours of a picture in order of first appearance, as the converter
// orders a palette.
export function coloursOf(picture) {
  const seen = [];
  for (let i = 0; i < picture.rgba.length; i += 4) {
    if (picture.rgba[i + 3] < 128) continue;
    const colour = hex(picture.rgba[i], picture.rgba[i + 1], picture.rgba[i + 2]);
    if (!seen.includes(colour)) seen.push(colour);
  }
  return seen;
}

// The cells that break the machine's rule of two colours a cell (on a
// screen black is free: it is an undrawn texel).
export function crowdedCells(picture, screen) {
  const crowded = [];
  for (let cy = 0; cy < Math.floor(picture.height / 8); cy++) {
    for (let cx = 0; cx < Math.floor(picture.width / 8); cx++) {
      const colours = new Set();
      for (let y = cy * 8; y < cy * 8 + 8; y++) {
        for (let x = cx * 8; x < cx * 8 + 8; x++) {
          const i = 4 * (y * picture.width + x);
          const [r, g, b, a] = picture.rgba.subarray(i, i + 4);
          if (a < 128 || (screen && r === 0 && g === 0 && b === 0)) continue;
          colours.add((r << 16) | (g << 8) | b);
        }
      }
      if (colours.size > 2) crowded.push({ x: cx, y: cy, colours: colours.size });
    }
  }
  return crowded;
}

export class ArtEditor {
  constructor(root, { onChange, say }) {
    this.root = root;
    this.onChange = onChange;
    this.say = say;
    this.canvas = root.querySelector('#art-canvas');
    this.paint = this.canvas.getContext('2d');
    this.zoom = 8;
    this.colour = 1;          // index in this.palette; -1 is transparent
    this.tool = 'draw';
    this.selected = null;     // { x, y } of the selected cell
    this.clipboard = null;
    this.picture = null;
    this.wire();
  }

  // picture: { width, height, rgba }; palette: colours to draw with;
  // screen: whether the picture is read as a screen.
  open(name, picture, palette, screen) {
    this.name = name;
    this.picture = { width: picture.width, height: picture.height, rgba: new Uint8Array(picture.rgba) };
    this.screen = screen;
    this.palette = palette.slice(0, 16);
    for (const colour of DEFAULT_COLOURS) if (this.palette.length < 16 && !this.palette.includes(colour)) this.palette.push(colour);
    this.selected = null;
    this.showPalette();
    this.draw();
  }

  wire() {
    const $ = (selector) => this.root.querySelector(selector);
    $('#art-zoom-in').addEventListener('click', () => { this.zoom = Math.min(32, this.zoom * 2); this.draw(); });
    $('#art-zoom-out').addEventListener('click', () => { this.zoom = Math.max(1, this.zoom / 2); this.draw(); });
    $('#art-draw').addEventListener('click', () => this.setTool('draw'));
    $('#art-select').addEventListener('click', () => this.setTool('select'));
    $('#art-flip-h').addEventListener('click', () => this.transform((x, y) => [7 - x, y]));
    $('#art-flip-v').addEventListener('click', () => this.transform((x, y) => [x, 7 - y]));
    $('#art-rotate').addEventListener('click', () => this.transform((x, y) => [y, 7 - x]));
    $('#art-copy').addEventListener('click', () => this.copy());
    $('#art-paste').addEventListener('click', () => this.paste());
    $('#art-colour-edit').addEventListener('change', (event) => this.editColour(event.target.value));
    let drawing = false;
    this.canvas.addEventListener('pointerdown', (event) => {
      const at = this.pixelAt(event);
      if (!at) return;
      if (this.tool === 'select') {
        this.selected = { x: Math.floor(at.x / 8), y: Math.floor(at.y / 8) };
        this.draw();
        return;
      }
      drawing = true;
      this.canvas.setPointerCapture(event.pointerId);
      this.last = at;
      this.plot(at, event.button === 2 ? -1 : this.colour);
    });
    this.canvas.addEventListener('pointermove', (event) => {
      const at = drawing && this.pixelAt(event);
      if (!at) return;
      // Every pixel between two pointer events, so a quick stroke has no gaps.
      const colour = event.buttons & 2 ? -1 : this.colour;
      const steps = Math.max(Math.abs(at.x - this.last.x), Math.abs(at.y - this.last.y));
      for (let i = 1; i <= steps; i++) {
        this.plot({ x: Math.round(this.last.x + ((at.x - this.last.x) * i) / steps),
          y: Math.round(this.last.y + ((at.y - this.last.y) * i) / steps) }, colour, false);
      }
      this.last = at;
      this.draw();
    });
    const finish = () => {
      if (!drawing) return;
      drawing = false;
      this.changed();
    };
    this.canvas.addEventListener('pointerup', finish);
    this.canvas.addEventListener('pointercancel', finish);
    this.canvas.addEventListener('contextmenu', (event) => event.preventDefault());
  }

  setTool(tool) {
    this.tool = tool;
    this.root.querySelector('#art-draw').classList.toggle('on', tool === 'draw');
    this.root.querySelector('#art-select').classList.toggle('on', tool === 'select');
  }

  pixelAt(event) {
    const box = this.canvas.getBoundingClientRect();
    const x = Math.floor((event.clientX - box.left) / this.zoom);
    const y = Math.floor((event.clientY - box.top) / this.zoom);
    return x >= 0 && y >= 0 && x < this.picture.width && y < this.picture.height ? { x, y } : null;
  }

  plot({ x, y }, colour, redraw = true) {
    const i = 4 * (y * this.picture.width + x);
    this.picture.rgba.set(colour < 0 ? [0, 0, 0, 0] : [...rgbOf(this.palette[colour]), 255], i);
    if (redraw) this.draw();
  }

  showPalette() {
    const box = this.root.querySelector('#art-palette');
    box.replaceChildren();
    const swatch = (index, colour, title) => {
      const button = document.createElement('button');
      button.className = 'swatch';
      button.title = title;
      button.dataset.index = index;
      button.style.background = colour;
      button.classList.toggle('on', index === this.colour);
      button.addEventListener('click', () => {
        this.colour = index;
        if (index >= 0) this.root.querySelector('#art-colour-edit').value = this.palette[index];
        this.showPalette();
      });
      box.append(button);
    };
    swatch(-1, 'repeating-conic-gradient(#555 0 25%, #888 0 50%) 0 0 / 8px 8px', 'transparent (undrawn)');
    this.palette.forEach((colour, index) => swatch(index, colour, `colour ${index}: ${colour}`));
  }

  // A palette colour changed: every pixel of the old colour takes the new one.
  editColour(value) {
    if (this.colour < 0) return;
    const [r, g, b] = rgbOf(this.palette[this.colour]);
    const rgba = this.picture.rgba;
    for (let i = 0; i < rgba.length; i += 4)
      if (rgba[i + 3] >= 128 && rgba[i] === r && rgba[i + 1] === g && rgba[i + 2] === b) rgba.set(rgbOf(value), i);
    this.palette[this.colour] = value;
    this.showPalette();
    this.draw();
    this.changed();
  }

  cellPixels(cell) {
    const pixels = [];
    for (let y = 0; y < 8; y++) {
      for (let x = 0; x < 8; x++) {
        const i = 4 * ((cell.y * 8 + y) * this.picture.width + cell.x * 8 + x);
        pixels.push(this.picture.rgba.slice(i, i + 4));
      }
    }
    return pixels;
  }

  putCell(cell, pixels) {
    for (let y = 0; y < 8; y++)
      for (let x = 0; x < 8; x++)
        this.picture.rgba.set(pixels[y * 8 + x], 4 * ((cell.y * 8 + y) * this.picture.width + cell.x * 8 + x));
  }

  // Moves the selected cell's pixels: `to` gives where (x, y) goes.
  transform(to) {
    if (!this.selected) return this.say('Select a tile first (Select, then click it).');
    const before = this.cellPixels(this.selected);
    const after = new Array(64);
    for (let y = 0; y < 8; y++) {
      for (let x = 0; x < 8; x++) {
        const [nx, ny] = to(x, y);
        after[ny * 8 + nx] = before[y * 8 + x];
      }
    }
    this.putCell(this.selected, after);
    this.draw();
    this.changed();
  }

  copy() {
    if (this.selected) this.clipboard = this.cellPixels(this.selected);
  }

  paste() {
    if (!this.selected || !this.clipboard) return;
    this.putCell(this.selected, this.clipboard);
    this.draw();
    this.changed();
  }

  changed() {
    this.onChange(this.name, this.picture);
  }

  draw() {
    const { width, height, rgba } = this.picture;
    const zoom = this.zoom;
    this.canvas.width = width * zoom;
    this.canvas.height = height * zoom;
    const paint = this.paint;
    paint.imageSmoothingEnabled = false;
    paint.fillStyle = '#3a3a44';
    paint.fillRect(0, 0, width * zoom, height * zoom);
    const image = new ImageData(new Uint8ClampedArray(rgba), width, height);
    const bitmap = new OffscreenCanvas(width, height);
    bitmap.getContext('2d').putImageData(image, 0, 0);
    paint.drawImage(bitmap, 0, 0, width * zoom, height * zoom);
    if (zoom >= 4) {
      paint.strokeStyle = 'rgba(255,255,255,0.15)';
      paint.beginPath();
      for (let x = 0; x <= width; x += 8) paint.moveTo(x * zoom + 0.5, 0), paint.lineTo(x * zoom + 0.5, height * zoom);
      for (let y = 0; y <= height; y += 8) paint.moveTo(0, y * zoom + 0.5), paint.lineTo(width * zoom, y * zoom + 0.5);
      paint.stroke();
    }
    // The machine's rule, shown where it is broken: a third colour in a cell.
    const crowded = crowdedCells(this.picture, this.screen);
    paint.lineWidth = 2;
    paint.strokeStyle = '#ff3030';
    for (const cell of crowded) paint.strokeRect(cell.x * 8 * zoom + 1, cell.y * 8 * zoom + 1, 8 * zoom - 2, 8 * zoom - 2);
    paint.lineWidth = 1;
    if (this.selected) {
      paint.strokeStyle = '#ffe040';
      paint.strokeRect(this.selected.x * 8 * zoom + 0.5, this.selected.y * 8 * zoom + 0.5, 8 * zoom - 1, 8 * zoom - 1);
    }
    const colours = coloursOf(this.picture).length;
    const notes = [];
    if (crowded.length) notes.push(`${crowded.length} cell(s) with more than two colours${this.screen ? ' besides black' : ''} (marked red)`);
    if (colours > 16) notes.push(`${colours} colours: the palette holds 16`);
    const status = this.root.querySelector('#art-status');
    status.textContent = `${this.name}: ${width} x ${height}, ${this.screen ? 'a screen' : 'a sheet of tiles'}, ` +
      `${colours} colour(s). ${notes.join('; ')}`;
    status.classList.toggle('error', notes.length > 0);
  }
}

export { encoder };
