// What the studio's tests share: the page, opened as a person opens it, New
// and keys as a person uses them, and pictures written as PNG files.
import path from 'node:path';
import zlib from 'node:zlib';
import { crc32 } from '../../web/studio/src/util.js';
import { fileUrl, saveDownloads, temporaryFolder, webBuild } from '../web/support.mjs';

export const studio = fileUrl(path.join(webBuild, 'studio.html'));

// A page on the studio in `context` (by default one of its own, so storage
// starts empty); answers its prompts with `answers` in turn and keeps what it
// downloads in page.downloads.folder. `prepare` runs in the page before its scripts.
export async function openStudio(browser, { answers = [], context = null, prepare = null } = {}) {
  context ??= await browser.createBrowserContext();
  const page = await context.newPage();
  await page.setViewport({ width: 1400, height: 900 });
  page.pageErrors = [];
  page.on('pageerror', (error) => page.pageErrors.push(error.message));
  page.on('dialog', (dialog) => dialog.accept(answers.shift()));
  if (prepare) await page.evaluateOnNewDocument(prepare);
  const folder = temporaryFolder();
  page.downloads = { folder, ...await saveDownloads(browser, folder, context.id) };
  await page.goto(studio);
  await page.evaluate(() => window.lumacorStudio.ready);
  return page;
}

export const statusOf = (page) => page.$eval('#status', (s) => ({ text: s.textContent, error: s.classList.contains('error') }));

export const ctrl = async (page, key) => {
  await page.keyboard.down('Control');
  await page.keyboard.press(key);
  await page.keyboard.up('Control');
};

// Makes a project with New, its name and template chosen in the dialog.
export async function newProject(page, name, template = 'Blank') {
  await page.click('#project-new');
  await page.waitForSelector('#new-project[open]');
  await page.$eval('#new-project-name', (input) => { input.value = ''; });
  await page.type('#new-project-name', name);
  for (const label of await page.$$('#new-project label.template')) {
    if ((await label.evaluate((l) => l.querySelector('b').textContent.trim())) === template) await label.click();
  }
  await page.click('#new-project-create');
  await page.waitForFunction((wanted) => window.lumacorStudio.project === wanted, {}, name);
}

// An RGBA picture as PNG, for the desktop tools to read.
export function encodePng({ width, height, rgba }) {
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const sizes = Buffer.alloc(8);
    sizes.writeUInt32BE(data.length, 0);
    sizes.writeUInt32BE(crc32(body), 4);
    return Buffer.concat([sizes.subarray(0, 4), body, sizes.subarray(4)]);
  };
  const rows = Buffer.alloc((width * 4 + 1) * height);
  for (let y = 0; y < height; y++) Buffer.from(rgba.subarray(y * width * 4, (y + 1) * width * 4)).copy(rows, y * (width * 4 + 1) + 1);
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 6, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A]), chunk('IHDR', header),
    chunk('IDAT', zlib.deflateSync(rows)), chunk('IEND', Buffer.alloc(0))]);
}

// A picture of `width` x `height` painted by colourAt(x, y) -> [r, g, b, a].
export function picture(width, height, colourAt) {
  const rgba = new Uint8Array(width * height * 4);
  for (let y = 0; y < height; y++) for (let x = 0; x < width; x++) rgba.set(colourAt(x, y), 4 * (y * width + x));
  return { width, height, rgba };
}
