// The art panel: the tile and sprite editor, for the project's PNG pictures.
// It draws on a copy of the picture and writes it back to the store as PNG
// after every stroke.
import { RULES_FILE, coloursOf, crowdedCells, decodePng, encodePng, optionsOf, parseRules } from '../art.js';

const DEFAULT_COLOURS = ['#000000', '#ffffff', '#ff4040', '#40c040', '#4060ff', '#ffe040', '#40e0e0', '#e040e0',
  '#808080', '#c0c0c0', '#a04000', '#ff9040', '#004080', '#80ff80', '#8040c0', '#ffc0c0'];
const rgbOf = (text) => [1, 3, 5].map((i) => Number.parseInt(text.slice(i, i + 2), 16));
const UNDO_STEPS = 100;

class ArtEditor {
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
    this.undoSteps = [];      // { rgba, palette } before each change, the latest last
    this.redoSteps = [];
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
    if (name !== this.historyOf) {
      this.undoSteps = [];
      this.redoSteps = [];
      this.historyOf = name;
    }
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
    $('#art-undo').addEventListener('click', () => this.undo());
    $('#art-redo').addEventListener('click', () => this.redo());
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
      this.keepForUndo();
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
      if (index >= 0) button.textContent = index;
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
    this.keepForUndo();
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
    this.keepForUndo();
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
    this.keepForUndo();
    this.putCell(this.selected, this.clipboard);
    this.draw();
    this.changed();
  }

  changed() {
    this.onChange(this.name, this.picture, this.palette);
  }

  // The picture (and swatches) as they are, before a stroke, a tile's move or a colour's edit.
  keepForUndo() {
    this.undoSteps.push({ rgba: this.picture.rgba.slice(), palette: this.palette.slice() });
    if (this.undoSteps.length > UNDO_STEPS) this.undoSteps.shift();
    this.redoSteps = [];
  }

  undo() {
    this.step(this.undoSteps, this.redoSteps);
  }

  redo() {
    this.step(this.redoSteps, this.undoSteps);
  }

  step(from, to) {
    const back = from.pop();
    if (!back) return;
    to.push({ rgba: this.picture.rgba.slice(), palette: this.palette.slice() });
    this.picture.rgba = back.rgba;
    this.palette = back.palette;
    this.showPalette();
    this.draw();
    this.changed();
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


// The panel: pictures open here; each stroke is written back as PNG. A
// picture's palette is that of the picture its --palette-from names, else
// its own.
export function artPanel({ store, build, say }) {
  const element = document.getElementById('art');
  let openName = null;
  // Beside the picture: the converter's report on it and what the machine
  // shows of the converted data, as the latest conversion left them.
  const shownCanvas = element.querySelector('#art-shown');
  const report = element.querySelector('#art-report');
  function showDetails() {
    const detail = openName && build.details(openName);
    report.textContent = detail?.report ?? (openName ? 'Converting…' : '');
    report.classList.toggle('error', Boolean(detail && !detail.shown));
    const shown = detail?.shown;
    shownCanvas.width = shown?.width ?? 0;
    shownCanvas.height = shown?.height ?? 0;
    if (shown) shownCanvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(shown.rgba), shown.width, shown.height), 0, 0);
  }
  build.on('details', showDetails);
  const editor = new ArtEditor(element, {
    say,
    onChange: (name, picture, palette) => {
      const swatches = store.note('swatches') || {};
      if (swatches[name]?.join() !== palette.join()) store.setNote('swatches', { ...swatches, [name]: palette.slice() });
      store.writing(async () => {
        const bytes = await encodePng(picture);
        if (name in store.project.files) store.setFile(name, bytes, 'art');
      });
    },
  });
  // Ctrl+Z undoes and Ctrl+Y (or Ctrl+Shift+Z) redoes while a picture is shown.
  window.addEventListener('keydown', (event) => {
    if (element.hidden || !(event.ctrlKey || event.metaKey) || event.target.closest?.('input')) return;
    const key = event.key.toLowerCase();
    if (key !== 'z' && key !== 'y') return;
    event.preventDefault();
    if (key === 'y' || event.shiftKey) editor.redo();
    else editor.undo();
  });

  // Reads the picture and its palette before the panel shows; false if it cannot be read.
  let loaded = null;
  async function load(name) {
    const picture = await decodePng(store.file(name)).catch(() => null);
    if (!picture) {
      say(`${name} cannot be read as a PNG picture.`, true);
      return false;
    }
    const rules = parseRules(String(store.file(RULES_FILE) ?? ''));
    const options = optionsOf(name, rules.get(name) || []);
    // The machine's order where another picture gives it; else the swatches
    // as they were last time (so colour 5 stays 5), then the picture's own colours.
    let palette;
    if (options.paletteFrom && store.file(options.paletteFrom) instanceof Uint8Array)
      palette = coloursOf(await decodePng(store.file(options.paletteFrom)).catch(() => picture));
    else palette = [...new Set([...(store.note('swatches')?.[name] || []), ...coloursOf(picture)])];
    loaded = { name, picture, palette, screen: options.screen };
    return true;
  }

  function open(name) {
    if (loaded?.name !== name) return;
    openName = name;
    editor.open(name, loaded.picture, loaded.palette, loaded.screen);
    showDetails();
    build.converted();
  }

  store.on('file', (name, by) => {
    if (name === openName && by !== 'art' && store.file(name) instanceof Uint8Array) load(name).then((ok) => ok && open(name));
  });
  store.on('renamed', (from, to) => {
    if (openName !== from) return;
    openName = to;
    editor.name = to;
    showDetails();
  });
  store.on('project', () => { openName = null; });

  return {
    name: 'art',
    element,
    handles: (name, contents) => /\.png$/i.test(name) && contents instanceof Uint8Array,
    load,
    open,
    close: () => { openName = null; },
  };
}
