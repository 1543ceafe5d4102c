// The player page in headless Chromium. The echo cartridge copies the two
// controller bytes into save RAM bytes 0 and 1, so lumacor.saveRAM() shows
// which buttons the machine reads.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { dropFile, echoRom, fileUrl, launchBrowser, message, openPage, openRom, temporaryFolder, webBuild } from './support.mjs';

const player = fileUrl(path.join(webBuild, 'lumacor.html'));
const exporter = path.join(webBuild, 'lumacor-export');
let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());

async function pausedEcho(prepare = null) {
  const page = await openPage(browser, player, prepare);
  await page.evaluate(() => { localStorage.clear(); window.lumacor.pause(); });
  await openRom(page, echoRom);
  return page;
}

async function reloadPausedEcho(page) {
  await page.reload();
  await page.evaluate(() => window.lumacor.ready.then(() => window.lumacor.pause()));
  await openRom(page, echoRom);
}

// The controller bytes the machine reads in one more frame, run after two
// animation frames in which the page polls its pads and stores save RAM.
const padBytes = (page) => page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(() => {
  window.lumacor.runFrames(1);
  done(Array.from(window.lumacor.saveRAM().subarray(0, 2)));
}))));

test('keys hold player 1\'s buttons by their place; a lost focus lets go; setButtons sets a whole byte', async () => {
  const page = await pausedEcho();
  const keys = [['ArrowUp', 0x01], ['ArrowDown', 0x02], ['ArrowLeft', 0x04], ['ArrowRight', 0x08], ['Enter', 0x10],
    ['Backspace', 0x20], ['KeyZ', 0x40], ['Space', 0x40], ['KeyX', 0x80], ['KeyA', 0], ['ShiftLeft', 0]];
  for (const [key, bit] of keys) {
    await page.keyboard.down(key);
    assert.deepEqual(await padBytes(page), [bit, 0], key);
    await page.keyboard.up(key);
  }
  await page.keyboard.down('ArrowLeft');
  await page.keyboard.down('KeyX');
  assert.deepEqual(await padBytes(page), [0x84, 0]);
  await page.keyboard.up('ArrowLeft');
  assert.deepEqual(await padBytes(page), [0x80, 0], 'letting go of one key keeps the other');
  await page.evaluate(() => window.dispatchEvent(new Event('blur')));
  assert.deepEqual(await padBytes(page), [0, 0]);
  await page.evaluate(() => window.lumacor.setButtons(1, 0x41));
  assert.deepEqual(await padBytes(page), [0, 0x41], 'setButtons(1, bits) holds player 2\'s byte');
  await page.evaluate(() => window.lumacor.setButtons(1, 0));
  // Right Shift (BACK) let go on its own taps BACK for one frame; as part of
  // Shift+F1 it presses nothing.
  await page.keyboard.press('ShiftRight');
  assert.deepEqual([await padBytes(page), await padBytes(page)], [[0x20, 0], [0, 0]]);
  await page.keyboard.down('ShiftRight');
  await page.keyboard.press('F1');
  await page.keyboard.up('ShiftRight');
  assert.deepEqual(await padBytes(page), [0, 0], 'right Shift+F1 presses no BACK');
  assert.equal((await message(page)).text, 'State 1 saved.');
  await page.close();
});

// Chromium offers automation no virtual game pad, so the test stands in for
// the Gamepad API: navigator.getGamepads and the connection events.
function fakePads() {
  const pads = [];
  Object.defineProperty(Navigator.prototype, 'getGamepads', { value: () => pads.slice() });
  window.testPad = (index, held) => {
    const plugged = !pads[index] !== !held;
    pads[index] = held && { index, id: `Test pad ${index}`, connected: true, mapping: 'standard', axes: [0, 0, 0, 0],
      buttons: Array.from({ length: 17 }, (_, i) => ({ pressed: held.includes(i), value: held.includes(i) ? 1 : 0 })) };
    if (plugged) window.dispatchEvent(new Event(held ? 'gamepadconnected' : 'gamepaddisconnected'));
  };
}

