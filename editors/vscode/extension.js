// The lumacor extension: starts lumacor-debug for a `lumacor` debug session
// and runs lumacor-asm for a `lumacor-asm` task. VS Code resolves a
// debugger's "program" inside the extension's own folder, never on PATH, so
// both tools are found here: from a setting, else on PATH.
'use strict';
const vscode = require('vscode');
const fs = require('fs');
const os = require('os');
const path = require('path');

const EXE = process.platform === 'win32' ? '.exe' : '';

function isExecutable(file) {
  try {
    return fs.statSync(file).isFile() && (fs.accessSync(file, fs.constants.X_OK), true);
  } catch {
    return false;
  }
}

// A setting may start with ~ or ${workspaceFolder}, or be relative to the
// first workspace folder.
function expandSetting(value) {
  const folder = vscode.workspace.workspaceFolders?.[0]?.uri.fsPath ?? '';
  let p = value.replace(/\$\{workspaceFolder\}/g, folder);
  if (p === '~' || p.startsWith('~/')) p = path.join(os.homedir(), p.slice(1));
  return path.isAbsolute(p) || !folder ? p : path.join(folder, p);
}

// Finds a tool; returns { path } or { error } naming what was tried and how
// to set it.
function findTool(name, setting) {
  const configured = vscode.workspace.getConfiguration('lumacor').get(setting, '').trim();
  const how = `Set "lumacor.${setting}" in your settings to the full path of ${name}` +
    ` (built by \`cmake --build build --target ${name}\`), or put ${name} on PATH.`;
  if (configured) {
    const p = expandSetting(configured);
    if (isExecutable(p)) return { path: p };
    return { error: `lumacor: "lumacor.${setting}" is ${JSON.stringify(configured)}, but ${p} is not an executable file. ${how}` };
  }
  const dirs = (process.env.PATH || '').split(path.delimiter).filter(Boolean);
  for (const dir of dirs) {
    const p = path.join(dir, name + EXE);
    if (isExecutable(p)) return { path: p };
  }
  return { error: `lumacor: cannot find ${name}: "lumacor.${setting}" is not set and ${name} is not on PATH (${dirs.join(path.delimiter) || 'empty'}). ${how}` };
}

// Shows the error with a button to the setting; returned to be thrown where
// the tool was needed, so the session does not start.
function toolMissing(error, setting) {
  vscode.window.showErrorMessage(error, 'Open Settings').then((choice) => {
    if (choice) vscode.commands.executeCommand('workbench.action.openSettings', `lumacor.${setting}`);
  });
  return new Error(error);
}

const adapterFactory = {
  createDebugAdapterDescriptor() {
    const found = findTool('lumacor-debug', 'debugAdapterPath');
    if (found.error) throw toolMissing(found.error, 'debugAdapterPath');
    return new vscode.DebugAdapterExecutable(found.path, []);
  },
};

// A `lumacor-asm` task assembles one source with debug information, so a
// launch can name it as its preLaunchTask. Output and debug information
// default to the source's name with .rom and .rom.dbg, where the adapter
// looks for them. VS Code resolves the tasks of tasks.json before anyone runs
// them, so a missing assembler is reported when the task starts, not here.
function assembleTask(task) {
  const def = task.definition;
  const found = findTool('lumacor-asm', 'assemblerPath');
  const output = def.output || def.source.replace(/\.[^./\\]*$/, '') + '.rom';
  const args = [def.source, '-o', output, '-g', def.debugInfo || output + '.dbg'];
  for (const dir of def.includeDirs || []) args.push('-I', dir);
  const scope = task.scope ?? vscode.TaskScope.Workspace;
  const name = task.name || `assemble ${path.basename(def.source)}`;
  const matchers = task.problemMatchers?.length ? task.problemMatchers : ['$lumacor-asm'];
  return new vscode.Task(def, scope, name, 'lumacor', new vscode.ProcessExecution(found.path ?? 'lumacor-asm', args), matchers);
}

function activate(context) {
  context.subscriptions.push(
    vscode.debug.registerDebugAdapterDescriptorFactory('lumacor', adapterFactory),
    vscode.tasks.registerTaskProvider('lumacor-asm', {
      provideTasks: () => [],
      resolveTask: (task) => (task.definition.source ? assembleTask(task) : undefined),
    }),
    vscode.tasks.onDidStartTask(({ execution }) => {
      if (execution.task.definition.type !== 'lumacor-asm') return;
      const found = findTool('lumacor-asm', 'assemblerPath');
      if (found.error) toolMissing(found.error, 'assemblerPath');
    }),
  );
}

function deactivate() {}

module.exports = { activate, deactivate };
