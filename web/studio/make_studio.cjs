#!/usr/bin/env node
// Builds the studio page: its HTML with the bundled script, the tools'
// WebAssembly, the player page (which runs and exports the game) and the
// sample project inside it, so the one file works from the disk and from any
// web server and fetches nothing.
//   make_studio.cjs --page studio.html --script BUNDLE.js --worker WORKER.js --wasm studio.wasm
//                  --player lumacor.html --sample DIR --include lumacor.inc --reference reference.json
//                  --docs DIR --templates DIR -o OUT.html
// The help holds every include found beside lumacor.inc.
'use strict';
const fs = require('fs');
const path = require('path');
const { helpData } = require('./make_help.cjs');

const args = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) args[process.argv[i].replace(/^-+/, '')] = process.argv[i + 1];
for (const key of ['page', 'script', 'worker', 'wasm', 'player', 'sample', 'include', 'reference', 'docs', 'templates', 'o']) {
  if (!args[key]) {
    console.error(`make_studio.cjs: --${key} is missing`);
    process.exit(2);
  }
}

// A script is inlined as it is, so it must not be able to close its element.
function script(file) {
  const text = fs.readFileSync(file, 'utf8');
  if (/<\/script|<!--/i.test(text)) {
    console.error(`make_studio.cjs: ${file} holds "</script" or "<!--" and cannot be inlined`);
    process.exit(1);
  }
  return text;
}
// The sample project: the demo's sources and the hardware include. JSON with
// "<" escaped cannot close its element.
// Its pictures go in as base64, and the converter's options for them
// (lumacor_add_rom's ART list in the demo's CMakeLists.txt) as gfx.txt.
const sample = {};
for (const name of fs.readdirSync(args.sample).sort())
  if (/\.(asm|snd)$/.test(name)) sample[name] = fs.readFileSync(path.join(args.sample, name), 'utf8');
sample['lumacor.inc'] = fs.readFileSync(args.include, 'utf8');
const cmake = fs.readFileSync(path.join(args.sample, 'CMakeLists.txt'), 'utf8');
// One of lumacor_add_rom's lists, cut into a line for each file that
// `ending` matches (unless it is --palette-from's value) with the options after it.
function romList(keyword, ending) {
  const found = new RegExp(`\\b${keyword}\\s+([^)]*?)\\s*(?:\\b(?:ART|MAP|SOUND|LISTING|SYMBOLS|DEBUG_INFO|INCLUDE_DIRS|DEPENDS)\\b|\\))`)
    .exec(cmake);
  const words = found ? found[1].trim().split(/\s+/) : [];
  const lines = [];
  words.forEach((word, i) => {
    if (ending.test(word) && words[i - 1] !== '--palette-from') lines.push([word]);
    else lines.at(-1).push(word);
  });
  return lines;
}
const picture = (name) => ({ base64: fs.readFileSync(path.join(args.sample, name)).toString('base64') });

