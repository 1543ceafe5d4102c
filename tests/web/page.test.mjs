// The player page in headless Chromium: keys and game pads reach the
// controller bytes, save RAM survives a reload, bad files get a message and
// leave the page playing, the tab's hiding pauses the machine, and an
// exported file plays from the disk. The echo cartridge copies the two
// controller bytes into save RAM bytes 0 and 1, so lumacor.saveRAM() shows
// what the machine reads.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileUrl, launchBrowser, message, openPage, temporaryFolder, testRoms, webBuild } from './support.mjs';

const echoRom = path.join(testRoms, 'echo.rom');
const player = fileUrl(path.join(webBuild, 'lumacor.html'));
const exporter = path.join(webBuild, 'lumacor-export');

let chrome;
before(async () => { chrome = await launchBrowser(); });
after(async () => { await chrome.close(); });

async function openRom(page, file, name = path.basename(file)) {
  await (await page.$('#file')).uploadFile(file);
  await page.waitForFunction((n) => window.lumacor.cartridge === n, {}, name);
}

// The controller bytes the machine sees after one more frame.
async function padBytes(page) {
  return page.evaluate(() => {
    window.lumacor.runFrames(1);
    return Array.from(window.lumacor.saveRAM().subarray(0, 2));
  });
}

const animationFrames = (page, count = 2) => page.evaluate((n) => new Promise((done) => {
  const next = (left) => (left === 0 ? done() : requestAnimationFrame(() => next(left - 1)));
  next(n);
}), count);

describe('keys', () => {
  let page;
  before(async () => {
    page = await openPage(chrome.browser, player);
    await page.evaluate(() => window.lumacor.pause());
    await openRom(page, echoRom);
  });
  after(async () => { await page.close(); });

  const keys = [
    ['ArrowUp', 0x01], ['ArrowDown', 0x02], ['ArrowLeft', 0x04], ['ArrowRight', 0x08], ['Enter', 0x10],
    ['Backspace', 0x20], ['ShiftRight', 0x20], ['KeyZ', 0x40], ['Space', 0x40], ['KeyX', 0x80],
    ['KeyA', 0], ['ShiftLeft', 0],
  ];
  for (const [key, bit] of keys) {
    test(`${key} holds ${bit ? `bit 0x${bit.toString(16)}` : 'no button'} of player 1 while down`, async () => {
      await page.keyboard.down(key);
      assert.deepEqual(await padBytes(page), [bit, 0]);
      await page.keyboard.up(key);
      assert.deepEqual(await padBytes(page), [0, 0]);
    });
  }

  test('keys combine, and letting go of one keeps the others', async () => {
    await page.keyboard.down('ArrowLeft');
    await page.keyboard.down('KeyX');
    assert.deepEqual(await padBytes(page), [0x84, 0]);
    await page.keyboard.up('ArrowLeft');
    assert.deepEqual(await padBytes(page), [0x80, 0]);
    await page.keyboard.up('KeyX');
  });

  test('the window losing focus lets go of the keys held', async () => {
    await page.keyboard.down('ArrowDown');
    await page.evaluate(() => window.dispatchEvent(new Event('blur')));
    assert.deepEqual(await padBytes(page), [0, 0]);
    await page.keyboard.up('ArrowDown');
  });

  test('setButtons sets a whole controller byte from the next frame on', async () => {
    await page.evaluate(() => window.lumacor.setButtons(1, 0x41));
    assert.deepEqual(await padBytes(page), [0, 0x41]);
    await page.evaluate(() => window.lumacor.setButtons(1, 0));
    await assert.rejects(page.evaluate(() => window.lumacor.setButtons(2, 1)), /pad must be 0 or 1/);
  });
});

