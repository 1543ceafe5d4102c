// The player as a person meets it: the page's own buttons and file chooser
// followed by keys, its controls and settings, saves carried to the desktop
// and back, a phone with multi-touch, a plain-http web site and ?rom=
// links (Firefox's main path is in same_machine's Firefox test). The echo cartridge copies the controller bytes
// into save RAM bytes 0 and 1, so lumacor.saveRAM() shows what the machine reads.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { KnownDevices } from 'puppeteer-core';
import {
  desktopBuild, dropFile, echoRom, fileUrl, launchBrowser, message, openPage, saveDownloads, serve, temporaryFolder,
  webBuild,
} from './support.mjs';

const player = fileUrl(path.join(webBuild, 'lumacor.html'));
let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());

const saved = (page) => page.evaluate(() => Array.from(window.lumacor.saveRAM().subarray(0, 2)));
const frame = (page) => page.evaluate(() => window.lumacor.frame);
const visible = (page, selector) => page.$eval(selector, (e) => e.checkVisibility());

async function chooseRom(page, button, file = echoRom) {
  const [chooser] = await Promise.all([page.waitForFileChooser(), page.click(button)]);
  await chooser.accept([file]);
  await page.waitForFunction((name) => window.lumacor.cartridge === name, {}, path.basename(file));
}

test('the header\'s Open a ROM…, then keys at once; every control by mouse and by key', async () => {
  const page = await openPage(browser, player);
  assert.deepEqual(await Promise.all(['#empty', '#screen', '#pad-left'].map((s) => visible(page, s))), [true, false, false]);
  await chooseRom(page, 'label.open');
  await page.keyboard.down('Enter');
  await page.waitForFunction(() => window.lumacor.saveRAM()[0] === 0x10);
  await page.keyboard.up('Enter');
  await page.click('[aria-label="Pause"]');
  assert.ok(await visible(page, '#paused'), 'the picture says it is paused');
  const at = await frame(page);
  await page.keyboard.press('KeyN');
  await page.keyboard.press('KeyN');
  assert.equal(await frame(page), at + 2, 'N runs one frame while paused');
  await page.keyboard.press('KeyP');
  await page.waitForFunction((f) => window.lumacor.frame > f + 2, {}, at);
  assert.equal(await visible(page, '#paused'), false);
  await page.focus('[aria-label="Pause"]');
  await page.keyboard.press('Enter');
  assert.equal(await page.evaluate(() => window.lumacor.paused), true, 'Enter on a focused page button presses it');

  await page.click('[aria-label="Reset"]');
  assert.equal(await frame(page), 0);
  await page.click('[aria-label="Mute"]');
  assert.equal(await page.evaluate(() => window.lumacor.muted), true);
  await page.keyboard.press('KeyN');
  assert.equal(await frame(page), 1, 'after a click on a page button the keys are the game\'s again');
  await page.focus('#volume');
  await page.keyboard.press('ArrowLeft');
  await page.keyboard.press('KeyN');
  assert.deepEqual(await page.evaluate(() => [window.lumacor.volume, window.lumacor.muted, window.lumacor.frame]), [0.99, false, 1],
    'the volume slider has the keys while it has the focus, and unmutes');

  await page.click('[aria-label="Help"]');
  assert.ok(await visible(page, '#help'));
  assert.match(await page.$eval('#help', (e) => e.textContent), /Open a ROM.*Enter.*START/s);
  await page.keyboard.press('KeyN');
  assert.equal(await frame(page), 1, 'keys in the help are not the game\'s');
  await page.keyboard.press('Escape');
  assert.equal(await visible(page, '#help'), false);

  await page.keyboard.press('F11');
  await page.waitForFunction(() => document.fullscreenElement);
  const scale = await page.$eval('#screen', (c) => c.getBoundingClientRect().width * devicePixelRatio / 256);
  assert.equal(scale, Math.round(scale), 'whole multiples of the machine\'s pixels');
  await page.click('[aria-label="Fullscreen"]');
  await page.waitForFunction(() => !document.fullscreenElement);
  assert.deepEqual(page.pageErrors, []);
  await page.close();
});

