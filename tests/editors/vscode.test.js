// The VS Code extension in a real VS Code (code-server in headless
// Chromium): the packaged extension is installed, a workspace holding the
// demo and the launch.json and tasks.json of editors/vscode/examples is
// opened, a breakpoint is set in the frame handler with F9, F5 assembles the
// demo through the lumacor-asm task and starts lumacor-debug, and the session
// must stop on that line with the registers shown. Before F5, a line the
// assembler refuses is added and the build task run: its error must reach
// the Problems view on that line.
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
for (const f of ['launch.json', 'tasks.json']) fs.copyFileSync(path.join(examples, f), path.join(ws, '.vscode', f));
fs.writeFileSync(path.join(ws, '.vscode', 'settings.json'), JSON.stringify({ 'lumacor.assemblerPath': assembler }));
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
    for (let tries = 0; ; tries++) { // until code-server listens
      const loaded = await page.goto(`http://127.0.0.1:${port}/?folder=${encodeURIComponent(ws)}`).catch((e) => e);
      if (!(loaded instanceof Error)) break;
      if (tries > 60) throw loaded;
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
    await page.keyboard.press('F5');

    // The top frame of the call stack is demo.asm at the breakpoint's line,
    // and the Registers scope is open with r0's value.
    await page.waitForFunction((line) => {
      const top = document.querySelector('.debug-call-stack .stack-frame');
      return top?.querySelector('.file-name')?.textContent === 'demo.asm' &&
        top.querySelector('.line-number')?.textContent.startsWith(`${line}:`);
    }, {}, breakLine);
    const registers = await page.waitForFunction(() => {
      const rows = [...document.querySelectorAll('.debug-variables .monaco-list-row')].map((e) => e.ariaLabel);
      return rows.includes('Scope Registers') && rows.find((r) => /^r0, value 0x[0-9A-F]{2} \(\d+\)$/.test(r));
    });
    console.log(`vscode: stopped on demo.asm:${breakLine}, registers shown (${await registers.jsonValue()}, ...)`);

  } catch (e) {
    const shown = (selector) => page.$$eval(selector, (els) => els.map((el) => el.textContent)).catch(() => []);
    console.error(`vscode: FAILED: ${e.message}\ncall stack: ${await shown('.debug-call-stack .monaco-list-row')}`);
    console.error(`notifications: ${await shown('.notification-list-item-message')}\nscreenshot and log in ${work}`);
    await page.screenshot({ path: path.join(work, 'failure.png') }).catch(() => {});
    process.exitCode = 1;
  } finally {
    await browser.close();
    process.kill(-server.pid);
  }
}

main();
