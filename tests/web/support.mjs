// What the browser tests share: headless Chromium or Firefox with a fresh profile, the
// build trees, the page's module in node, and the desktop runner with its PNG
// pictures read back.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

function folder(variable) {
  if (!process.env[variable]) throw new Error(`${variable} is not set: run the browser tests through ctest in build-web`);
  return process.env[variable];
}
export const webBuild = folder('LUMACOR_WEB_BUILD');
export const desktopBuild = folder('LUMACOR_DESKTOP_BUILD');
export const echoRom = path.join(folder('LUMACOR_TEST_ROMS'), 'echo.rom');
export const tourRom = path.join(folder('LUMACOR_TEST_ROMS'), 'tour.rom');
export const romPath = (name) => path.join(desktopBuild, 'roms', name);
export const temporaryFolder = () => fs.mkdtempSync(path.join(os.tmpdir(), 'lumacor-web-'));
export const fileUrl = (file, query = '') => pathToFileURL(file).href + query;

export async function launchBrowser(firefox = false, args = []) {
  const profile = temporaryFolder();
  const browser = await puppeteer.launch(firefox
    ? { browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true, userDataDir: profile }
    : { executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`, ...args] });
  // The browser may still be writing its profile as it closes.
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

// A file dropped onto the page at (x, y) as a person drops it: the
// browser's own drag and drop, not a made-up event.
export async function dropFile(page, file, x = 100, y = 200) {
  const session = await page.createCDPSession();
  const data = { items: [], files: [file], dragOperationsMask: 1 };
  for (const type of ['dragEnter', 'dragOver', 'drop']) await session.send('Input.dispatchDragEvent', { type, x, y, data });
  await session.detach();
}

// A plain web server on 127.0.0.1 for the files of `folders` (a map of URL
// prefix to folder, the first that matches serves); each request's path is
// kept in server.requests.
export async function serve(folders) {
  const server = http.createServer((request, response) => {
    const { pathname } = new URL(request.url, 'http://x');
    server.requests.push(pathname);
    const [prefix, folder] = Object.entries(folders).find(([start]) => pathname.startsWith(start)) || [];
    const file = folder && path.join(folder, decodeURIComponent(pathname.slice(prefix.length)));
    if (!file || !fs.existsSync(file) || !fs.statSync(file).isFile()) return response.writeHead(404).end('not found');
    response.writeHead(200, { 'Content-Type': file.endsWith('.html') ? 'text/html' : 'application/octet-stream' });
    return response.end(fs.readFileSync(file));
  });
  server.requests = [];
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  server.port = server.address().port;
  return server;
}

// Downloads of the browser (or of one of its contexts) saved into `folder`.
// take(name, start) does `start` (a click) and gives the bytes of the file it
// downloads, named `name`, once Chromium reports the download finished: the
// file is there under its name before its last bytes are.
export async function saveDownloads(browser, folder, browserContextId = undefined) {
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder, browserContextId, eventsEnabled: true });
  const take = async (name, start) => {
    const finished = new Promise((resolve) => {
      let guid = null;
      const began = (event) => { guid ??= event.guid; };
      const progressed = (event) => {
        if (event.guid !== guid || event.state === 'inProgress') return;
        session.off('Browser.downloadWillBegin', began);
        session.off('Browser.downloadProgress', progressed);
        resolve(event.state);
      };
      session.on('Browser.downloadWillBegin', began);
      session.on('Browser.downloadProgress', progressed);
    });
    await start();
    const state = await finished;
    if (state !== 'completed') throw new Error(`the download of ${name} ended ${state}`);
    return fs.readFileSync(path.join(folder, name));
  };
  return { take, detach: () => session.detach() };
}

export const message = (page) => page.$eval('#message', (m) => ({ text: m.textContent, error: m.classList.contains('error') }));

// The page's module in node, for the glue's arithmetic on a clock the test
// sets. load() tells whether the image loaded.
export async function loadModule() {
  const compiled = await WebAssembly.compile(fs.readFileSync(path.join(webBuild, 'lumacor.wasm')));
  const given = { wasi_snapshot_preview1: {}, env: {} };
  for (const { module, name } of WebAssembly.Module.imports(compiled)) given[module][name] = () => 52;
  const wasm = (await WebAssembly.instantiate(compiled, given)).exports;
  wasm._initialize();
  wasm.web_init();
  const load = (image, nowMs) => {
    new Uint8Array(wasm.memory.buffer, wasm.web_image_buffer(image.length), image.length).set(image);
    return wasm.web_load(image.length, nowMs) === 1;
  };
  return { wasm, load };
}

// lumacor-run on a copy of the ROM (its save file lands beside the copy):
// the machine's diagnostic lines, the last picture as a PNG and the save RAM.
export function runDesktop(rom, frames, presses = []) {
  const dir = temporaryFolder();
  const copy = path.join(dir, 'game.rom');
  fs.copyFileSync(rom, copy);
  const png = path.join(dir, 'frame.png');
  const args = [copy, '--frames', String(frames), '--screenshot', png, ...presses.flatMap((p) => ['--press', p])];
  const run = spawnSync(path.join(desktopBuild, 'tools/run/lumacor-run'), args, { encoding: 'utf8' });
  const result = { lines: machineLines(run.stdout), png: fs.readFileSync(png), save: fs.readFileSync(`${copy}.sav`) };
  fs.rmSync(dir, { recursive: true, force: true });
  return result;
}

export const machineLines = (text) => text.split('\n').filter((line) => /^(out\[|in\[|Bank switched)/.test(line));

// A PNG's texels as RGBA bytes, decoded by the page without colour management.
export const decodePng = (page, png) => page.evaluate(async (data) => {
  const blob = await (await fetch(`data:image/png;base64,${data}`)).blob();
  const bitmap = await createImageBitmap(blob, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
  canvas.drawImage(bitmap, 0, 0);
  return Array.from(canvas.getImageData(0, 0, bitmap.width, bitmap.height).data);
}, png.toString('base64'));

// Where two RGBA pictures first differ, for a readable failure.
export function firstDifference(a, b) {
  const i = a.findIndex((value, k) => value !== b[k]);
  if (i < 0) return a.length === b.length ? null : `sizes differ: ${a.length} != ${b.length}`;
  return `texel (${(i >> 2) % 256}, ${i >> 10}) differs: ${a[i]} != ${b[i]}`;
}
