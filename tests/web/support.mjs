// What the browser tests share: headless Chromium with a fresh profile, the
// build trees, the page's module in node, and the desktop runner with its PNG
// pictures read back.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

function folder(variable) {
  if (!process.env[variable]) throw new Error(`${variable} is not set: run the browser tests through ctest in build-web`);
  return process.env[variable];
}
export const webBuild = folder('LUMACOR_WEB_BUILD');
export const desktopBuild = folder('LUMACOR_DESKTOP_BUILD');
export const echoRom = path.join(folder('LUMACOR_TEST_ROMS'), 'echo.rom');
export const romPath = (name) => path.join(desktopBuild, 'roms', name);
export const temporaryFolder = () => fs.mkdtempSync(path.join(os.tmpdir(), 'lumacor-web-'));
export const fileUrl = (file, query = '') => pathToFileURL(file).href + query;

export async function launchBrowser() {
  const profile = temporaryFolder();
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
  // Chromium may still be writing its profile as it closes.
  browser.shut = async () => {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
  };
  return browser;
}

// A page whose uncaught exceptions are kept in page.pageErrors; `prepare`
// runs before the page's own scripts.
export async function openPage(browser, url, prepare = null) {
  const page = await browser.newPage();
  page.pageErrors = [];
  page.on('pageerror', (error) => page.pageErrors.push(error.message));
  if (prepare) await page.evaluateOnNewDocument(prepare);
  await page.goto(url);
  await page.evaluate(() => window.lumacor.ready);
  return page;
}

export async function openRom(page, file, name = path.basename(file)) {
  await (await page.$('#file')).uploadFile(file);
  await page.waitForFunction((n) => window.lumacor.cartridge === n, {}, name);
}

export const message = (page) => page.$eval('#message', (m) => ({ text: m.textContent, error: m.classList.contains('error') }));

// The page's module in node, with a clock the test sets. load() gives null
// when the image loads, else the page's reason.
export async function loadModule() {
  const compiled = await WebAssembly.compile(fs.readFileSync(path.join(webBuild, 'lumacor.wasm')));
  const given = { wasi_snapshot_preview1: {}, env: {} };
  for (const { module, name } of WebAssembly.Module.imports(compiled)) given[module][name] = () => 52;
  const wasm = (await WebAssembly.instantiate(compiled, given)).exports;
  wasm._initialize();
  wasm.web_init();
  const text = (at) => {
    const heap = new Uint8Array(wasm.memory.buffer, at);
    return Buffer.from(heap.subarray(0, heap.indexOf(0))).toString('utf8');
  };
  const load = (image, nowMs = 0) => {
    const at = wasm.web_image_buffer(image.length);
    if (at) new Uint8Array(wasm.memory.buffer, at, image.length).set(image);
    return at && wasm.web_load(image.length, nowMs) ? null : text(wasm.web_message());
  };
  return { wasm, load };
}

// lumacor-run on a copy of the ROM (its save file lands beside the copy):
// the machine's diagnostic lines, the last picture as RGB and the save RAM.
export function runDesktop(rom, frames, presses = []) {
  const dir = temporaryFolder();
  const copy = path.join(dir, 'game.rom');
  fs.copyFileSync(rom, copy);
  const args = [copy, '--frames', String(frames), '--screenshot', path.join(dir, 'frame.png')];
  const run = spawnSync(path.join(desktopBuild, 'tools/run/lumacor-run'), args.concat(presses.flatMap((p) => ['--press', p])),
    { encoding: 'utf8' });
  const result = { lines: machineLines(run.stdout), rgb: readPng(path.join(dir, 'frame.png')), save: fs.readFileSync(`${copy}.sav`) };
  fs.rmSync(dir, { recursive: true, force: true });
  return result;
}

export const machineLines = (text) => text.split('\n').filter((line) => /^(out\[|in\[|Bank switched)/.test(line));

// The runner's PNG: 8-bit RGB, not interlaced; returns its RGB bytes.
function readPng(file) {
  const data = fs.readFileSync(file);
  const width = data.readUInt32BE(16);
  if (data[24] !== 8 || data[25] !== 2 || data[28] !== 0) throw new Error(`${file}: not an 8-bit RGB PNG`);
  const chunks = [];
  for (let at = 8; at < data.length; at += 12 + data.readUInt32BE(at)) {
    if (data.toString('latin1', at + 4, at + 8) === 'IDAT') chunks.push(data.subarray(at + 8, at + 8 + data.readUInt32BE(at)));
  }
  const raw = zlib.inflateSync(Buffer.concat(chunks));
  const stride = width * 3;
  const out = Buffer.alloc((raw.length / (stride + 1)) * stride);
  for (let y = 0, i = 0; i < out.length; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++, i++) {
      const a = x >= 3 ? out[i - 3] : 0;
      const b = y > 0 ? out[i - stride] : 0;
      const c = x >= 3 && y > 0 ? out[i - stride - 3] : 0;
      const p = a + b - c;
      const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c) ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
      out[i] = (raw[y * (stride + 1) + 1 + x] + [0, a, b, (a + b) >> 1, paeth][filter]) & 0xFF;
    }
  }
  return out;
}

export const rgbOf = (rgba) => Buffer.from(rgba.filter((_, i) => i % 4 !== 3));

// Where two pictures first differ, for a readable failure.
export function firstDifference(a, b) {
  const i = a.findIndex((value, k) => value !== b[k]);
  if (i < 0) return a.length === b.length ? null : `sizes differ: ${a.length} != ${b.length}`;
  return `texel (${Math.floor(i / 3) % 256}, ${Math.floor(i / 768)}) differs: ${a[i]} != ${b[i]}`;
}
