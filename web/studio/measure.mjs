// The studio's figures for docs/studio.md, measured in headless Chromium:
// the page's size, the time the page takes to assemble the demo, how soon a
// fixed picture's problem leaves the list, and how the
// editor and the game share the page while one types and the other runs.
//   LUMACOR_WEB_BUILD=build-web node web/studio/measure.mjs
// (scripts/web.sh --measure runs it with the player's figures.)
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';

const webBuild = process.env.LUMACOR_WEB_BUILD;
if (!webBuild) throw new Error('LUMACOR_WEB_BUILD is not set');
const require = createRequire(path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../tests/web/package.json'));
const puppeteer = require('puppeteer-core');

const median = (list) => (list.length ? list.slice().sort((a, b) => a - b)[list.length >> 1] : 0);
const studio = path.join(webBuild, 'studio.html');
console.log(`studio.html: ${fs.statSync(studio).size} bytes`);

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'lumacor-studio-measure-'));
const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`] });
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 900 });
  await page.goto(pathToFileURL(studio).href);
  await page.evaluate(() => window.lumacorStudio.ready);

  // The build as Ctrl+Enter does it: every source, debug information included.
  const times = await page.evaluate(async () => {
    const runs = [];
    for (let i = 0; i < 21; i++) {
      const started = performance.now();
      const result = await window.lumacorStudio.build();
      runs.push(performance.now() - started);
      if (!result.ok) throw new Error('the demo does not build');
    }
    return runs.slice(1).sort((a, b) => a - b);
  });
  console.log(`assembling the demo: median ${times[10].toFixed(1)} ms, slowest ${times.at(-1).toFixed(1)} ms (20 builds)`);

  // A picture's problem cleared: from the fixed picture stored to the problem
  // list empty (the checking worker waits a quarter second after the last change).
  const clearing = [];
  for (let i = 0; i < 5; i++) {
    clearing.push(await page.evaluate(async () => {
      const studio = window.lumacorStudio;
      const tiles = studio.file('art/tiles.png');
      await studio.setFile('art/tiles.png', [1, 2, 3]);
      await new Promise((resolve) => { const wait = () => (document.querySelector('#problems li') ? resolve() : setTimeout(wait, 5)); wait(); });
      const started = performance.now();
      await studio.setFile('art/tiles.png', tiles);
      await new Promise((resolve) => { const wait = () => (document.querySelector('#problems li') ? setTimeout(wait, 5) : resolve()); wait(); });
      return performance.now() - started;
    }));
  }
  console.log(`a picture's problem cleared after its fix: median ${median(clearing).toFixed(0)} ms, slowest ${Math.max(...clearing).toFixed(0)} ms (5 fixes)`);

  // Typing while the demo runs: the frames the game ran against the time,
  // and how long each key waited and was handled before the page could
  // paint again (the browser reports only keys whose whole turn, to the
  // next painted frame, took 16 ms or more).
  await page.evaluate(() => {
    window.keyTimes = [];
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) if (entry.name === 'keydown') window.keyTimes.push(entry.processingEnd - entry.startTime);
    }).observe({ type: 'event', durationThreshold: 16, buffered: true });
    window.longTasks = 0;
    new PerformanceObserver((list) => { window.longTasks += list.getEntries().length; }).observe({ type: 'longtask' });
  });
  await page.evaluate(() => window.lumacorStudio.run());
  await page.waitForFunction(() => window.lumacorStudio.player.frame > 30);
  await page.click('.cm-content');
  const before = await page.evaluate(() => ({ frame: window.lumacorStudio.player.frame, at: performance.now() }));
  const keys = 300;
  for (let i = 0; i < keys; i++) await page.keyboard.type(i % 40 === 39 ? '\n' : ';', { delay: 15 });
  const after = await page.evaluate(() => ({ frame: window.lumacorStudio.player.frame, at: performance.now(),
    slowKeys: window.keyTimes, longTasks: window.longTasks }));
  const seconds = (after.at - before.at) / 1000;
  console.log(`typing ${keys} keys over ${seconds.toFixed(1)} s while the demo runs: ${((after.frame - before.frame) / seconds).toFixed(1)} frames a second ` +
    `(the machine's pace is 62.5); keys handled in median ${median(after.slowKeys).toFixed(1)} ms, ` +
    `slowest ${Math.max(0, ...after.slowKeys).toFixed(1)} ms; ${after.longTasks} tasks over 50 ms`);
} finally {
  await browser.close();
  fs.rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
}