// Chromium offers automation no virtual game pad, so the test stands in for
// the Gamepad API itself: navigator.getGamepads and its connect events.
describe('game pads', () => {
  let page;
  before(async () => {
    page = await chrome.browser.newPage();
    page.pageErrors = [];
    page.on('pageerror', (error) => page.pageErrors.push(error.message));
    await page.evaluateOnNewDocument(() => {
      const pads = [];
      const button = (pressed) => ({ pressed, touched: pressed, value: pressed ? 1 : 0 });
      Object.defineProperty(Navigator.prototype, 'getGamepads', { value: () => pads.slice() });
      window.testPads = {
        plug(index) {
          pads[index] = { index, id: `Test pad ${index}`, connected: true, mapping: 'standard',
            buttons: Array.from({ length: 17 }, () => button(false)), axes: [0, 0, 0, 0] };
          window.dispatchEvent(Object.assign(new Event('gamepadconnected'), { gamepad: pads[index] }));
        },
        unplug(index) {
          const pad = pads[index];
          pads[index] = null;
          window.dispatchEvent(Object.assign(new Event('gamepaddisconnected'), { gamepad: pad }));
        },
        hold(index, buttons) {
          pads[index].buttons = pads[index].buttons.map((_, i) => button(buttons.includes(i)));
        },
      };
    });
    await page.goto(player);
    await page.evaluate(() => window.lumacor.ready);
    await page.evaluate(() => window.lumacor.pause());
    await openRom(page, echoRom);
  });
  after(async () => { await page.close(); });

  const pads = (script) => page.evaluate(script);

  test('the standard layout\'s buttons map to the machine\'s, the others do nothing', async () => {
    await pads(() => window.testPads.plug(0));
    const buttons = [[0, 0x40], [2, 0x80], [8, 0x20], [9, 0x10], [12, 0x01], [13, 0x02], [14, 0x04], [15, 0x08],
      [1, 0], [3, 0], [4, 0], [5, 0], [6, 0], [7, 0], [10, 0], [11, 0], [16, 0]];
    for (const [index, bit] of buttons) {
      await page.evaluate((i) => window.testPads.hold(0, [i]), index);
      await animationFrames(page);
      assert.deepEqual(await padBytes(page), [bit, 0], `button ${index}`);
    }
    await pads(() => window.testPads.hold(0, []));
    await animationFrames(page);
  });

  test('pads take the first free player; unplugging one lets go of its buttons only', async () => {
    await pads(() => { window.testPads.plug(1); window.testPads.hold(0, [9]); window.testPads.hold(1, [0, 12]); });
    await animationFrames(page);
    assert.deepEqual(await padBytes(page), [0x10, 0x41]);
    await pads(() => window.testPads.unplug(0));
    await animationFrames(page);
    assert.deepEqual(await padBytes(page), [0, 0x41]);
    assert.match((await message(page)).text, /player 1 unplugged/);
    await pads(() => { window.testPads.plug(2); window.testPads.hold(2, [15]); });
    await animationFrames(page);
    assert.deepEqual(await padBytes(page), [0x08, 0x41]);
    assert.deepEqual(page.pageErrors, []);
  });
});

describe('save RAM in the browser', () => {
  test('is kept per cartridge, written at most once a second and when the page goes', async () => {
    const page = await openPage(chrome.browser, player);
    await page.evaluate(() => window.lumacor.pause());
    await openRom(page, echoRom);
    const stored = () => page.evaluate(() => {
      const key = Object.keys(localStorage).find((k) => k.startsWith('lumacor:save:'));
      return key ? atob(localStorage.getItem(key)).charCodeAt(0) : null;
    });
    await page.evaluate(() => { window.lumacor.setButtons(0, 0x11); window.lumacor.runFrames(1); });
    await animationFrames(page);
    assert.equal(await stored(), 0x11, 'the first change is written at once');
    await page.evaluate(() => { window.lumacor.setButtons(0, 0x22); window.lumacor.runFrames(1); });
    await animationFrames(page);
    assert.equal(await stored(), 0x11, 'the next waits for the second to pass');

    await page.reload();
    await page.evaluate(() => window.lumacor.ready);
    await page.evaluate(() => window.lumacor.pause());
    await openRom(page, echoRom);
    assert.equal(await page.evaluate(() => window.lumacor.saveRAM()[0]), 0x22, 'written as the page went');

    const other = path.join(temporaryFolder(), 'other.rom');
    fs.writeFileSync(other, Buffer.concat([fs.readFileSync(echoRom), Buffer.from([0])]));
    await openRom(page, other);
    assert.equal(await page.evaluate(() => window.lumacor.saveRAM()[0]), 0, 'another image has its own');
    await page.close();
  });
});