test('game pads: the standard layout, first free player, unplugging lets go of that pad\'s buttons', async () => {
  const page = await pausedEcho(fakePads);
  const layout = [[0, 0x40], [2, 0x80], [8, 0x20], [9, 0x10], [12, 0x01], [13, 0x02], [14, 0x04], [15, 0x08], [1, 0], [3, 0], [16, 0]];
  for (const [button, bit] of layout) {
    await page.evaluate((b) => window.testPad(0, [b]), button);
    assert.deepEqual(await padBytes(page), [bit, 0], `button ${button}`);
  }
  await page.evaluate(() => { window.testPad(0, [9]); window.testPad(1, [0, 12]); });
  assert.deepEqual(await padBytes(page), [0x10, 0x41]);
  await page.evaluate(() => window.testPad(0, null));
  assert.deepEqual(await padBytes(page), [0, 0x41]);
  await page.evaluate(() => window.testPad(2, [15]));
  assert.deepEqual(await padBytes(page), [0x08, 0x41]);
  await page.click('[aria-label="Settings"]');
  await page.waitForFunction(() => /1: Test pad 2, holding RIGHT.*2: Test pad 1, holding UP A/.test(document.getElementById('pads').textContent));
  assert.deepEqual(page.pageErrors, []);
  await page.close();
});

test('save RAM is kept per cartridge, stored at most once a second and when the page goes', async () => {
  const page = await pausedEcho();
  // Echoed into save RAM by one frame, then two more frames for the page to store it.
  const storedAfter = async (bits) => {
    await page.evaluate((b) => window.lumacor.setButtons(0, b), bits);
    await padBytes(page) && await padBytes(page);
    return page.evaluate(() => atob(localStorage.getItem(Object.keys(localStorage)[0])).charCodeAt(0));
  };
  assert.equal(await storedAfter(0x11), 0x11, 'the first change is stored at once');
  assert.equal(await storedAfter(0x22), 0x11, 'the next waits for the second to pass');
  await reloadPausedEcho(page);
  assert.equal(await page.evaluate(() => window.lumacor.saveRAM()[0]), 0x22, 'stored as the page went');
  const other = path.join(temporaryFolder(), 'other.rom');
  fs.writeFileSync(other, Buffer.concat([fs.readFileSync(echoRom), Buffer.from([0])]));
  await openRom(page, other);
  assert.equal(await page.evaluate(() => window.lumacor.saveRAM()[0]), 0, 'another image has its own');
  await page.close();
});

test('a bad file gets a clear message and the game plays on; a dropped file is played and has the keys', async () => {
  const page = await openPage(browser, player);
  await openRom(page, echoRom);
  const dir = temporaryFolder();
  const files = [['empty.rom', '', 'empty'], ['huge.rom', Buffer.alloc(16000001), 'too large'],
    ['notes.txt', 'Not a ROM at all, just some words.\n'.repeat(10), 'text file']];
  for (const [name, content, reason] of files) {
    fs.writeFileSync(path.join(dir, name), content);
    const frame = await page.evaluate(() => window.lumacor.frame);
    await (await page.$('#file')).uploadFile(path.join(dir, name));
    await page.waitForFunction((n) => document.getElementById('message').textContent.startsWith(n), {}, name);
    const shown = await message(page);
    assert.ok(shown.error && new RegExp(`^${name}: .*${reason}`).test(shown.text), shown.text);
    await page.waitForFunction((f) => window.lumacor.frame > f + 2 && window.lumacor.cartridge === 'echo.rom', {}, frame);
  }
  fs.copyFileSync(echoRom, path.join(dir, 'dropped.rom'));
  await (await page.$('#volume')).focus();
  await dropFile(page, path.join(dir, 'dropped.rom'));
  await page.waitForFunction(() => window.lumacor.cartridge === 'dropped.rom' && window.lumacor.frame > 2);
  await page.keyboard.down('KeyX');
  await page.waitForFunction(() => window.lumacor.saveRAM()[0] === 0x80);
  assert.deepEqual(page.pageErrors, []);
  await page.close();
});

