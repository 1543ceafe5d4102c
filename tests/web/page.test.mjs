// The player page in headless Chromium. The echo cartridge copies the two
// controller bytes into save RAM bytes 0 and 1, so lumacor.saveRAM() shows
// which buttons the machine reads.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { echoRom, fileUrl, launchBrowser, message, openPage, openRom, temporaryFolder, webBuild } from './support.mjs';

const player = fileUrl(path.join(webBuild, 'lumacor.html'));
const exporter = path.join(webBuild, 'lumacor-export');
let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());

async function pausedEcho(prepare = null) {
  const page = await openPage(browser, player, prepare);
  await page.evaluate(() => window.lumacor.pause());
  await openRom(page, echoRom);
  return page;
}

// The controller bytes the machine reads in one more frame, once the page
// has had two animation frames to poll its pads.
const padBytes = (page) => page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(() => {
  window.lumacor.runFrames(1);
  done(Array.from(window.lumacor.saveRAM().subarray(0, 2)));
}))));

const errorShown = (page) => page.waitForFunction(() => document.getElementById('message').classList.contains('error'));

test('keys hold player 1\'s buttons by their place; focus lost lets go; setButtons sets a whole byte', async () => {
  const page = await pausedEcho();
  const keys = [['ArrowUp', 0x01], ['ArrowDown', 0x02], ['ArrowLeft', 0x04], ['ArrowRight', 0x08], ['Enter', 0x10],
    ['Backspace', 0x20], ['ShiftRight', 0x20], ['KeyZ', 0x40], ['Space', 0x40], ['KeyX', 0x80], ['KeyA', 0], ['ShiftLeft', 0]];
  for (const [key, bit] of keys) {
    await page.keyboard.down(key);
    assert.deepEqual(await padBytes(page), [bit, 0], key);
    await page.keyboard.up(key);
    assert.deepEqual(await padBytes(page), [0, 0], `${key} let go`);
  }
  await page.keyboard.down('ArrowLeft');
  await page.keyboard.down('KeyX');
  await page.keyboard.up('ArrowLeft');
  assert.deepEqual(await padBytes(page), [0x80, 0], 'letting go of one key keeps the other');
  await page.evaluate(() => window.dispatchEvent(new Event('blur')));
  assert.deepEqual(await padBytes(page), [0, 0]);
  await page.evaluate(() => window.lumacor.setButtons(1, 0x41));
  assert.deepEqual(await padBytes(page), [0, 0x41]);
  await assert.rejects(page.evaluate(() => window.lumacor.setButtons(2, 1)), /pad must be 0 or 1/);
  await page.close();
});

// Chromium offers automation no virtual game pad, so the test stands in for
// the Gamepad API: navigator.getGamepads and the connection events.
function fakePads() {
  const pads = [];
  const button = (pressed) => ({ pressed, touched: pressed, value: pressed ? 1 : 0 });
  Object.defineProperty(Navigator.prototype, 'getGamepads', { value: () => pads.slice() });
  window.testPad = (index, buttons) => {
    const had = pads[index];
    pads[index] = buttons && { index, id: `Test pad ${index}`, connected: true, mapping: 'standard', axes: [0, 0, 0, 0],
      buttons: Array.from({ length: 17 }, (_, i) => button(buttons.includes(i))) };
    if (!had !== !buttons) window.dispatchEvent(new Event(buttons ? 'gamepadconnected' : 'gamepaddisconnected'));
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
  assert.match((await message(page)).text, /player 1 unplugged/);
  await page.evaluate(() => window.testPad(2, [15]));
  assert.deepEqual(await padBytes(page), [0x08, 0x41]);
  assert.deepEqual(page.pageErrors, []);
  await page.close();
});

test('save RAM is kept per cartridge, stored at most once a second and when the page goes', async () => {
  const page = await pausedEcho();
  await page.evaluate(() => localStorage.clear());
  const stored = () => page.evaluate(() => atob(localStorage.getItem(Object.keys(localStorage)[0])).charCodeAt(0));
  const change = (bits) => page.evaluate((b) => { window.lumacor.setButtons(0, b); window.lumacor.runFrames(1); }, bits);
  await change(0x11);
  await padBytes(page);
  assert.equal(await stored(), 0x11, 'the first change is stored at once');
  await change(0x22);
  await padBytes(page);
  assert.equal(await stored(), 0x11, 'the next waits for the second to pass');
  await page.reload();
  await page.evaluate(() => window.lumacor.ready);
  await page.evaluate(() => window.lumacor.pause());
  await openRom(page, echoRom);
  assert.equal(await page.evaluate(() => window.lumacor.saveRAM()[0]), 0x22, 'stored as the page went');
  const other = path.join(temporaryFolder(), 'other.rom');
  fs.writeFileSync(other, Buffer.concat([fs.readFileSync(echoRom), Buffer.from([0])]));
  await openRom(page, other);
  assert.equal(await page.evaluate(() => window.lumacor.saveRAM()[0]), 0, 'another image has its own');
  await page.close();
});

