// What the studio's browser tests share: a fresh page on the studio, and
// New as a person uses it.
import path from 'node:path';
import { fileUrl, saveDownloads, temporaryFolder, webBuild } from '../web/support.mjs';

export const studioUrl = fileUrl(path.join(webBuild, 'studio.html'));

// A fresh page in a context of its own (storage starts empty); answers its
// prompts with `answers` in turn.
export async function openStudio(browser, answers = []) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  await page.setViewport({ width: 1400, height: 900 });
  page.pageErrors = [];
  page.on('pageerror', (error) => page.pageErrors.push(error.message));
  page.on('dialog', (dialog) => dialog.accept(answers.shift()));
  const folder = temporaryFolder();
  page.downloads = { folder, ...await saveDownloads(browser, folder, context.id) };
  await page.goto(studioUrl);
  await page.evaluate(() => window.lumacorStudio.ready);
  return page;
}

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

