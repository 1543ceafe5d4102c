#!/usr/bin/env node
// Builds the studio page: its HTML with the bundled script, the tools'
// WebAssembly, the player page (which runs and exports the game) and the
// sample project inside it, so the one file works from the disk and from any
// web server and fetches nothing.
//   make_studio.cjs --page studio.html --script BUNDLE.js --worker WORKER.js --wasm studio.wasm
//                  --player lumacor.html --sample DIR --include lumacor.inc -o OUT.html
//                  [--converted DIR --map-include map.inc]
'use strict';
const fs = require('fs');
const path = require('path');

const args = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) args[process.argv[i].replace(/^-+/, '')] = process.argv[i + 1];
for (const key of ['page', 'script', 'worker', 'wasm', 'player', 'sample', 'include', 'o']) {
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
  if (name.endsWith('.asm')) sample[name] = fs.readFileSync(path.join(args.sample, name), 'utf8');
sample['lumacor.inc'] = fs.readFileSync(args.include, 'utf8');
// The demo's map goes in as the include the desktop build converted it into,
// with the unpack routine beside lumacor.inc.
if (args.converted) {
  for (const name of fs.readdirSync(args.converted).sort())
    if (name.endsWith('.inc')) sample[name] = fs.readFileSync(path.join(args.converted, name), 'utf8');
}
if (args['map-include']) sample['map.inc'] = fs.readFileSync(args['map-include'], 'utf8');
const art = /\bART\s+([^)]*?)(?:\bMAP\b[^)]*)?\)/.exec(fs.readFileSync(path.join(args.sample, 'CMakeLists.txt'), 'utf8'));
if (art) {
  const words = art[1].trim().split(/\s+/);
  const lines = [];
  words.forEach((word, i) => {
    if (word.endsWith('.png') && words[i - 1] !== '--palette-from') lines.push([word]);
    else lines.at(-1).push(word);
  });
  sample['gfx.txt'] = '# How each picture is converted when the game is built: the picture, then\n' +
    '# the lumacor-gfx options. Its include is the picture\'s path with .inc.\n' +
    lines.map((line) => `${line.join(' ')}\n`).join('');
  for (const [picture] of lines) sample[picture] = { base64: fs.readFileSync(path.join(args.sample, picture)).toString('base64') };
}

const parts = {
  '@SCRIPT@': script(args.script),
  '@WORKER@': script(args.worker),
  '@WASM@': fs.readFileSync(args.wasm).toString('base64'),
  '@PLAYER@': fs.readFileSync(args.player).toString('base64'),
  '@SAMPLE@': JSON.stringify(sample).replace(/</g, '\\u003c'),
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
