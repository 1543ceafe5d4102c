// The page runs the same machine as the desktop: a scripted run in the
// browser (the same buttons at the same frames) gives, at every checked
// frame, the picture that lumacor-run gives for that many frames, the same
// diagnostic lines (test port, bank switches) and the same save RAM.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { after, before, test } from 'node:test';
import path from 'node:path';
import fs from 'node:fs';
import {
  fileUrl, firstDifference, launchBrowser, openPage, rgbOf, romPath, runDesktop, runner,
  temporaryFolder, webBuild,
} from './support.mjs';

const names = ['up', 'down', 'left', 'right', 'start', 'back', 'a', 'x'];

// Presses in the runner's notation, "FRAME:buttons" or "FRAME:2/buttons".
function parsePress(text) {
  const [, frame, pad, buttons] = /^(\d+):(?:([12])\/)?(.+)$/.exec(text);
  return { frame: Number(frame), pad: pad === '2' ? 1 : 0, buttons: buttons === 'none' ? [] : buttons.split('+') };
}

// Runs the script in the paused page and returns, for each checked frame,
// the picture (RGB), plus the save RAM and the frames run at the end.
async function runInPage(page, presses, checks, frames) {
  return page.evaluate(({ presses, checks, frames, names }) => {
    const lumacor = window.lumacor;
    const bitsOf = (buttons) => buttons.reduce((bits, name) => bits | lumacor.buttons[name], 0);
    const toBase64 = (bytes) => {
      let binary = '';
      for (let i = 0; i < bytes.length; i += 4) binary += String.fromCharCode(bytes[i], bytes[i + 1], bytes[i + 2]);
      return btoa(binary);
    };
    const pictures = {};
    while (lumacor.frame < frames) {
      for (const press of presses) if (press.frame === lumacor.frame) lumacor.setButtons(press.pad, bitsOf(press.buttons));
      if (lumacor.runFrames(1) === 0) break;
      if (checks.includes(lumacor.frame)) pictures[lumacor.frame] = toBase64(lumacor.pixels());
    }
    if (!names.every((name) => name in lumacor.buttons)) throw new Error('a button name is missing');
    return { pictures, save: Array.from(lumacor.saveRAM()), frames: lumacor.frame };
  }, { presses: presses.map(parsePress), checks, frames, names });
}

function machineLines(text) {
  return text.split('\n').filter((line) => /^(out\[|in\[|Bank switched)/.test(line));
}

// The desktop runner's diagnostic lines for the whole scripted run.
function desktopLines(rom, frames, presses) {
  const dir = temporaryFolder();
  const copy = path.join(dir, 'game.rom');
  fs.copyFileSync(rom, copy);
  const args = [copy, '--frames', String(frames)];
  for (const press of presses) args.push('--press', press);
  let output;
  try {
    output = execFileSync(runner, args, { encoding: 'utf8' });
  } catch (error) {
    output = error.stdout;
  }
  fs.rmSync(dir, { recursive: true, force: true });
  return machineLines(output);
}

let chrome;
before(async () => { chrome = await launchBrowser(); });
after(async () => { await chrome.close(); });

async function compare(t, { page, rom, presses, checks, frames }) {
  const lines = [];
  page.on('console', (entry) => lines.push(...entry.text().split('\n')));
  const web = await runInPage(page, presses, checks, frames);
  const checked = checks.filter((f) => f <= web.frames);
  for (const frame of checked) {
    const desktop = runDesktop(rom, frame, presses);
    const picture = Buffer.from(web.pictures[frame], 'base64');
    assert.equal(firstDifference(picture, desktop.rgb), null, `frame ${frame}`);
  }
  const desktop = runDesktop(rom, frames, presses);
  const last = rgbOf(await page.evaluate(() => Array.from(window.lumacor.pixels())));
  assert.equal(firstDifference(last, desktop.rgb), null, 'the last picture');
  assert.deepEqual(Buffer.from(web.save), desktop.save, 'save RAM at the end');
  assert.deepEqual(machineLines(lines.join('\n')), desktopLines(rom, frames, presses), 'diagnostic lines');
  assert.deepEqual(page.pageErrors, []);
  t.diagnostic(`${web.frames} frames, ${checked.length + 1} pictures compared`);
  return web;
}

test('the demo cartridge, exported, played with a script of presses', async (t) => {
  const page = await openPage(chrome.browser, fileUrl(path.join(webBuild, 'demo.html'), '?paused'));
  const presses = ['30:start', '31:none', '60:right', '90:a', '91:none', '120:left', '170:right+a',
    '171:right', '230:none', '260:2/start', '300:back', '301:none', '340:start', '341:none', '400:left+x', '420:none'];
  const checks = [1, 2, 3, 31, 32, 61, 91, 92, 150, 171, 231, 301, 302, 341, 421, 500];
  await compare(t, { page, rom: romPath('demo.rom'), presses, checks, frames: 500 });
  await page.close();
});

test('the self-test cartridge, opened in the player, to its halt', async (t) => {
  const page = await openPage(chrome.browser, fileUrl(path.join(webBuild, 'lumacor.html')));
  await page.evaluate(() => window.lumacor.pause());
  const input = await page.$('#file');
  await input.uploadFile(romPath('selftest.rom'));
  await page.waitForFunction(() => window.lumacor.cartridge === 'selftest.rom');
  assert.equal(await page.evaluate(() => window.lumacor.frame), 0, 'a paused player loads without running');
  const web = await compare(t, {
    page, rom: romPath('selftest.rom'), presses: ['3:a+x', '4:2/up+down', '5:none'], checks: [1, 2, 3, 4, 5, 6], frames: 600,
  });
  assert.ok(web.frames < 600, 'the self-test halts');
  assert.equal(Buffer.from(web.save.slice(0, 4)).toString('latin1'), 'SELF');
  await page.close();
});
