// The VS Code extension in a real VS Code (code-server in headless
// Chromium): the packaged extension is installed, a workspace holding the
// demo and the launch.json and tasks.json of editors/vscode/examples is
// opened, a breakpoint is set in the frame handler with F9, F5 assembles the
// demo through the lumacor-asm task and starts lumacor-debug, and the session
// must stop on that line with the registers shown.
//   node vscode.test.js CODE_SERVER VSIX DEMO_DIR EXAMPLES_DIR ADAPTER ASSEMBLER WORK
// The extension finds lumacor-asm on the PATH of the user's login shell
// (code-server takes its environment from there), and the adapter through
// the workspace's setting lumacor.debugAdapterPath.
'use strict';
const { spawn, execFileSync } = require('child_process');
const fs = require('fs');
const net = require('net');
const path = require('path');
const puppeteer = require('puppeteer-core');

const [codeServer, vsix, demoDir, examples, adapter, assembler, work] = process.argv.slice(2);
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const writeJson = (file, value) => {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, JSON.stringify(value, null, 2));
};

const ws = path.join(work, 'demo');
const userData = path.join(work, 'user-data');
const extensions = path.join(work, 'extensions');
fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(ws, { recursive: true });
for (const f of fs.readdirSync(demoDir).filter((f) => f.endsWith('.asm'))) {
  fs.copyFileSync(path.join(demoDir, f), path.join(ws, f));
}
for (const f of ['launch.json', 'tasks.json']) fs.cpSync(path.join(examples, f), path.join(ws, '.vscode', f));
writeJson(path.join(ws, '.vscode', 'settings.json'), { 'lumacor.debugAdapterPath': adapter });
writeJson(path.join(userData, 'User', 'settings.json'), {
  'workbench.startupEditor': 'none',
  'security.workspace.trust.enabled': false,
  'telemetry.telemetryLevel': 'off',
  'extensions.autoCheckUpdates': false,
});

const source = fs.readFileSync(path.join(ws, 'demo.asm'), 'utf8').split('\n');
const breakLine = source.indexOf('frame:') + 3; // 1-based: the handler's second instruction

const env = { ...process.env, HOME: work, XDG_CONFIG_HOME: path.join(work, 'config'), XDG_DATA_HOME: path.join(work, 'data') };
fs.writeFileSync(path.join(work, '.profile'), `PATH=${path.dirname(assembler)}:$PATH\n`);
const common = ['--user-data-dir', userData, '--extensions-dir', extensions];
execFileSync(codeServer, [...common, '--install-extension', vsix], { env, stdio: 'inherit' });

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

// The texts of the elements matching `selector` in the page, in order.
const texts = (page, selector) =>
  page.$$eval(selector, (els) => els.map((e) => e.textContent.trim()));

async function main() {
  const port = await freePort();
  const log = fs.openSync(path.join(work, 'code-server.log'), 'w');
  const server = spawn(codeServer, [...common, '--bind-addr', `127.0.0.1:${port}`, '--auth', 'none',
    '--disable-telemetry', '--disable-update-check', '--disable-workspace-trust', ws],
  { env, stdio: ['ignore', log, log], detached: true });
  const browser = await puppeteer.launch({ executablePath: CHROMIUM, headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--window-size=1400,900'], defaultViewport: { width: 1400, height: 900 } });
  const page = await browser.newPage();
  page.setDefaultTimeout(90000);
  try {
    for (let tries = 0; ; tries++) { // until code-server listens
      try {
        await page.goto(`http://127.0.0.1:${port}/?folder=${encodeURIComponent(ws)}`);
        break;
      } catch (e) {
        if (tries > 60) throw e;
        await new Promise((r) => setTimeout(r, 500));
      }
    }
    await page.locator('.explorer-folders-view ::-p-text(demo.asm)').click();
    await page.waitForSelector('.monaco-editor .view-lines');
    await page.locator('.monaco-editor .view-lines').click();
    await page.keyboard.down('Control');
    await page.keyboard.press('KeyG');
    await page.keyboard.up('Control');
    await page.keyboard.type(`${breakLine}`);
    await page.keyboard.press('Enter');
    // F9 does nothing until the extension host has registered the
    // debugger types, which the page does not show; so it is pressed until
    // the breakpoint appears, each time after a pause long enough to draw it.
    for (let tries = 0; ; tries++) {
      await page.keyboard.press('F9');
      const shown = await page.waitForSelector('.monaco-editor .codicon-debug-breakpoint', { timeout: 3000 })
        .then(() => true, () => false);
      if (shown) break;
      if (tries > 30) throw new Error('F9 set no breakpoint');
    }
    await page.keyboard.press('F5');

    // The top frame of the call stack is demo.asm at the breakpoint's line.
    await page.waitForFunction((line) => {
      const top = document.querySelector('.debug-call-stack .stack-frame');
      return top && top.querySelector('.file-name')?.textContent === 'demo.asm' &&
        top.querySelector('.line-number')?.textContent.startsWith(`${line}:`);
    }, {}, breakLine);
    // The Registers scope, opened, with r0's value.
    await page.waitForFunction(() => {
      const rows = [...document.querySelectorAll('.debug-variables .monaco-list-row')].map((e) => e.ariaLabel);
      return rows.includes('Scope Registers') && rows.some((r) => /^r0, value 0x[0-9A-F]{2} \(\d+\)$/.test(r));
    });
    const registers = await page.$$eval('.debug-variables .monaco-list-row', (els) => els.map((e) => e.ariaLabel));
    console.log(`vscode: stopped on demo.asm:${breakLine}, registers shown (${registers.slice(1, 3).join('; ')}; ...)`);
  } catch (e) {
    await page.screenshot({ path: path.join(work, 'failure.png') }).catch(() => {});
    console.error(`vscode: FAILED: ${e.message}`);
    console.error('call stack:', await texts(page, '.debug-call-stack .monaco-list-row').catch(() => []));
    console.error('notifications:', await texts(page, '.notification-list-item-message').catch(() => []));
    console.error(`screenshot and code-server's log in ${work}`);
    process.exitCode = 1;
  } finally {
    await browser.close();
    process.kill(-server.pid);
  }
}

main();