describe('bad files', () => {
  test('get a clear message and leave the game playing', async () => {
    const page = await openPage(chrome.browser, player);
    await openRom(page, echoRom);
    const dir = temporaryFolder();
    const files = [
      ['empty.rom', Buffer.alloc(0), /empty/],
      ['huge.rom', Buffer.alloc(16000001), /too large/],
      ['notes.txt', Buffer.from('Not a ROM at all, just some words.\n'.repeat(10)), /text file/],
    ];
    for (const [name, content, reason] of files) {
      fs.writeFileSync(path.join(dir, name), content);
      const before = await page.evaluate(() => window.lumacor.frame);
      await (await page.$('#file')).uploadFile(path.join(dir, name));
      await page.waitForFunction(() => document.getElementById('message').classList.contains('error'));
      const shown = await message(page);
      assert.match(shown.text, new RegExp(`^${name}: .*${reason.source}`));
      await page.waitForFunction((f) => window.lumacor.frame > f + 2, {}, before);
      assert.equal(await page.evaluate(() => window.lumacor.cartridge), 'echo.rom');
    }
    assert.deepEqual(page.pageErrors, []);
    await page.close();
  });

  test('a program that runs into an illegal opcode stops with its reason on the page', async () => {
    const page = await openPage(chrome.browser, player);
    const image = Buffer.alloc(0x104);
    image[0x100] = 0x01; // no instruction has this opcode
    const file = path.join(temporaryFolder(), 'broken.rom');
    fs.writeFileSync(file, image);
    await openRom(page, file);
    await page.waitForFunction(() => document.getElementById('message').classList.contains('error'));
    assert.match((await message(page)).text, /stopped: Illegal opcode 0x0?1 at 0x0100/i);
    const frame = await page.evaluate(() => window.lumacor.frame);
    await animationFrames(page, 5);
    assert.equal(await page.evaluate(() => window.lumacor.frame), frame);
    await page.close();
  });

  test('a file dropped onto the page is played', async () => {
    const page = await openPage(chrome.browser, player);
    const image = Array.from(fs.readFileSync(echoRom));
    await page.evaluate((bytes) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(bytes)], 'dropped.rom'));
      window.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, cancelable: true }));
    }, image);
    await page.waitForFunction(() => window.lumacor.cartridge === 'dropped.rom' && window.lumacor.frame > 2);
    await page.close();
  });
});

describe('the running page', () => {
  test('pauses while the tab is hidden and goes on when it is shown', async () => {
    const page = await openPage(chrome.browser, player);
    await openRom(page, echoRom);
    await page.waitForFunction(() => window.lumacor.frame > 3);
    const other = await chrome.browser.newPage();
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
    const page = await openPage(chrome.browser, player);
    assert.equal(await page.evaluate(() => window.lumacor.sound), 'off');
    await page.click('#screen');
    await page.waitForFunction(() => window.lumacor.sound === 'on' || window.lumacor.sound.startsWith('unavailable'));
    assert.equal(await page.evaluate(() => window.lumacor.sound), 'on');
    await page.close();
  });
});

describe('lumacor-export', () => {
  test('writes one file that plays from the disk', async () => {
    const dir = temporaryFolder();
    const out = path.join(dir, 'echo game.html');
    execFileSync(exporter, [echoRom, '-o', out]);
    const page = await openPage(chrome.browser, fileUrl(out));
    await page.waitForFunction(() => window.lumacor.frame > 3);
    assert.equal(await page.evaluate(() => document.title), 'echo – lumacor');
    await page.keyboard.down('Enter');
    await page.waitForFunction(() => window.lumacor.saveRAM()[0] === 0x10);
    await page.keyboard.up('Enter');
    assert.deepEqual(page.pageErrors, []);
    await page.close();
  });

  test('refuses a file the player would refuse, and writes nothing', () => {
    const dir = temporaryFolder();
    const empty = path.join(dir, 'empty.rom');
    fs.writeFileSync(empty, '');
    const run = spawnSync(exporter, [empty, '-o', path.join(dir, 'empty.html')], { encoding: 'utf8' });
    assert.equal(run.status, 1);
    assert.match(run.stderr, /empty\.rom: The file is empty/);
    assert.equal(fs.existsSync(path.join(dir, 'empty.html')), false);
  });
});

describe('save states', () => {
  test('Shift+F1 saves the machine, F1 brings it back, also after a reload', async () => {
    const demo = fileUrl(path.join(webBuild, 'demo.html'), '?paused');
    const page = await openPage(chrome.browser, demo);
    const picture = () => page.evaluate(() => Array.from(window.lumacor.pixels()).join());
    await page.evaluate(() => { window.lumacor.setButtons(0, window.lumacor.buttons.start); window.lumacor.runFrames(100); });
    const saved = await picture();
    await page.keyboard.down('ShiftLeft');
    await page.keyboard.press('F1');
    await page.keyboard.up('ShiftLeft');
    assert.match((await message(page)).text, /State 1 saved/);
    await page.evaluate(() => window.lumacor.runFrames(50));
    assert.notEqual(await picture(), saved);

    await page.keyboard.press('F1');
    assert.match((await message(page)).text, /State 1 loaded/);
    assert.equal(await page.evaluate(() => window.lumacor.frame), 100);
    assert.equal(await picture(), saved);

    await page.reload();
    await page.evaluate(() => window.lumacor.ready);
    await page.keyboard.press('F2');
    assert.match((await message(page)).text, /No state saved in slot 2/);
    await page.keyboard.press('F1');
    assert.equal(await page.evaluate(() => window.lumacor.frame), 100);
    assert.equal(await picture(), saved);
    assert.deepEqual(page.pageErrors, []);
    await page.close();
  });
});
