// The lumacor extension: starts lumacor-debug for a `lumacor` debug session
// and runs lumacor-asm for a `lumacor-asm` task. VS Code resolves a
// debugger's "program" inside the extension's own folder, never on PATH, so
// both tools are found here: from a setting, else on PATH.
//
// A launch that names `source` assembles it with debug information first
// (into `program`, by default the source's name with .rom); F5 without a
// launch.json launches the open .asm file that way.
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

const romOf = (source) => source.replace(/\.[^./\\]*$/, '') + '.rom';

// Without the assembler a task still runs, and ends at once with status 1
// after saying why: a process that cannot start would leave VS Code waiting
// on the task for good, and every later launch behind it.
function missingToolExecution(error) {
  return new vscode.CustomExecution(async () => {
    const closed = new vscode.EventEmitter();
    return {
      onDidWrite: new vscode.EventEmitter().event,
      onDidClose: closed.event,
      open: () => {
        toolMissing(error, 'assemblerPath');
        closed.fire(1);
      },
      close: () => {},
    };
  });
}

// A `lumacor-asm` task assembles one source with debug information, so a
// launch can name it as its preLaunchTask. Output and debug information
// default to the source's name with .rom and .rom.dbg, where the adapter
// looks for them.
function assembleTask(task) {
  const def = task.definition;
  const found = findTool('lumacor-asm', 'assemblerPath');
  const output = def.output || romOf(def.source);
  const args = [def.source, '-o', output, '-g', def.debugInfo || output + '.dbg'];
  for (const dir of def.includeDirs || []) args.push('-I', dir);
  const scope = task.scope ?? vscode.TaskScope.Workspace;
  const name = task.name || `assemble ${path.basename(def.source)}`;
  const matchers = task.problemMatchers?.length ? task.problemMatchers : ['$lumacor-asm'];
  const execution = found.error ? missingToolExecution(found.error) : new vscode.ProcessExecution(found.path, args);
  return new vscode.Task(def, scope, name, 'lumacor', execution, matchers);
}

// Runs a task; resolves to whether its process ended with status 0.
async function succeeds(task) {
  let execution;
  const ended = new Promise((resolve) => {
    const listener = vscode.tasks.onDidEndTaskProcess((e) => {
      if (e.execution !== execution) return;
      listener.dispose();
      resolve(e.exitCode === 0);
    });
  });
  execution = await vscode.tasks.executeTask(task);
  return ended;
}

function activeAssembly() {
  const document = vscode.window.activeTextEditor?.document;
  return document?.uri.scheme === 'file' && /\.asm$/i.test(document.fileName) ? document.fileName : undefined;
}

// A launch of one source, named as the user sees it in the folder.
function launchOf(folder, source) {
  const relative = folder && path.relative(folder.uri.fsPath, source);
  const shown = relative && !relative.startsWith('..') && !path.isAbsolute(relative)
    ? `\${workspaceFolder}/${relative.split(path.sep).join('/')}` : source;
  return { type: 'lumacor', request: 'launch', name: `Debug ${path.basename(source)}`, source: shown };
}

// Whether the launch's preLaunchTask is a lumacor-asm task of tasks.json.
function assemblesFirst(folder, config) {
  const label = typeof config.preLaunchTask === 'string' ? config.preLaunchTask : undefined;
  const tasks = vscode.workspace.getConfiguration('tasks', folder?.uri).get('tasks') || [];
  return label !== undefined && tasks.some((t) => t.type === 'lumacor-asm' && t.label === label);
}

const debugConfigurations = {
  // "create a launch.json file": a launch of the open .asm file.
  provideDebugConfigurations(folder) {
    const source = activeAssembly();
    if (source) return [launchOf(folder, source)];
    return [{ type: 'lumacor', request: 'launch', name: 'Debug main.asm', source: '${workspaceFolder}/main.asm' }];
  },

  // F5 without a launch.json gives an empty configuration (Ctrl+F5 one
  // with only noDebug).
  resolveDebugConfiguration(folder, config) {
    if (config.type || config.request || config.name) return config;
    const source = activeAssembly();
    if (source) return { ...config, ...launchOf(folder, source) };
    vscode.window.showErrorMessage('lumacor: open the .asm file to debug (or a launch.json that names its "program") and press F5 again.');
    return undefined;
  },

  // A launch stops here, with the reason shown, when its program cannot be
  // assembled: every F5 says the same, and none waits on a task.
  async resolveDebugConfigurationWithSubstitutedVariables(folder, config) {
    const strings = (list) => Array.isArray(list) && list.every((item) => typeof item === 'string');
    if ((config.source !== undefined && typeof config.source !== 'string') ||
        (config.includeDirs !== undefined && !strings(config.includeDirs))) {
      vscode.window.showErrorMessage('lumacor: a launch\'s "source" must be a path, and its "includeDirs" a list of paths.');
      return undefined;
    }
    if (config.request !== 'launch' || (!config.source && !assemblesFirst(folder, config))) return config;
    const found = findTool('lumacor-asm', 'assemblerPath');
    if (found.error) {
      toolMissing(found.error, 'assemblerPath');
      return undefined;
    }
    if (!config.source) return config;
    const program = config.program || romOf(config.source);
    const definition = { type: 'lumacor-asm', source: config.source, output: program };
    if (config.debugInfo) definition.debugInfo = config.debugInfo;
    if (config.includeDirs) definition.includeDirs = config.includeDirs;
    const task = assembleTask({ definition, scope: folder ?? vscode.TaskScope.Workspace });
    if (!(await succeeds(task))) {
      vscode.window.showErrorMessage(`lumacor: ${path.basename(config.source)} did not assemble: its errors are in the Problems view.`);
      return undefined;
    }
    return { ...config, program };
  },
};

function activate(context) {
  context.subscriptions.push(
    vscode.debug.registerDebugAdapterDescriptorFactory('lumacor', adapterFactory),
    vscode.debug.registerDebugConfigurationProvider('lumacor', debugConfigurations),
    vscode.tasks.registerTaskProvider('lumacor-asm', {
      provideTasks: () => [],
      resolveTask: (task) => (task.definition.source ? assembleTask(task) : undefined),
    }),
  );
}

function deactivate() {}

module.exports = { activate, deactivate };