test('keys remapped in the settings are kept; saves go to the desktop and come back from it', async () => {
  const page = await openPage(browser, player);
  await page.evaluate(() => { localStorage.clear(); window.lumacor.pause(); });
  await chooseRom(page, '#open-big');
  await page.click('[aria-label="Settings"]');
  await page.click('[aria-label="Change A"]');
  await page.keyboard.press('KeyQ');
  await page.reload();
  await page.evaluate(() => window.lumacor.ready.then(() => window.lumacor.pause()));
  await chooseRom(page, '#open-big');
  const held = async (key) => {
    await page.keyboard.down(key);
    await page.keyboard.press('KeyN');
    await page.keyboard.up(key);
    return (await saved(page))[0];
  };
  assert.deepEqual([await held('KeyQ'), await held('KeyZ'), await held('Space')], [0x40, 0, 0]);

  // A save RAM from the desktop, downloaded again, read back by the desktop.
  const dir = temporaryFolder();
  const pattern = crypto.randomBytes(4096);
  fs.writeFileSync(path.join(dir, 'desktop.sav'), pattern);
  const downloads = await saveDownloads(browser, dir);
  await page.click('[aria-label="Settings"]');
  const upload = async (label, file) => {
    const [chooser] = await Promise.all([page.waitForFileChooser(), page.click(`[aria-label="Upload ${label}"]`)]);
    await chooser.accept([file]);
  };
  const download = (label, name) => downloads.take(name, () => page.click(`[aria-label="Download ${label}"]`));
  await upload('Save RAM', path.join(dir, 'desktop.sav'));
  await page.waitForFunction(() => /is the save RAM now/.test(document.getElementById('message').textContent));
  assert.ok(Buffer.from(await page.evaluate(() => Array.from(window.lumacor.saveRAM()))).equals(pattern));
  assert.ok((await download('Save RAM', 'echo.rom.sav')).equals(pattern));
  const copy = path.join(dir, 'echo.rom');
  fs.copyFileSync(echoRom, copy);
  const run = (...args) => spawnSync(path.join(desktopBuild, 'tools/run/lumacor-run'), [copy, '--quiet', ...args]);
  run('--frames', '1', '--press', '0:a');
  assert.ok(fs.readFileSync(`${copy}.sav`).equals(Buffer.concat([Buffer.from([0x40, 0]), pattern.subarray(2)])));

  // States: the desktop's into slot 2, the page's slot 2 back to the desktop.
  run('--frames', '7', '--press', '0:x', '--save-state', path.join(dir, 'desktop.state'));
  await upload('State 2', path.join(dir, 'desktop.state'));
  await page.waitForFunction(() => window.lumacor.frame === 7);
  assert.deepEqual(await saved(page), [0x80, 0]);
  assert.ok((await download('State 2', 'echo.rom.state2')).equals(fs.readFileSync(path.join(dir, 'desktop.state'))));
  fs.writeFileSync(path.join(dir, 'bad.state'), 'not a state');
  await upload('State 3', path.join(dir, 'bad.state'));
  await page.waitForFunction(() => document.getElementById('message').classList.contains('error'));
  assert.match((await message(page)).text, /^bad\.state: /);
  assert.equal(await page.evaluate(() => window.lumacor.stateData(3)), null, 'a refused state is not kept');
  await downloads.detach();
  await page.close();
});

// Touches through the browser's own touch input, several fingers at once.
async function touch(session, type, points) {
  await session.send('Input.dispatchTouchEvent', { type, touchPoints: points.map(([x, y], id) => ({ x, y, id })) });
}

