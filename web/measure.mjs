// Figures of the web build for docs/web.md, not a test: sizes of the files,
// the time from navigation to the first frame shown (demo.html from the
// disk, a fresh page each time) beside the time to a blank page's first
// script, and how long lumacor.runFrames(600) takes on a fresh page, in
// Chromium and in Firefox. Run by
// `bash scripts/web.sh --measure`; prints medians and ranges.
import fs from 'node:fs';
import path from 'node:path';
import { fileUrl, launchBrowser, openPage, romPath, temporaryFolder, webBuild } from '../tests/web/support.mjs';

const runs = Number(process.env.RUNS || 7);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const ms = (value) => value.toFixed(0);
const summary = (values) => `${ms(median(values))} ms (${ms(Math.min(...values))}–${ms(Math.max(...values))}, ${values.length} runs)`;

const size = (file) => fs.statSync(path.join(webBuild, file)).size;
const romBase64 = Math.ceil(fs.statSync(romPath('demo.rom')).size / 3) * 4;
console.log(`lumacor.wasm ${size('lumacor.wasm')} bytes; lumacor.html ${size('lumacor.html')} bytes; lumacor-export ${size('lumacor-export')} bytes`);
const demoSize = size('demo.html');
console.log(`demo.html ${demoSize} bytes: ${demoSize - romBase64} of player and machine, ${romBase64} of ROM as base64`);

// A page with nothing but a script, for the browser's own share of the start.
const demo = path.join(webBuild, 'demo.html');
const blank = path.join(temporaryFolder(), 'blank.html');
fs.writeFileSync(blank, '<!doctype html><title>blank</title><script>performance.mark("script")</script>');
for (const firefox of [false, true]) {
  const browser = await launchBrowser(firefox);
  const firstFrames = [];
  const batches = [];
  const blanks = [];
  for (let i = 0; i < runs; i++) {
    const empty = await browser.newPage();
    await empty.goto(fileUrl(blank));
    blanks.push(await empty.evaluate(() => performance.getEntriesByName('script')[0].startTime));
    await empty.close();
    const page = await browser.newPage();
    await page.goto(fileUrl(demo));
    await page.waitForFunction(() => performance.getEntriesByName('lumacor:first-frame').length > 0);
    firstFrames.push(await page.evaluate(() => performance.getEntriesByName('lumacor:first-frame')[0].startTime));
    await page.close();
    const paused = await openPage(browser, fileUrl(demo, '?paused'));
    batches.push(await paused.evaluate(() => {
      const start = performance.now();
      window.lumacor.runFrames(600);
      return performance.now() - start;
    }));
    await paused.close();
  }
  await browser.shut();
  const name = firefox ? 'Firefox' : 'Chromium';
  console.log(`${name}: navigation to first frame ${summary(firstFrames)}; to a blank page's script ${summary(blanks)}`);
  console.log(`${name}: runFrames(600) ${summary(batches)}, ${(9600 / median(batches)).toFixed(0)} × real time`);
}
