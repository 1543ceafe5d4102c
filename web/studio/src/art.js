// The project's pictures: how each is converted when the game is built (the
// lumacor-gfx options in the project's gfx.txt, one picture a line), the
// conversion itself (the converter's core in the studio's module, plugged
// into the build service as `artConverter`), and the machine's rules that
// the art panel shows while one draws.
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

// A number as lumacor-gfx reads one (C's strtol with base 0): decimal, 0x
// hexadecimal, or octal after a leading 0.
export function tileNumber(text) {
  const match = /^([+-]?)(?:0x([0-9a-f]+)|(0[0-7]*)|([1-9][0-9]*))$/i.exec(text ?? '');
  if (!match) return NaN;
  const value = match[2] ? Number.parseInt(match[2], 16) : match[3] ? Number.parseInt(match[3], 8) : Number(match[4]);
  return match[1] === '-' ? -value : value;
}

// The options as lumacor-gfx reads them, with the same choice of reading.
export function optionsOf(picture, args) {
  const options = { parts: 0, vram: false, name: '', firstTile: 0, paletteFrom: null, quantize: false,
    forceSheet: false, forceScreen: false, problems: [] };
  // A missing value is said in lumacor-gfx's words, with its kind of value.
  const kinds = { '--name': 'TEXT', '--first-tile': 'N', '--palette-from': 'FILE' };
  const value = (option, i) => {
    if (i < args.length) return args[i];
    options.problems.push(`${option}: 1 required ${kinds[option]} missing`);
    return null;
  };
  for (let i = 0; i < args.length; i++) {
    const arg = args[i];
    if (arg === '--tiles') options.parts |= 1;
    else if (arg === '--map') options.parts |= 2;
    else if (arg === '--palette') options.parts |= 4;
    else if (arg === '--vram') options.vram = true;
    else if (arg === '--name') options.name = value(arg, ++i) ?? '';
    else if (arg === '--palette-from') options.paletteFrom = value(arg, ++i);
    else if (arg === '--quantize') options.quantize = true;
    else if (arg === '--sheet') options.forceSheet = true;
    else if (arg === '--screen-art') options.forceScreen = true;
    else if (arg === '--first-tile') {
      const text = value(arg, ++i);
      if (text === null) continue;
      options.firstTile = tileNumber(text);
      if (!(options.firstTile >= 0 && options.firstTile <= 255)) options.problems.push(`--first-tile: Value ${text} not in range 0 to 255`);
    } else options.problems.push(`unknown option ${arg}`);
  }
  if (!options.vram && !options.parts) options.parts = 1;
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
// (by the path they are included as), the problems found, and for each
// picture the converter's report and what the machine shows of it
// (`details`: name -> { report, shown }). `decode` turns PNG bytes into
// { width, height, rgba }.
export async function convertArt(tools, files, decode = decodePng) {
  const rules = parseRules(typeof files[RULES_FILE] === 'string' ? files[RULES_FILE] : '');
  const outputs = new Map();
  const problems = [];
  const details = new Map();
  for (const [name, contents] of Object.entries(files)) {
    if (!/\.png$/i.test(name) || typeof contents === 'string') continue;
    const options = optionsOf(name, rules.get(name) || []);
    const problem = (file, message) => {
      problems.push({ file, message });
      details.set(name, { report: `${details.get(name)?.report ?? ''}${file}: ${message}\n`, shown: null });
    };
    for (const message of options.problems) problem(RULES_FILE, `${name}: ${message}`);
    if (options.problems.length) continue;
    let order = null;
    try {
      const picture = await decode(contents);
      if (options.paletteFrom) {
        if (!(files[options.paletteFrom] instanceof Uint8Array)) {
          problem(name, `--palette-from ${options.paletteFrom}: no such picture in the project`);
          continue;
        }
        order = await decode(files[options.paletteFrom]);
      }
      const result = tools.convertPicture(picture, order, options, name.slice(name.lastIndexOf('/') + 1), name);
      if (result.ok) outputs.set(options.output, options.vram ? result.bytes : new TextDecoder().decode(result.bytes));
      else for (const message of result.problems) problems.push({ file: name, message });
      details.set(name, { report: result.report, shown: result.shown });
    } catch (error) {
      problem(name, `cannot be read as a PNG picture (${error.message})`);
    }
  }
  return { outputs, problems, details };
}

// The pictures as the build service converts them: every PNG, as gfx.txt says.
export const artConverter = {
  name: RULES_FILE,
  reads: (name) => name === RULES_FILE || /\.png$/i.test(name),
  convert: convertArt,
};

// ---- the machine's rules in a picture -------------------------------------------------

const hex = (r, g, b) => `#${[r, g, b].map((v) => v.toString(16).padStart(2, '0')).join('')}`;

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
