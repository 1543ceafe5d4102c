// The VS Code extension in a real VS Code (code-server in headless
// Chromium): the packaged extension is installed, a workspace holding the
// demo and the tasks.json of editors/vscode/examples is opened, and a
// breakpoint is set in the frame handler with F9. Then, in turn:
// - a line the assembler refuses is added and the build task run: its error
//   must reach the Problems view on that line;
// - F5 without a launch.json assembles the open demo.asm with debug
//   information beside it and stops on the breakpoint, registers shown;
// - "create a launch.json file" writes a launch of demo.asm, and F5 with it
//   stops there too; so does the examples' launch.json, through its task;
// - a launch of a ROM that is not there shows the adapter's reason;
// - with the assembler missing, each of two F5s shows the same message
//   naming the setting, and none waits on the task.
//   node vscode.test.js CODE_SERVER VSIX DEMO_DIR EXAMPLES_DIR ADAPTER ASSEMBLER WORK
// The extension finds lumacor-debug on the PATH of the user's login shell
// (code-server takes its environment from there), as the docs tell users to
// put it, and lumacor-asm through the workspace's lumacor.assemblerPath.
'use strict';
const { spawn, execFileSync } = require('child_process');
const fs = require('fs');
const net = require('net');
const path = require('path');
const puppeteer = require('puppeteer-core');

const [codeServer, vsix, demoDir, examples, adapter, assembler, work] = process.argv.slice(2);
const ws = path.join(work, 'demo');
fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(path.join(ws, '.vscode'), { recursive: true });
for (const f of fs.readdirSync(demoDir).filter((f) => f.endsWith('.asm') || f.endsWith('.inc'))) fs.copyFileSync(path.join(demoDir, f), path.join(ws, f));
fs.cpSync(path.join(demoDir, 'art'), path.join(ws, 'art'), { recursive: true });
fs.copyFileSync(path.join(examples, 'tasks.json'), path.join(ws, '.vscode', 'tasks.json'));
const settings = (asm) => fs.writeFileSync(path.join(ws, '.vscode', 'settings.json'), JSON.stringify({ 'lumacor.assemblerPath': asm }));
const launchJson = path.join(ws, '.vscode', 'launch.json');
settings(assembler);
fs.writeFileSync(path.join(work, '.profile'), `PATH=${path.dirname(adapter)}:$PATH\n`);
const breakLine = fs.readFileSync(path.join(ws, 'demo.asm'), 'utf8').split('\n').indexOf('frame:') + 3; // the handler's second line

const env = { ...process.env, HOME: work, XDG_CONFIG_HOME: path.join(work, 'config'), XDG_DATA_HOME: path.join(work, 'data') };
const dirs = ['--user-data-dir', path.join(work, 'user-data'), '--extensions-dir', path.join(work, 'extensions')];
execFileSync(codeServer, [...dirs, '--install-extension', vsix], { env, stdio: 'inherit' });

