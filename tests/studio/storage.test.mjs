// Nothing lost: two tabs on one project, storage the browser refuses, a tab
// that dies while it writes, and every project exported at once.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { unzipSync, strFromU8 } from '../../web/studio/node_modules/fflate/esm/index.mjs';
import { launchBrowser } from '../web/support.mjs';
import { newProject, openStudio, statusOf } from './support.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.shut());

// Types `text` at the start of a file's line, as a person does.
async function typeInto(page, name, line, text) {
  await page.evaluate((n, l) => window.lumacorStudio.openFile(n, l), name, line);
  await page.keyboard.type(text);
}
// Polled on a timer: a tab in the background paints no frames.
const until = (page, condition, ...args) => page.waitForFunction(condition, { polling: 100 }, ...args);
const stored = (page) => until(page, () => !window.lumacorStudio.unsaved);
const shownText = (page) => page.$eval('.cm-content', (c) => c.innerText);

test('two tabs on one project: both are told, each takes in what the other typed, and text typed in both at once is all kept', async () => {
  const first = await openStudio(browser);
  const second = await openStudio(browser, { context: first.browserContext() });
  for (const page of [first, second])
    await until(page, () => /open in another tab/.test(document.getElementById('status').textContent));

  await typeInto(first, 'game.asm', 1, '; from the first tab\n');
  await typeInto(second, 'video.asm', 1, '; from the second tab\n');
  await until(first, () => window.lumacorStudio.file('video.asm').startsWith('; from the second tab'));
  await until(second, () => window.lumacorStudio.file('game.asm').startsWith('; from the first tab'));
  // The editor shows what came in, and the tab's own text is still there.
  await first.evaluate(() => window.lumacorStudio.openFile('video.asm'));
  assert.match(await shownText(first), /^; from the second tab/);
  assert.match(await first.evaluate(() => window.lumacorStudio.file('game.asm')), /^; from the first tab/);

  // The same file typed in both before either is stored.
  await Promise.all([typeInto(first, 'sound.asm', 1, '; both: first\n'), typeInto(second, 'sound.asm', 1, '; both: second\n')]);
  await Promise.all([stored(first), stored(second)]);
  const third = await openStudio(browser, { context: first.browserContext() });
  const all = await third.evaluate(() => window.lumacorStudio.files().map((n) => window.lumacorStudio.file(n))
    .filter((c) => typeof c === 'string').join('\n'));
  assert.match(all, /; both: first/);
  assert.match(all, /; both: second/);
  assert.match(all, /; from the first tab/);
  assert.match(all, /; from the second tab/);
  for (const page of [first, second, third]) assert.deepEqual(page.pageErrors, []);
  await first.browserContext().close();
});

test('the page asks to keep its storage; a refusal to store is said at once, with Export .zip, which holds what was typed', async () => {
  const page = await openStudio(browser, { prepare: () => {
    window.persistAsked = 0;
    Object.defineProperty(StorageManager.prototype, 'persist', { value: async () => ++window.persistAsked > 0 });
  } });
  assert.equal(await page.evaluate(() => window.persistAsked), 1);
  assert.equal(await page.evaluate(() => window.lumacorStudio.persistent), true);
  await page.evaluate(() => {
    window.realPut = IDBObjectStore.prototype.put;
    IDBObjectStore.prototype.put = () => { throw new DOMException('full', 'QuotaExceededError'); };
  });
  await typeInto(page, 'demo.asm', 1, '; kept in the zip\n');
  await page.waitForFunction(() => /refused.*storage is full.*export it as \.zip/.test(document.getElementById('status').textContent));
  assert.equal((await statusOf(page)).error, true);
  assert.equal(await page.$eval('#status-export', (b) => b.hidden), false);
  const zip = unzipSync(await page.downloads.take('demo.zip', () => page.click('#status-export')));
  assert.match(strFromU8(zip['demo.asm']), /^; kept in the zip\n/);

  // Storage back: the next change is stored and the offer goes.
  await page.evaluate(() => { IDBObjectStore.prototype.put = window.realPut; });
  await typeInto(page, 'demo.asm', 2, ';');
  await stored(page);
  assert.equal(await page.$eval('#status-export', (b) => b.hidden), true);
  await page.browserContext().close();
});

test('a tab that dies while it stores leaves one whole version: all of a change or none of it', async () => {
  const page = await openStudio(browser);
  const context = page.browserContext();
  const names = ['one.asm', 'two.asm', 'three.asm'];
  const text = (name) => `; ${name}\n`.repeat(20000);
  const crashed = new Promise((resolve) => page.once('error', resolve));
  await page.evaluate((list, texts) => list.forEach((n, i) => window.lumacorStudio.setFile(n, texts[i])),
    names, names.map(text));
  const session = await page.createCDPSession();
  session.send('Page.crash').catch(() => {});
  await crashed;
  const again = await openStudio(browser, { context });
  const kept = await again.evaluate((list) => list.map((n) => window.lumacorStudio.file(n) ?? null), names);
  const present = kept.filter((contents) => contents !== null);
  assert.ok(present.length === 0 || present.length === names.length, `${present.length} of the files kept`);
  kept.forEach((contents, i) => assert.ok(contents === null || contents === text(names[i])));
  assert.ok(await again.evaluate(() => window.lumacorStudio.files().includes('demo.asm')));
  await context.close();
});

test('Export all writes every project in one zip, a folder each', async () => {
  const page = await openStudio(browser);
  await newProject(page, 'second');
  await page.evaluate(() => window.lumacorStudio.setFile('main.asm', '; second\n'));
  const zip = unzipSync(await page.downloads.take('lumacor-projects.zip', () => page.click('#project-export-all')));
  assert.equal(strFromU8(zip['second/main.asm']), '; second\n');
  assert.ok(zip['demo/demo.asm'] && zip['demo/art/tiles.png'] && zip['demo/gfx.txt']);
  assert.deepEqual(new Set(Object.keys(zip).map((name) => name.split('/')[0])), new Set(['demo', 'second']));
  await page.browserContext().close();
});