test('a bad file gets a clear message and the game plays on; a dropped file is played', async () => {
  const page = await openPage(browser, player);
  await openRom(page, echoRom);
  const dir = temporaryFolder();
  const files = [['empty.rom', Buffer.alloc(0), 'empty'], ['huge.rom', Buffer.alloc(16000001), 'too large'],
    ['notes.txt', Buffer.from('Not a ROM at all, just some words.\n'.repeat(10)), 'text file']];
  for (const [name, content, reason] of files) {
    fs.writeFileSync(path.join(dir, name), content);
    const frame = await page.evaluate(() => window.lumacor.frame);
    await (await page.$('#file')).uploadFile(path.join(dir, name));
    await errorShown(page);
    assert.match((await message(page)).text, new RegExp(`^${name}: .*${reason}`));
    await page.waitForFunction((f) => window.lumacor.frame > f + 2 && window.lumacor.cartridge === 'echo.rom', {}, frame);
    await page.evaluate(() => document.getElementById('message').classList.remove('error'));
  }
  await page.evaluate((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], 'dropped.rom'));
    window.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, cancelable: true }));
  }, Array.from(fs.readFileSync(echoRom)));
  await page.waitForFunction(() => window.lumacor.cartridge === 'dropped.rom' && window.lumacor.frame > 2);
  assert.deepEqual(page.pageErrors, []);
  await page.close();
});

test('a program that runs into an illegal opcode stops with the reason on the page', async () => {
  const page = await openPage(browser, player);
  const file = path.join(temporaryFolder(), 'broken.rom');
  fs.writeFileSync(file, Buffer.alloc(0x104).fill(0x01, 0x100, 0x101)); // no instruction has opcode 0x01
  await openRom(page, file);
  await errorShown(page);
  assert.match((await message(page)).text, /stopped: Illegal opcode 0x0?1 at 0x0100/i);
  assert.equal(await page.evaluate(() => window.lumacor.frame), 1);
  await page.close();
});

test('the machine pauses while the tab is hidden', async () => {
  const page = await openPage(browser, player);
  await openRom(page, echoRom);
  const other = await browser.newPage();
  await other.bringToFront();
  await page.waitForFunction(() => document.hidden);
  const hidden = await page.evaluate(() => window.lumacor.frame);
  await new Promise((done) => setTimeout(done, 300));
  assert.equal(await page.evaluate(() => window.lumacor.frame), hidden);
  await page.bringToFront();
  await page.waitForFunction((f) => window.lumacor.frame > f + 3, {}, hidden);
  await other.close();
  await page.close();
});

test('sound starts with the first click', async () => {
  const page = await openPage(browser, player);
  await new Promise((done) => setTimeout(done, 100));
  assert.equal(await page.evaluate(() => window.lumacor.sound), 'off');
  await page.click('#screen');
  await page.waitForFunction(() => window.lumacor.sound === 'on' || window.lumacor.sound.startsWith('unavailable'));
  assert.equal(await page.evaluate(() => window.lumacor.sound), 'on');
  await page.close();
});

test('save states: Shift+F1 saves, F1 restores, also after a reload', async () => {
  const page = await openPage(browser, fileUrl(path.join(webBuild, 'demo.html'), '?paused'));
  const picture = () => page.evaluate(() => window.lumacor.pixels().join());
  await page.evaluate(() => { window.lumacor.setButtons(0, window.lumacor.buttons.start); window.lumacor.runFrames(100); });
  const saved = await picture();
  await page.keyboard.down('ShiftLeft');
  await page.keyboard.press('F1');
  await page.keyboard.up('ShiftLeft');
  await page.evaluate(() => window.lumacor.runFrames(50));
  assert.notEqual(await picture(), saved);
  for (const reload of [false, true]) {
    if (reload) await page.reload();
    await page.evaluate(() => window.lumacor.ready);
    await page.keyboard.press('F1');
    assert.match((await message(page)).text, /State 1 loaded/);
    assert.equal(await page.evaluate(() => window.lumacor.frame), 100);
    assert.equal(await picture(), saved);
  }
  await page.keyboard.press('F2');
  assert.match((await message(page)).text, /No state saved in slot 2/);
  await page.close();
});

test('lumacor-export writes one file that plays from the disk, and refuses what the player refuses', async () => {
  const dir = temporaryFolder();
  const out = path.join(dir, 'echo game.html');
  assert.equal(spawnSync(exporter, [echoRom, '-o', out]).status, 0);
  const page = await openPage(browser, fileUrl(out));
  await page.waitForFunction(() => window.lumacor.frame > 3);
  assert.equal(await page.evaluate(() => document.title), 'echo – lumacor');
  await page.keyboard.down('Enter');
  await page.waitForFunction(() => window.lumacor.saveRAM()[0] === 0x10);
  fs.writeFileSync(path.join(dir, 'empty.rom'), '');
  const run = spawnSync(exporter, [path.join(dir, 'empty.rom'), '-o', path.join(dir, 'empty.html')], { encoding: 'utf8' });
  assert.equal(run.status, 1);
  assert.match(run.stderr, /empty\.rom: The file is empty/);
  assert.equal(fs.existsSync(path.join(dir, 'empty.html')), false);
  await page.close();
});
