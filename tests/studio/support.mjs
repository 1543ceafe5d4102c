// What the studio's browser tests share: the page, opened as a person opens it.
import path from 'node:path';
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