// The page reads Tiled's JSON maps only: a TMX map of the demo (CSV layers,
// a TSX tileset, as Tiled writes them) goes in as the same map in JSON, its
// tileset embedded.
function tmxAsTmj(file) {
  const attributes = (tag) => Object.fromEntries([...tag.matchAll(/([\w-]+)="([^"]*)"/g)].map(([, k, v]) => [k, v]));
  const first = (text, element) => attributes(new RegExp(`<${element}\\b[^>]*>`).exec(text)?.[0] ?? '');
  const xml = fs.readFileSync(path.join(args.sample, file), 'utf8');
  const stop = (why) => {
    console.error(`make_studio.cjs: ${file}: ${why}`);
    process.exit(1);
  };
  if (/<objectgroup|<group/.test(xml)) stop('object layers and groups are not carried into the sample');
  const map = first(xml, 'map');
  const images = [];
  const tilesets = [...xml.matchAll(/<tileset\b[^>]*>/g)].map(([tag]) => {
    const { firstgid, source } = attributes(tag);
    if (!source) stop('only tilesets in their own .tsx file are carried into the sample');
    const tsx = fs.readFileSync(path.join(args.sample, path.dirname(file), source), 'utf8');
    const set = first(tsx, 'tileset');
    const image = first(tsx, 'image');
    const from = path.posix.join(path.posix.dirname(source), image.source);
    images.push(path.posix.join(path.posix.dirname(file), from));
    return { columns: +set.columns, firstgid: +firstgid, image: from, imageheight: +image.height, imagewidth: +image.width,
      margin: +(set.margin || 0), name: set.name, spacing: +(set.spacing || 0), tilecount: +set.tilecount,
      tileheight: +set.tileheight, tilewidth: +set.tilewidth };
  });
  const layers = [...xml.matchAll(/<layer\b([^>]*)>\s*<data encoding="csv">([^<]*)<\/data>/g)].map(([, tag, csv]) => {
    const layer = attributes(tag);
    return { data: csv.trim().split(/\s*,\s*/).map(Number), height: +layer.height, id: +layer.id, name: layer.name,
      opacity: 1, type: 'tilelayer', visible: true, width: +layer.width, x: 0, y: 0 };
  });
  if (layers.length !== (xml.match(/<layer\b/g) || []).length) stop('only CSV layers are carried into the sample');
  const doc = { compressionlevel: -1, height: +map.height, infinite: false, layers, nextlayerid: +map.nextlayerid,
    nextobjectid: +map.nextobjectid, orientation: map.orientation, renderorder: map.renderorder,
    tiledversion: map.tiledversion, tileheight: +map.tileheight, tilesets, tilewidth: +map.tilewidth, type: 'map',
    version: map.version, width: +map.width };
  return { text: `${JSON.stringify(doc, null, 1)}\n`, images };
}

// The sounds' options (lumacor_add_rom's SOUND list) as sound.txt; the page
// converts the sounds and has the driver, as the desktop build does.
const soundLines = romList('SOUND', /\.snd$/);
if (soundLines.length) {
  sample['sound.txt'] = '# How each sound is converted when the game is built: the sound, then\n' +
    '# the lumacor-sound options (--name PREFIX). Its include is its path with .inc.\n' +
    soundLines.map((line) => `${line.join(' ')}\n`).join('');
}
const rules = [];
for (const line of romList('ART', /\.png$/)) {
  rules.push(line);
  sample[line[0]] = picture(line[0]);
}
for (const [file, ...options] of romList('MAP', /\.tm[xj]$/)) {
  const name = file.replace(/\.tmx$/, '.tmj');
  if (file.endsWith('.tmx')) {
    const { text, images } = tmxAsTmj(file);
    sample[name] = text;
    for (const image of images) sample[image] = picture(image);
  } else {
    sample[name] = fs.readFileSync(path.join(args.sample, file), 'utf8');
  }
  rules.push([name, ...options]);
}
if (rules.length) {
  sample['gfx.txt'] = '# How each picture and map is converted when the game is built: the file,\n' +
    '# then the options of lumacor-gfx or lumacor-map. Its include is its path with .inc.\n' +
    rules.map((line) => `${line.join(' ')}\n`).join('');
}
// The includes beside lumacor.inc that the sources name (map.inc); the
// sound driver comes with the build, as sound.inc.
for (const source of Object.values(sample).filter((v) => typeof v === 'string')) {
  for (const [, name] of source.matchAll(/^\s*\.include\s+"([^"/]+)"/gm)) {
    const include = path.join(path.dirname(args.include), name);
    if (name !== 'lumacor.inc' && name !== 'sound.inc' && fs.existsSync(include)) sample[name] = fs.readFileSync(include, 'utf8');
  }
}

// New projects start from a template: a source whose first line is
// "; Title: what it shows", with the files of the folder of its name beside
// it (a map and its tileset, say; pictures as base64) and the includes it
// names from beside lumacor.inc.
function templateFiles(file, source) {
  const files = {};
  const folder = path.join(args.templates, file.replace(/\.asm$/, ''));
  if (fs.existsSync(folder)) {
    for (const name of fs.readdirSync(folder).sort()) {
      const bytes = fs.readFileSync(path.join(folder, name));
      files[name] = name.endsWith('.png') ? { base64: bytes.toString('base64') } : bytes.toString('utf8');
    }
  }
  for (const [, name] of source.matchAll(/^\s*\.include\s+"([^"/]+)"/gm)) {
    const include = path.join(path.dirname(args.include), name);
    if (name !== 'lumacor.inc' && name !== 'sound.inc' && fs.existsSync(include)) files[name] = fs.readFileSync(include, 'utf8');
  }
  return files;
}
const templates = fs.readdirSync(args.templates).filter((f) => f.endsWith('.asm')).sort().map((file) => {
  const source = fs.readFileSync(path.join(args.templates, file), 'utf8');
  const head = /^;\s*([^:\n]+):\s*(.*)$/m.exec(source.split('\n')[0]);
  if (!head) {
    console.error(`make_studio.cjs: ${file} must begin with "; Title: what it shows"`);
    process.exit(1);
  }
  return { title: head[1].trim(), description: head[2].trim(), source, files: templateFiles(file, source) };
});
// Blank comes first, the others by title.
templates.sort((a, b) => (b.title === 'Blank') - (a.title === 'Blank') || a.title.localeCompare(b.title));
const help = helpData({ reference: args.reference, includes: path.dirname(args.include), docs: args.docs });
// JSON inside a script element: only "</" and "<!--" could end it early.
const json = (value) => JSON.stringify(value).replace(/<\//g, '<\\/').replace(/<!--/g, '\\u003c!--');

const parts = {
  '@SCRIPT@': script(args.script),
  '@WORKER@': script(args.worker),
  '@WASM@': fs.readFileSync(args.wasm).toString('base64'),
  // As text: the player already holds its module as base64, and base64 again would add a third.
  '@PLAYER@': json(fs.readFileSync(args.player, 'utf8')),
  '@SAMPLE@': json(sample),
  '@HELP@': json(help),
  '@TEMPLATES@': json(templates),
};
let page = fs.readFileSync(args.page, 'utf8');
for (const [marker, text] of Object.entries(parts)) {
  if (page.split(marker).length !== 2) {
    console.error(`make_studio.cjs: ${args.page} must hold ${marker} once`);
    process.exit(1);
  }
  page = page.replace(marker, () => text);
}
fs.writeFileSync(args.o, page);