test('a phone: the on-screen pad beside or below the picture, never over it; two thumbs, and one sliding', async () => {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.emulate(KnownDevices['Pixel 5']);
  await page.goto(player);
  await page.evaluate(() => window.lumacor.ready.then(() => window.lumacor.pause()));
  await chooseRom(page, '#open-big');
  const names = ['UP', 'DOWN', 'LEFT', 'RIGHT', 'START', 'BACK', 'A', 'X'];
  const boxes = async () => Object.fromEntries(await Promise.all(['#screen', ...names.map((n) => `[aria-label="${n}"]`)]
    .map(async (s) => [s.replace(/.*="|"]/g, ''), await (await page.$(s)).boundingBox()])));
  const apart = (a, b) => a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y || b.y + b.height <= a.y;
  for (const device of ['Pixel 5', 'Pixel 5 landscape', 'iPad Mini landscape']) {
    await page.emulate(KnownDevices[device]);
    await page.waitForFunction(() => document.getElementById('screen').getBoundingClientRect().width >= 256);
    const placed = await boxes();
    const { width, height } = page.viewport();
    for (const [name, box] of Object.entries(placed).filter(([n]) => n !== '#screen')) {
      assert.ok(apart(box, placed['#screen']) && box.x >= 0 && box.y >= 0 && box.x + box.width <= width
        && box.y + box.height <= height, `${device}: ${name} covers the picture or leaves the screen`);
    }
  }
  const placed = await boxes();
  const centre = (name) => [placed[name].x + placed[name].width / 2, placed[name].y + placed[name].height / 2];
  const session = await page.createCDPSession();
  const after = async () => (await page.evaluate(() => window.lumacor.runFrames(1)), (await saved(page))[0]);
  await touch(session, 'touchStart', [centre('LEFT'), centre('A')]);
  assert.equal(await after(), 0x44);
  await touch(session, 'touchMove', [centre('UP'), centre('A')]);
  assert.equal(await after(), 0x41, 'the thumb slid from LEFT to UP');
  await touch(session, 'touchMove', [centre('UP'), centre('START')]);
  assert.equal(await after(), 0x11);
  await touch(session, 'touchEnd', []);
  assert.equal(await after(), 0);
  assert.deepEqual(errors, []);
  await session.detach();
  await page.close();
});

test('a plain-http web site: no error, the first dropped ROM and key work, the page says why there is no sound; '
  + '?rom= links', async () => {
  const dir = temporaryFolder();
  fs.writeFileSync(path.join(dir, 'notes.txt'), 'Not a ROM at all, just some words.\n'.repeat(10));
  const site = await serve({ '/roms/': path.dirname(echoRom), '/files/': dir, '/': webBuild });
  const remote = await launchBrowser(false, ['--host-resolver-rules=MAP lumacor.test 127.0.0.1, MAP other.test 127.0.0.1']);
  const origin = `http://lumacor.test:${site.port}`;
  const page = await openPage(remote, `${origin}/lumacor.html`);
  assert.match(await page.$eval('#notice', (n) => n.checkVisibility() && n.textContent), /https.*audio worklets/);
  await dropFile(page, echoRom);
  await page.waitForFunction(() => window.lumacor.cartridge === 'echo.rom');
  await page.keyboard.down('KeyZ');
  await page.waitForFunction(() => window.lumacor.saveRAM()[0] === 0x40);
  assert.match(await page.evaluate(() => window.lumacor.sound), /^unavailable: .*plain http/);
  assert.deepEqual(page.pageErrors, []);
  assert.deepEqual(site.requests, ['/lumacor.html'], 'the page loads nothing else, not even a favicon');

  const links = [['/roms/echo.rom', null], ['/roms/missing.rom', /^missing\.rom: the server answered 404/],
    ['/files/notes.txt', /^notes\.txt: This is a text file/],
    [`http://other.test:${site.port}/roms/echo.rom`, /^echo\.rom cannot be fetched from http:\/\/other\.test/]];
  for (const [address, error] of links) {
    await page.goto(`${origin}/lumacor.html?rom=${encodeURIComponent(address)}`);
    if (error) {
      await page.waitForFunction(() => document.getElementById('message').classList.contains('error'));
      assert.match((await message(page)).text, error);
    } else {
      await page.waitForFunction(() => window.lumacor.cartridge === 'echo.rom' && window.lumacor.frame > 1);
    }
  }
  assert.deepEqual(page.pageErrors, []);
  await remote.shut();
  site.close();
});
