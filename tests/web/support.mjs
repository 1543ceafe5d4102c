// What the browser tests share: headless Chromium with a fresh profile, the
// build trees, and the desktop runner with its PNG pictures read back.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

function folder(variable) {
  const value = process.env[variable];
  if (!value) throw new Error(`${variable} is not set: run the browser tests through ctest in build-web`);
  return value;
}

export const webBuild = folder('LUMACOR_WEB_BUILD');
export const desktopBuild = folder('LUMACOR_DESKTOP_BUILD');
export const testRoms = folder('LUMACOR_TEST_ROMS');
export const runner = path.join(desktopBuild, 'tools/run/lumacor-run');
export const romPath = (name) => path.join(desktopBuild, 'roms', name);

export function temporaryFolder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'lumacor-web-'));
}

export const fileUrl = (file, query = '') => pathToFileURL(file).href + query;

export async function launchBrowser() {
  const profile = temporaryFolder();
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
  return {
    browser,
    async close() {
      await browser.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A page with its errors collected: an uncaught exception in the page fails
// the test that opened it.
export async function openPage(browser, url) {
  const page = await browser.newPage();
  page.pageErrors = [];
  page.on('pageerror', (error) => page.pageErrors.push(error.message));
  await page.goto(url);
  await page.evaluate(() => window.lumacor.ready);
  return page;
}

export const message = (page) => page.$eval('#message', (m) => ({ text: m.textContent, error: m.classList.contains('error') }));

// lumacor-run on a copy of the ROM (so its save file lands beside the copy):
// the last frame's picture as RGB bytes and the save RAM it wrote.
export function runDesktop(rom, frames, presses = []) {
  const dir = temporaryFolder();
  const copy = path.join(dir, path.basename(rom));
  fs.copyFileSync(rom, copy);
  const picture = path.join(dir, 'frame.png');
  const args = [copy, '--frames', String(frames), '--screenshot', picture];
  for (const press of presses) args.push('--press', press);
  try {
    execFileSync(runner, args, { stdio: 'pipe' });
  } catch (error) {
    // The exit status tells how the run ended; a stopped program is no fault.
    if (!fs.existsSync(picture)) throw error;
  }
  const result = { rgb: readPng(picture), save: fs.readFileSync(`${copy}.sav`) };
  fs.rmSync(dir, { recursive: true, force: true });
  return result;
}

// An 8-bit RGB or RGBA PNG without interlacing, as the runner writes it,
// read back as RGB bytes.
export function readPng(file) {
  const data = fs.readFileSync(file);
  let offset = 8;
  let width = 0;
  let height = 0;
  let channels = 0;
  const compressed = [];
  while (offset < data.length) {
    const length = data.readUInt32BE(offset);
    const type = data.toString('latin1', offset + 4, offset + 8);
    const body = data.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[12] !== 0) throw new Error(`${file}: not an 8-bit PNG without interlacing`);
      channels = { 2: 3, 6: 4 }[body[9]];
      if (!channels) throw new Error(`${file}: not an RGB or RGBA PNG`);
    } else if (type === 'IDAT') {
      compressed.push(body);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(compressed));
  const stride = width * channels;
  const pixels = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; x++) {
      const left = x >= channels ? pixels[y * stride + x - channels] : 0;
      const up = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const corner = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      let predicted = 0;
      if (filter === 1) predicted = left;
      else if (filter === 2) predicted = up;
      else if (filter === 3) predicted = (left + up) >> 1;
      else if (filter === 4) {
        const p = left + up - corner;
        const [pa, pb, pc] = [Math.abs(p - left), Math.abs(p - up), Math.abs(p - corner)];
        predicted = pa <= pb && pa <= pc ? left : pb <= pc ? up : corner;
      }
      pixels[y * stride + x] = (line[x] + predicted) & 0xFF;
    }
  }
  if (channels === 3) return pixels;
  const rgb = Buffer.alloc(width * height * 3);
  for (let i = 0, j = 0; i < pixels.length; i += 4, j += 3) pixels.copy(rgb, j, i, i + 3);
  return rgb;
}

export function rgbOf(rgba) {
  const rgb = Buffer.alloc((rgba.length / 4) * 3);
  for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
    rgb[j] = rgba[i];
    rgb[j + 1] = rgba[i + 1];
    rgb[j + 2] = rgba[i + 2];
  }
  return rgb;
}

// Where two pictures first differ, for a readable failure.
export function firstDifference(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) {
    if (a[i] !== b[i]) {
      const texel = Math.floor(i / 3);
      return `texel (${texel % 256}, ${Math.floor(texel / 256)}) differs: ${a[i]} != ${b[i]}`;
    }
  }
  return a.length === b.length ? null : `sizes differ: ${a.length} != ${b.length}`;
}

// The page's module in node, without a page: for the glue's arithmetic
// (pacing, sound per frame, which files are refused) with a clock the test
// sets.
export async function loadModule() {
  const compiled = await WebAssembly.compile(fs.readFileSync(path.join(webBuild, 'lumacor.wasm')));
  const given = {};
  for (const { module: space, name } of WebAssembly.Module.imports(compiled)) {
    given[space] = given[space] || {};
    given[space][name] = () => 52;
  }
  const wasm = (await WebAssembly.instantiate(compiled, given)).exports;
  wasm._initialize();
  if (!wasm.web_init()) throw new Error('web_init failed');
  const text = (pointer) => {
    const heap = new Uint8Array(wasm.memory.buffer);
    return Buffer.from(heap.subarray(pointer, heap.indexOf(0, pointer))).toString('utf8');
  };
  return {
    wasm,
    // Returns null when the image loads, else the page's reason.
    load(image, nowMs = 0) {
      const pointer = wasm.web_image_buffer(image.length);
      if (!pointer) return text(wasm.web_message());
      new Uint8Array(wasm.memory.buffer, pointer, image.length).set(image);
      return wasm.web_load(image.length, nowMs) ? null : text(wasm.web_message());
    },
  };
}