async function chord(page, modifiers, key) {
  for (const m of modifiers) await page.keyboard.down(m);
  await page.keyboard.press(key);
  for (const m of modifiers) await page.keyboard.up(m);
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const texts = (page, selector) => page.$$eval(selector, (els) => els.map((el) => el.textContent)).catch(() => []);
const MESSAGES = '.notification-list-item-message, .monaco-dialog-box';

// Runs a command of the palette by its title.
async function command(page, title) {
  await page.keyboard.press('F1');
  await page.waitForSelector('.quick-input-widget input', { visible: true });
  await page.keyboard.type(title);
  await page.waitForFunction((t) => [...document.querySelectorAll('.quick-input-list .monaco-list-row')]
    .some((e) => e.ariaLabel?.startsWith(t)), {}, title);
  await page.keyboard.press('Enter');
}

// Waits for a notification or dialog holding `text`, then closes them all.
async function expectMessage(page, text, what) {
  await page.waitForFunction((selector, t) => [...document.querySelectorAll(selector)]
    .some((e) => e.textContent.includes(t)), {}, MESSAGES, text).catch(async () => {
    throw new Error(`${what}: no message with "${text}"; shown: ${await texts(page, MESSAGES)}`);
  });
  console.log(`vscode: ${what}: "${(await texts(page, MESSAGES)).find((t) => t.includes(text))}"`);
  if (await page.$('.monaco-dialog-box')) await page.keyboard.press('Escape');
  await command(page, 'Notifications: Clear All Notifications');
  await page.waitForFunction((selector) => !document.querySelector(selector), {}, MESSAGES);
}

// F5 from the source, then the top frame must be demo.asm at `line`, with
// the Registers scope open; the session is then stopped.
async function debugsTo(page, line, what) {
  await page.locator('.monaco-editor .view-lines').click();
  await page.keyboard.press('F5');
  await page.waitForFunction((l) => {
    const top = document.querySelector('.debug-call-stack .stack-frame');
    return top?.querySelector('.file-name')?.textContent === 'demo.asm' &&
      top.querySelector('.line-number')?.textContent.startsWith(`${l}:`);
  }, {}, line).catch(async () => {
    throw new Error(`${what}: no stop on demo.asm:${line}; shown: ${await texts(page, MESSAGES)}`);
  });
  const registers = await page.waitForFunction(() => {
    const rows = [...document.querySelectorAll('.debug-variables .monaco-list-row')].map((e) => e.ariaLabel);
    return rows.includes('Scope Registers') && rows.find((r) => /^r0, value 0x[0-9A-F]{2} \(\d+\)$/.test(r));
  });
  console.log(`vscode: ${what}: stopped on demo.asm:${line}, registers shown (${await registers.jsonValue()}, ...)`);
  await chord(page, ['Shift'], 'F5');
  await page.waitForFunction(() => !document.querySelector('.debug-call-stack .stack-frame'));
}

async function main() {
  const port = await new Promise((resolve) => {
    const probe = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
  const log = fs.openSync(path.join(work, 'code-server.log'), 'w');
  const server = spawn(codeServer, [...dirs, '--bind-addr', `127.0.0.1:${port}`, '--auth', 'none', '--disable-telemetry',
    '--disable-update-check', '--disable-workspace-trust', ws], { env, stdio: ['ignore', log, log], detached: true });
  const browser = await puppeteer.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu'], defaultViewport: { width: 1400, height: 900 } });
  const page = await browser.newPage();
  page.setDefaultTimeout(90000);
  try {
    // Until code-server listens and serves its page: while it starts, it may
    // answer 404.
    for (let tries = 0; ; tries++) {
      const loaded = await page.goto(`http://127.0.0.1:${port}/?folder=${encodeURIComponent(ws)}`).catch((e) => e);
      if (!(loaded instanceof Error) && loaded?.ok()) break;
      if (tries > 60) throw loaded instanceof Error ? loaded : new Error(`code-server answers ${loaded?.status()}`);
      await new Promise((r) => setTimeout(r, 500));
    }
    await page.locator('.explorer-folders-view ::-p-text(demo.asm)').click();
    await page.locator('.monaco-editor .view-lines').click();
    await chord(page, ['Control'], 'KeyG');
    await page.keyboard.type(`${breakLine}\n`);
    // F9 does nothing until the extension host has registered the debugger
    // types, which the page does not show; so it is pressed until the
    // breakpoint appears, each time after a pause long enough to draw it.
    for (let tries = 0; ; tries++) {
      await page.keyboard.press('F9');
      const shown = await page.waitForSelector('.monaco-editor .codicon-debug-breakpoint', { timeout: 3000 }).catch(() => null);
      if (shown) break;
      if (tries > 30) throw new Error('F9 set no breakpoint');
    }
    const demo = fs.readFileSync(path.join(ws, 'demo.asm'), 'utf8');
    const badLine = demo.split('\n').length;
    fs.appendFileSync(path.join(ws, 'demo.asm'), '        BOGUS r0\n');
    await chord(page, ['Control', 'Shift'], 'KeyB');
    await page.waitForFunction(() => document.getElementById('status.problems')?.ariaLabel.startsWith('Errors: 1'));
    await chord(page, ['Control', 'Shift'], 'KeyM');
    await page.waitForFunction((line) => [...document.querySelectorAll('.markers-panel .monaco-list-row')]
      .some((e) => e.ariaLabel.startsWith(`Error: unknown mnemonic 'BOGUS' at line ${line} `)), {}, badLine);
    console.log(`vscode: the build task's error is in the Problems view at demo.asm:${badLine}`);
    fs.writeFileSync(path.join(ws, 'demo.asm'), demo);

    const rom = path.join(ws, 'demo.rom');
    await debugsTo(page, breakLine, 'F5 without a launch.json');
    if (!fs.existsSync(rom + '.dbg')) throw new Error('F5 without a launch.json wrote no demo.rom.dbg beside demo.asm');

    // The link of the Run and Debug view; VS Code may first ask which debugger.
    await chord(page, ['Control', 'Shift'], 'KeyD');
    await page.locator('::-p-text(create a launch.json file)').click();
    for (const until = Date.now() + 60000; !fs.existsSync(launchJson); await sleep(200)) {
      if (Date.now() > until) throw new Error('"create a launch.json file" wrote no launch.json');
      const picker = await page.$('.quick-input-widget .monaco-list-row[aria-label^="lumacor"]');
      if (picker && await picker.isVisible()) await picker.click();
    }
    await sleep(500); // written in one go, but read only once it is whole
    const created = JSON.parse(fs.readFileSync(launchJson, 'utf8').replace(/^\s*\/\/.*$/gm, '')).configurations;
    if (created.length !== 1 || created[0].source !== '${workspaceFolder}/demo.asm')
      throw new Error(`the created launch.json does not launch demo.asm: ${JSON.stringify(created)}`);
    fs.rmSync(rom + '.dbg');
    await debugsTo(page, breakLine, 'the created launch.json');
    if (!fs.existsSync(rom + '.dbg')) throw new Error('the created launch.json did not assemble demo.asm');

    // The launch and the task of editors/vscode/examples.
    fs.copyFileSync(path.join(examples, 'launch.json'), launchJson);
    await sleep(1000);
    await debugsTo(page, breakLine, 'the examples\' launch.json and tasks.json');

    const lost = { type: 'lumacor', request: 'launch', name: 'Debug lost', program: '${workspaceFolder}/lost.rom' };
    fs.writeFileSync(launchJson, JSON.stringify({ version: '0.2.0', configurations: [lost] }));
    await sleep(1000);
    await page.locator('.monaco-editor .view-lines').click();
    await page.keyboard.press('F5');
    await expectMessage(page, `cannot read the ROM image ${path.join(ws, 'lost.rom')}`, 'a launch of a missing ROM');

    fs.copyFileSync(path.join(examples, 'launch.json'), launchJson);
    settings(path.join(work, 'no-such-lumacor-asm'));
    await sleep(1000);
    for (const attempt of ['first', 'second']) {
      await page.locator('.monaco-editor .view-lines').click();
      await page.keyboard.press('F5');
      await expectMessage(page, 'no-such-lumacor-asm is not an executable file', `the ${attempt} F5 without the assembler`);
      const waiting = await texts(page, '.statusbar, .notifications-toasts, .monaco-dialog-box');
      if (waiting.some((t) => t.includes('Waiting for preLaunchTask'))) throw new Error('the launch waits on its task');
    }

  } catch (e) {
    console.error(`vscode: FAILED: ${e.message}\ncall stack: ${await texts(page, '.debug-call-stack .monaco-list-row')}`);
    console.error(`notifications: ${await texts(page, MESSAGES)}\nscreenshot and log in ${work}`);
    await page.screenshot({ path: path.join(work, 'failure.png') }).catch(() => {});
    process.exitCode = 1;
  } finally {
    await browser.close();
    process.kill(-server.pid);
  }
}

main();
