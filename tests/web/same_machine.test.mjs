// The page runs the same machine as the desktop: a scripted run in the
// browser (the same buttons at the same frames) gives, at every checked
// frame, the picture lumacor-run gives for that many frames, and at the end
// the same diagnostic lines (test port, bank switches) and save RAM.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';
import {
  decodePng, echoRom, fileUrl, firstDifference, launchBrowser, machineLines, openPage, openRom, romPath, runDesktop, tourRom,
  webBuild,
} from './support.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());
const demoScript = ['30:start', '31:none', '60:right', '90:a', '91:none', '120:left', '170:right+a', '171:right',
  '230:none', '260:2/start', '300:back', '301:none', '340:start', '341:none', '400:left+x', '420:none'];

// Presses in the runner's notation, "FRAME:buttons" or "FRAME:2/buttons",
// played through lumacor.setButtons before the frame they name.
async function compare(page, rom, presses, checks, frames) {
  const lines = [];
  page.on('console', (entry) => lines.push(entry.text()));
  const web = await page.evaluate((presses, checks, frames) => {
    const { lumacor } = window;
    const pictures = {};
    const script = presses.map((p) => /^(\d+):(?:([12])\/)?(.+)$/.exec(p)).map(([, frame, pad, buttons]) => ({
      frame: Number(frame), pad: pad === '2' ? 1 : 0,
      bits: buttons === 'none' ? 0 : buttons.split('+').reduce((bits, name) => bits | lumacor.buttons[name], 0) }));
    while (lumacor.frame < frames) {
      for (const press of script) if (press.frame === lumacor.frame) lumacor.setButtons(press.pad, press.bits);
      if (lumacor.runFrames(1) === 0) break;
      if (checks.includes(lumacor.frame)) pictures[lumacor.frame] = Array.from(lumacor.pixels());
    }
    pictures.last = Array.from(lumacor.pixels());
    return { pictures, save: Array.from(lumacor.saveRAM()), frames: lumacor.frame };
  }, presses, checks, frames);
  const same = async (picture, desktop, what) =>
    assert.equal(firstDifference(picture, await decodePng(page, desktop.png)), null, what);
  for (const frame of checks.filter((f) => f <= web.frames)) {
    await same(web.pictures[frame], runDesktop(rom, frame, presses), `frame ${frame}`);
  }
  const desktop = runDesktop(rom, frames, presses);
  await same(web.pictures.last, desktop, 'the last picture');
  assert.deepEqual(Buffer.from(web.save), desktop.save, 'save RAM');
  assert.deepEqual(machineLines(lines.join('\n')), desktop.lines, 'diagnostic lines');
  assert.deepEqual(page.pageErrors, []);
  return web;
}

test('the demo cartridge, exported, played with a script of presses', async () => {
  const page = await openPage(browser, fileUrl(path.join(webBuild, 'demo.html'), '?paused'));
  await compare(page, romPath('demo.rom'), demoScript, [1, 2, 31, 32, 61, 91, 92, 171, 231, 301, 341, 421], 500);
});

test('the tour of every instruction family and device, opened in the paused player after the demo, to its halt',
  async () => {
    const page = await openPage(browser, fileUrl(path.join(webBuild, 'lumacor.html')));
    await page.evaluate(() => window.lumacor.pause());
    await openRom(page, romPath('demo.rom'));
    await page.evaluate(() => window.lumacor.runFrames(100));
    await openRom(page, tourRom);
    assert.equal(await page.evaluate(() => window.lumacor.frame), 0, 'nothing runs before runFrames');
    const web = await compare(page, tourRom, ['3:a+x', '4:2/up+down', '5:none'], [1, 2, 3, 4, 5, 6, 45], 600);
    assert.equal(web.frames, 91, 'the tour halts in the frame after its 90th interrupt');
  });

test('the exported demo from the disk in Firefox, too; and there a ROM opened in the player, then keys', async () => {
  const firefox = await launchBrowser(true);
  const page = await openPage(firefox, fileUrl(path.join(webBuild, 'demo.html'), '?paused'));
  await compare(page, romPath('demo.rom'), demoScript, [92, 301], 500);
  const player = await openPage(firefox, fileUrl(path.join(webBuild, 'lumacor.html')));
  await openRom(player, echoRom);
  await player.keyboard.down('ArrowRight');
  await player.waitForFunction(() => window.lumacor.saveRAM()[0] === 0x08);
  assert.deepEqual(player.pageErrors, []);
  await firefox.shut();
});
