#!/usr/bin/env node
// lumacor-export: writes one HTML file that plays a cartridge: the player
// page (which already holds the machine) with the ROM image inside it as
// base64. The file needs nothing else: it opens from the disk or from any
// web server.
//   lumacor-export GAME.rom [-o GAME.html]     (see --help)
// The build puts the player page inside this script, so the script alone
// works from any folder; run from the sources it takes lumacor.html from
// beside itself. The image is checked by the machine itself (the module in
// the page) before anything is written, so a file the page would refuse is
// refused here.
'use strict';
const fs = require('fs');
const path = require('path');

const BUILT_PAGE = /*@PAGE@*/null;
// "0.1 (commit 1a2b3c4)", from the build; the sources alone have none.
const BUILT_VERSION = /*@VERSION@*/null;

// The same manners as the other lumacor programs (their --help is written by
// one command-line module): usage, options, an example, the exit statuses.
const USAGE = 'Usage: lumacor-export [OPTIONS] ROM';
const HELP = `Writes one HTML file that plays a cartridge: the player page with the ROM image inside it. The file needs nothing else: it opens from the disk or from any web server.
${USAGE}

Positionals:
  ROM TEXT REQUIRED           the ROM image to export

Options:
  -h,--help                   print this help and exit
  --version                   print the version and the commit and exit
  -o,--output FILE            the page to write (default: the ROM's name with .html)


Example:
  lumacor-export game.rom -o game.html

Exit status:
  0  the page was written
  1  the ROM could not be read or the machine refuses it, or the page could not be written
  2  wrong usage, or the page would replace the ROM
`;

const ROM_SLOT = '<script type="application/octet-stream" id="lumacor-rom" data-name=""></script>';

function fail(message, status = 1) {
  console.error(`lumacor-export: ${message}`);
  process.exit(status);
}

function usageError(message) {
  console.error(`lumacor-export: ${message}\n${USAGE}\nRun 'lumacor-export --help' for more.`);
  process.exit(2);
}

function parseArguments(args) {
  let rom = null;
  let out = null;
  for (let i = 0; i < args.length; i++) {
    if (args[i] === '-o' || args[i] === '--output') {
      if (i + 1 >= args.length) usageError(`${args[i]}: 1 required FILE missing`);
      out = args[++i];
    } else if (args[i] === '-h' || args[i] === '--help') {
      process.stdout.write(HELP);
      process.exit(0);
    } else if (args[i] === '--version') {
      console.log(`lumacor-export ${BUILT_VERSION || 'unknown (commit unknown)'}`);
      process.exit(0);
    } else if (args[i].startsWith('-') && args[i] !== '-') {
      usageError(`unknown option ${args[i]}`);
    } else if (rom === null) {
      rom = args[i];
    } else {
      usageError(`unexpected argument ${args[i]}`);
    }
  }
  if (rom === null) usageError('ROM is required');
  return { rom, out: out || rom.replace(/(\.[^./\\]*)?$/, '.html') };
}

function playerPage() {
  if (BUILT_PAGE !== null) return BUILT_PAGE;
  const beside = path.join(__dirname, 'lumacor.html');
  try {
    return fs.readFileSync(beside, 'utf8');
  } catch {
    return fail(`needs the player page ${beside}: copy lumacor.html beside it, or use the lumacor-export the web build makes`);
  }
}

// Whether two paths name one file, through links, other spellings and hard
// links alike.
function sameFile(a, b) {
  try {
    const [first, second] = [fs.statSync(a), fs.statSync(b)];
    return first.dev === second.dev && first.ino === second.ino;
  } catch {
    return false;
  }
}

// Loads the image into the machine as the page will; returns the reason the
// machine refuses it, or null.
async function refusal(image, page) {
  const wasm64 = /<script type="application\/octet-stream" id="lumacor-wasm">([A-Za-z0-9+/=]+)<\/script>/.exec(page);
  if (!wasm64) return fail('the player page holds no machine');
  const compiled = await WebAssembly.compile(Buffer.from(wasm64[1], 'base64'));
  // The machine prints nothing here and makes no other system call.
  const given = {};
  for (const { module: space, name, kind } of WebAssembly.Module.imports(compiled)) {
    given[space] = given[space] || {};
    if (kind === 'function') given[space][name] = () => 52; // ENOSYS
  }
  const instance = await WebAssembly.instantiate(compiled, given);
  const wasm = instance.exports;
  wasm._initialize();
  if (!wasm.web_init()) return 'the machine could not be built';
  const text = (pointer) => {
    const memory = new Uint8Array(wasm.memory.buffer);
    let end = pointer;
    while (memory[end]) end++;
    return Buffer.from(memory.subarray(pointer, end)).toString('utf8');
  };
  const pointer = wasm.web_image_buffer(image.length);
  if (!pointer) return text(wasm.web_message());
  new Uint8Array(wasm.memory.buffer, pointer, image.length).set(image);
  return wasm.web_load(image.length, 0) ? null : text(wasm.web_message());
}

const escapeAttribute = (text) =>
  text.replace(/&/g, '&amp;').replace(/"/g, '&quot;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

async function main() {
  const { rom, out } = parseArguments(process.argv.slice(2));
  if (sameFile(rom, out)) fail(`${out} is the ROM itself: name another file for the page`, 2);
  const page = playerPage();
  let image;
  try {
    image = fs.readFileSync(rom);
  } catch (error) {
    fail(`cannot read ${rom}: ${error.message}`);
  }
  const problem = await refusal(image, page);
  if (problem) fail(`${rom}: ${problem}`);
  if (page.split(ROM_SLOT).length !== 2) fail('the player page has no place for the ROM');
  const name = escapeAttribute(path.basename(rom));
  const filled = `<script type="application/octet-stream" id="lumacor-rom" data-name="${name}">${image.toString('base64')}</script>`;
  try {
    fs.writeFileSync(out, page.replace(ROM_SLOT, () => filled));
  } catch (error) {
    fail(`cannot write ${out}: ${error.message}`);
  }
}

main().catch((error) => fail(error.message));
