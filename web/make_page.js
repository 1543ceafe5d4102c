#!/usr/bin/env node
// Builds the player page: the page's HTML with the player's scripts, the
// sound worklet and the machine's WebAssembly (base64) inside it, so the one file
// works from a web server and from the disk alike.
//   make_page.js WEB_SOURCE_DIR MODULE.wasm -o OUT.html
// Also puts a built page inside the exporter, so it needs no file beside it:
//   make_page.js --exporter EXPORT.js PAGE.html -o OUT [VERSION]
// VERSION ("0.1 (commit 1a2b3c4)") is what the exporter's --version prints.
'use strict';
const fs = require('fs');
const path = require('path');

if (process.argv[2] === '--exporter') {
  const [, script, pagePath, , exporter, version] = process.argv.slice(2);
  const text = fs.readFileSync(script, 'utf8');
  if (text.split('/*@PAGE@*/null').length !== 2) {
    console.error('make_page.js: the exporter must hold /*@PAGE@*/null once');
    process.exit(1);
  }
  const built = text.replace('/*@PAGE@*/null', () => JSON.stringify(fs.readFileSync(pagePath, 'utf8')))
    .replace('/*@VERSION@*/null', () => JSON.stringify(version || null));
  fs.writeFileSync(exporter, built, { mode: 0o755 });
  fs.chmodSync(exporter, 0o755);
  process.exit(0);
}

const [source, wasmPath, flag, out] = process.argv.slice(2);
if (!source || !wasmPath || flag !== '-o' || !out) {
  console.error('usage: make_page.js WEB_SOURCE_DIR MODULE.wasm -o OUT.html');
  process.exit(2);
}

// A script is inlined as it is, so it must not be able to close its element.
function inline(file) {
  const text = fs.readFileSync(path.join(source, file), 'utf8');
  if (/<\/script|<!--/i.test(text)) {
    console.error(`make_page.js: ${file} holds "</script" or "<!--" and cannot be inlined`);
    process.exit(1);
  }
  return text;
}

const parts = {
  '@WASM@': fs.readFileSync(wasmPath).toString('base64'),
  '@SOUND@': inline('sound.js'),
  '@PLAYER@': inline('player.js'),
  '@CONTROLS@': inline('controls.js'),
};
let page = fs.readFileSync(path.join(source, 'player.html'), 'utf8');
for (const [marker, text] of Object.entries(parts)) {
  if (page.split(marker).length !== 2) {
    console.error(`make_page.js: player.html must hold ${marker} once`);
    process.exit(1);
  }
  page = page.replace(marker, () => text);
}
fs.writeFileSync(out, page);