test('the machine pauses while the tab is hidden; sound starts with the first click', async () => {
  const page = await openPage(browser, player);
  assert.equal(await page.evaluate(() => window.lumacor.sound), 'off');
  await page.click('h1');
  await page.waitForFunction(() => window.lumacor.sound !== 'off');
  assert.equal(await page.evaluate(() => window.lumacor.sound), 'on');
  await openRom(page, echoRom);
  const other = await browser.newPage();
  await other.bringToFront();
  await page.waitForFunction(() => document.hidden);
  const hidden = await page.evaluate(() => window.lumacor.frame);
  await new Promise((done) => setTimeout(done, 300));
  assert.equal(await page.evaluate(() => window.lumacor.frame), hidden);
  await page.bringToFront();
  const jump = await page.evaluate((f) => new Promise((done) => {
    const look = () => (window.lumacor.frame > f ? done(window.lumacor.frame - f) : requestAnimationFrame(look));
    look();
  }), hidden);
  assert.ok(jump <= 4, `${jump} frames at once after the tab came back: the hidden time was made up`);
  await other.close();
  await page.close();
});

test('save states: Shift+F1 saves, F1 restores (picture, save RAM, frame count), also after a reload', async () => {
  const page = await pausedEcho();
  const state = () => page.evaluate(() => [window.lumacor.frame, window.lumacor.saveRAM()[0], window.lumacor.pixels()[2]]);
  await page.evaluate(() => { window.lumacor.setButtons(0, 0x11); window.lumacor.runFrames(10); });
  await page.keyboard.down('ShiftLeft');
  await page.keyboard.press('F1');
  await page.keyboard.up('ShiftLeft');
  await page.evaluate(() => { window.lumacor.setButtons(0, 0x22); window.lumacor.runFrames(10); });
  assert.deepEqual(await state(), [20, 0x22, 0x22]);
  for (const reload of [false, true]) {
    if (reload) await reloadPausedEcho(page);
    await page.keyboard.press('F1');
    assert.deepEqual(await state(), [10, 0x11, 0x11], reload ? 'after a reload' : 'at once');
  }
  await page.close();
});

test('lumacor-export, alone in any folder, writes one file that plays from the disk; refuses what the player refuses, '
  + 'and its own ROM as the output', async () => {
  const dir = temporaryFolder();
  const alone = path.join(temporaryFolder(), 'lumacor-export');
  fs.copyFileSync(exporter, alone);
  assert.equal(spawnSync(alone, [echoRom, '-o', path.join(dir, 'echo game.html')]).status, 0);
  const page = await openPage(browser, fileUrl(path.join(dir, 'echo game.html')));
  assert.equal(await page.evaluate(() => document.title), 'echo – lumacor');
  await page.keyboard.down('Enter');
  await page.waitForFunction(() => window.lumacor.saveRAM()[0] === 0x10);
  fs.writeFileSync(path.join(dir, 'empty.rom'), '');
  const run = spawnSync(exporter, [path.join(dir, 'empty.rom'), '-o', path.join(dir, 'empty.html')], { encoding: 'utf8' });
  assert.deepEqual([run.status, fs.existsSync(path.join(dir, 'empty.html'))], [1, false]);
  assert.match(run.stderr, /empty\.rom: The file is empty/);
  const rom = path.join(dir, 'game.rom');
  fs.copyFileSync(echoRom, rom);
  fs.linkSync(rom, path.join(dir, 'hard.rom'));
  fs.symlinkSync(rom, path.join(dir, 'soft.html'));
  for (const out of [rom, path.join(dir, '.', '..', path.basename(dir), 'game.rom'), path.join(dir, 'hard.rom'), path.join(dir, 'soft.html')]) {
    const same = spawnSync(exporter, [rom, '-o', out], { encoding: 'utf8' });
    assert.deepEqual([same.status, same.stderr.trim().split('\n').length], [2, 1], same.stderr);
    assert.match(same.stderr, /is the ROM itself/);
  }
  assert.ok(fs.readFileSync(rom).equals(fs.readFileSync(echoRom)), 'the ROM is untouched');
  await page.close();
});
