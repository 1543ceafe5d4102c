// The studio page: projects in the browser, the editor, the assembler (the
// desktop one, compiled to WebAssembly) checking as you type in a worker,
// the player page running the build, and the debugger's session stepping it.
//
// The page wires a project store (store.js) and a build service (build.js)
// to panels (panels/*.js) that know those two and not each other:
//   - editors, which open files: the first whose handles(name, contents) is
//     true gets the file (art for pictures, sound for .snd, code for text);
//     a file more than one handles can be shown in another (*Text view*). An editor is
//     { name, element, handles(name, contents), load(name)?, open(name, line), close() }:
//     `load`, if there is one, reads the file before the editor shows (a
//     promise of false if it cannot); `open` shows it, once its element is shown.
//   - side panels, by name (game, debugger), which the page's buttons and
//     keys drive; `context.show(name, ...args)` asks the page to show one.
// Scripts (and tests) drive the page through window.lumacorStudio.
import { openProjects, memoryProjects } from './projects.js';
import { projectToZip, projectFromZip, projectsToZip } from './projects.js';
import { createStore } from './store.js';
import { createBuild } from './build.js';
import { instantiateTools } from './tools.js';
import { startChecker } from './checker.js';
import { RULES_FILE, artConverter, encodePng } from './art.js';
import { NEW_SOUND, isSound, soundConverter } from './sound.js';
import { codePanel } from './panels/code.js';
import { artPanel } from './panels/art.js';
import { mapPanel } from './panels/map.js';
import { mapConverter } from './map.js';
import { soundPanel } from './panels/sound.js';
import { debuggerPanel } from './panels/debugger.js';
import { gamePanel } from './panels/game.js';
import { download, fromBase64, fromPackedBase64 } from './util.js';
import { HelpPanel } from './help.js';
import { assistance, labelsInScope } from './assist.js';
import { askNewProject, templateFiles } from './templates.js';

const $ = (id) => document.getElementById(id);

function say(words, isError = false) {
  $('status').textContent = words;
  $('status').classList.toggle('error', isError);
}

function ask(question, answer) {
  const text = window.prompt(question, answer);
  return text === null ? null : text.trim();
}

// The sample project: texts, and pictures as { base64 }.
const sample = Object.fromEntries(Object.entries(JSON.parse($('studio-sample').textContent))
  .map(([name, contents]) => [name, typeof contents === 'string' ? contents : fromBase64(contents.base64)]));
const sampleProject = () => ({ name: 'demo', files: { ...sample }, save: null });
const templates = JSON.parse($('studio-templates').textContent);

let store = null;
let build = null;
const editors = [];     // in the order they are asked whether they handle a file
const side = new Map(); // side panels by name
let editor = null;      // the editor showing the open file
let openName = null;

// ---- files ---------------------------------------------------------------------

// The project's files, then the includes the build made from its assets,
// which open read-only.
function listFiles() {
  const item = (name, made = false) => {
    const li = document.createElement('li');
    li.textContent = name;
    li.dataset.name = name;
    li.classList.toggle('open', name === openName);
    li.classList.toggle('made', made);
    if (made) li.title = 'Made by the build from its picture: read-only';
    li.classList.toggle('error', build.problems(name).some((d) => d.severity === 'error'));
    li.addEventListener('click', () => openFile(name));
    return li;
  };
  $('file-list').replaceChildren(...store.files().map((name) => item(name)));
  const made = build.madeNames().filter((name) => !(name in store.project.files) && typeof build.made(name) === 'string');
  $('made-list').replaceChildren(...made.map((name) => item(name, true)));
  $('made-heading').hidden = !made.length;
}

// `editorName` asks for one editor of those that handle the file.
async function openFile(name, line = null, editorName = null) {
  const contents = name in store.project.files ? store.file(name) : build.made(name);
  if (contents === undefined) return;
  const able = editors.filter((e) => e.handles(name, contents));
  const next = able.find((e) => e.name === editorName) || able[0];
  if (!next) {
    say(`${name} is not text: it is kept in the project for the assembler to read.`);
    return;
  }
  if (next.load && !(await next.load(name))) return;
  if (editor && editor !== next) editor.close();
  for (const e of editors) e.element.hidden = e !== next;
  editor = next;
  openName = name;
  next.open(name, line);
  listFiles();
  const other = able.find((e) => e !== editor);
  $('file-view').hidden = !other || !editor;
  if (other) $('file-view').textContent = editor?.name === 'code' ? 'Grid view' : 'Text view';
}

// The open file in the other editor that handles it (a sound's grid or text).
function switchView() {
  if (!openName) return;
  const other = editors.find((e) => e !== editor && e.handles(openName, store.file(openName)));
  if (other) openFile(openName, null, other.name);
}

// ---- projects --------------------------------------------------------------------

async function listProjects() {
  const select = $('project');
  select.replaceChildren();
  for (const name of await store.names()) select.append(new Option(name, name, false, name === store.project?.name));
}

async function switchProject(name, storeCurrent = true) {
  if (store.project && storeCurrent) await store.storeNow();
  await stop();
  if (!(await store.open(name))) return;
  localStorage.setItem('lumacor-studio:project', name);
  editor?.close();
  editor = null;
  openName = null;
  await listProjects();
  const first = store.mainSource() || store.files().find(store.isText);
  if (first) await openFile(first);
  else listFiles();
  build.check();
}

async function newProject() {
  const answer = await askNewProject(templates);
  if (!answer) return;
  const { name } = answer;
  if ((await store.names()).includes(name)) return say(`There is already a project named ${name}.`, true);
  await store.projects.put({ name, files: templateFiles(answer.template, sample['lumacor.inc']), save: null });
  await switchProject(name);
}

async function renameProject() {
  const name = ask('New name of the project:', store.project.name);
  if (!name || name === store.project.name) return;
  if ((await store.names()).includes(name)) return say(`There is already a project named ${name}.`, true);
  await store.rename(name);
  localStorage.setItem('lumacor-studio:project', name);
  await listProjects();
}

async function deleteProject() {
  if (!window.confirm(`Delete the project ${store.project.name} and all its files?`)) return;
  // Nothing of the deleted project may be stored after it is gone: a store
  // due from the last edit would bring it back.
  store.cancelStore();
  await store.projects.remove(store.project.name);
  const names = await store.names();
  if (!names.length) await store.projects.put(sampleProject());
  await switchProject(names[0] || 'demo', false);
}

async function importZip(file) {
  try {
    const data = new Uint8Array(await file.arrayBuffer());
    let name = file.name.replace(/\.zip$/i, '');
    const names = await store.names();
    for (let n = 2; names.includes(name); n++) name = `${file.name.replace(/\.zip$/i, '')} ${n}`;
    await store.projects.put(projectFromZip(name, data));
    await switchProject(name);
    say(`Imported ${file.name} as the project ${name}.`);
  } catch (error) {
    say(`${file.name} cannot be imported: ${error.message}`, true);
  }
}

async function exportZip() {
  await store.storeNow();
  download(`${store.project.name}.zip`, projectToZip(store.project), 'application/zip');
}

async function exportAll() {
  await store.storeNow();
  const all = [];
  for (const name of await store.names()) all.push(name === store.project.name ? store.project : await store.projects.get(name));
  download('lumacor-projects.zip', projectsToZip(all), 'application/zip');
}

// What the store says of the browser's storage and of other tabs.
function listenToStore() {
  store.on('refused', (error) => {
    say(`The browser refused to store ${store.project.name} (${error?.name || 'refused'}${
      error?.name === 'QuotaExceededError' ? ': its storage is full' : ''}): export it as .zip to keep it.`, true);
    $('status-export').hidden = false;
  });
  store.on('stored', () => { $('status-export').hidden = true; });
  store.on('shared', () => say(`${store.project.name} is open in another tab as well: changes made in either ` +
    'come into the other, and a file changed in both keeps the other tab\'s text in a copy beside it.'));
  store.on('merged', (copies, touched) => {
    if (copies.length) {
      say(copies.map(([name, copy]) => `${name} was changed in another tab too: its text there is kept in ${copy}.`)
        .join(' '), true);
    } else if (touched.length) {
      say(`Changed in another tab: ${touched.join(', ')}.`);
    }
    listFiles();
  });
}

function newFile() {
  const name = ask('Name of the new file:', 'new.asm');
  if (!name) return;
  if (name in store.project.files) return say(`There is already a file named ${name}.`, true);
  if (/\.tmj$/i.test(name)) {
    store.writing(async () => {
      await editors.find((e) => e.name === 'map').create(name);
      await openFile(name);
    });
    return;
  }
  if (/\.png$/i.test(name)) return newPicture(name);
  store.setFile(name, isSound(name) ? NEW_SOUND : '');
  openFile(name);
}

// A new picture is a sheet of tiles and sprites of the size asked, its
// patterns from tile 1 on (so a tile map still all 0 shows nothing), or a
// whole screen; gfx.txt gets its line.
function newPicture(name) {
  const answer = ask(`What is ${name}? A sheet of tiles and sprites, "sheet WIDTHxHEIGHT" in pixels ` +
    '(multiples of 8), or a whole 256 x 192 "screen":', 'sheet 128x64');
  if (!answer) return;
  const sheet = /^sheet\s+(\d+)\s*x\s*(\d+)$/i.exec(answer);
  const screen = /^screen$/i.test(answer);
  const [width, height] = sheet ? [Number(sheet[1]), Number(sheet[2])] : [256, 192];
  if (!screen && !(sheet && width % 8 === 0 && height % 8 === 0 && width > 0 && height > 0 && width * height <= 255 * 64)) {
    return say(`${answer}: give "screen", or "sheet WIDTHxHEIGHT" in multiples of 8 with at most 255 tiles ` +
      '(128x64 is 128).', true);
  }
  const line = `${name} ${screen ? '--vram' : '--tiles --first-tile 1'}`;
  const rules = String(store.file(RULES_FILE) ?? '').split('\n').filter((l) => l && l.split(/\s+/)[0] !== name);
  store.writing(async () => {
    store.setFile(name, await encodePng({ width, height, rgba: new Uint8Array(width * height * 4) }));
    store.setFile(RULES_FILE, [...rules, line, ''].join('\n'));
    await openFile(name);
  });
}

// An include the build made is changed through its picture, not by hand.
function madeByBuild() {
  if (!openName || openName in store.project.files) return false;
  say(`${openName} is made by the build from its picture: change the picture or gfx.txt instead.`, true);
  return true;
}

function renameFile() {
  if (!openName || madeByBuild()) return;
  const name = ask(`New name of ${openName}:`, openName);
  if (!name || name === openName) return;
  if (name in store.project.files) return say(`There is already a file named ${name}.`, true);
  const from = openName;
  openName = name;
  store.renameFile(from, name);
  listFiles();
}

function deleteFile() {
  if (!openName || madeByBuild() || !window.confirm(`Delete ${openName}?`)) return;
  const name = openName;
  editor?.close();
  editor = null;
  openName = null;
  store.removeFile(name);
  const next = store.mainSource();
  if (next) openFile(next);
  else listFiles();
}

// ---- running and debugging ------------------------------------------------------------

function sayBuilt(result) {
  if (!result.main) say('The project has no .asm source to build.', true);
  else if (result.ok) say(`Built ${result.main}: ${result.rom.length} bytes in ${result.took.toFixed(0)} ms.`);
  else say(`${result.main} does not assemble: ${result.diagnostics.filter((d) => d.severity === 'error').length} error(s).`, true);
}

function updateButtons() {
  $('stop').disabled = !side.get('debugger').active && !side.get('game').player;
}

async function stop() {
  side.get('debugger').stop();
  const stored = side.get('game').stop();
  updateButtons();
  return stored;
}

async function run(options = {}) {
  const result = await build.build();
  if (!result.ok) return false;
  side.get('debugger').stop();
  const started = await side.get('game').run(result, options);
  updateButtons();
  return started;
}

async function startDebugging() {
  const result = await build.build();
  if (!result.ok) return false;
  await side.get('game').stop();
  const started = side.get('debugger').start(result);
  updateButtons();
  return started;
}

// The debugger's stop line, shown in the code editor (its file opened if need be).
async function showStop(where) {
  const code = editors.find((e) => e.name === 'code');
  if (where && where.file) {
    const name = build.relative(where.file);
    if (name !== openName) await openFile(name);
    if (editor === code) code.markLine(where.line);
  } else if (editor === code) {
    code.markLine(null);
  }
  updateButtons();
}

const debugging = (then) => () => (side.get('debugger').active ? then(side.get('debugger')) : undefined);
const studioKeys = {
  'Ctrl+Enter': () => run(),
  'Escape': stop,
  'F5': () => (side.get('debugger').active ? side.get('debugger').resume(0) : startDebugging()),
  'F8': debugging((d) => d.resume(0)),
  'F10': debugging((d) => d.resume(2)),
  'F11': debugging((d) => d.resume(1)),
  'Shift+F11': debugging((d) => d.resume(3)),
  'Shift+F10': debugging((d) => d.stepBack()),
};

function onStudioKey(event) {
  const name = `${event.ctrlKey || event.metaKey ? 'Ctrl+' : ''}${event.shiftKey ? 'Shift+' : ''}${event.key}`;
  if (!studioKeys[name]) return;
  // Esc stops a game; with none running it is the editor's (closing search).
  if (name === 'Escape' && !side.get('game').player && !side.get('debugger').active) return;
  event.preventDefault();
  event.stopPropagation();
  studioKeys[name]();
}

function wireControls() {
  const on = (id, handler) => $(id).addEventListener('click', handler);
  on('project-new', newProject);
  on('project-rename', renameProject);
  on('project-delete', deleteProject);
  on('project-import', () => $('zip-file').click());
  on('project-export', exportZip);
  on('project-export-all', exportAll);
  on('status-export', exportZip);
  $('zip-file').addEventListener('change', () => {
    if ($('zip-file').files.length) importZip($('zip-file').files[0]);
    $('zip-file').value = '';
  });
  $('project').addEventListener('change', () => switchProject($('project').value));
  on('file-new', newFile);
  on('file-rename', renameFile);
  on('file-delete', deleteFile);
  on('file-view', switchView);
  on('run', () => run());
  on('stop', stop);
  on('debug', startDebugging);
  on('export-html', () => side.get('game').exportHtml());
  on('download-rom', () => side.get('game').downloadRom());
  on('help-toggle', () => side.get('help').toggle());
  window.addEventListener('keydown', onStudioKey, true);
  // F1 outside the editor (which opens the help at its word) opens the help
  // instead of the browser's.
  window.addEventListener('keydown', (event) => {
    if (event.key !== 'F1' || event.defaultPrevented) return;
    event.preventDefault();
    side.get('help').show('');
  });
  window.addEventListener('pagehide', () => {
    side.get('game').keepSave();
    store.storeNow();
  });
}

// ---- start -----------------------------------------------------------------------------

async function start() {
  const module = await WebAssembly.compile(fromPackedBase64($('studio-wasm').textContent));
  const tools = await instantiateTools(module);
  store = createStore(await openProjects().catch(() => memoryProjects()));
  build = createBuild(store, tools, startChecker(module));
  build.addConverter(artConverter);
  build.addConverter(mapConverter);
  build.addConverter(soundConverter);
  build.on('problems', listFiles);
  build.on('converted', listFiles);
  build.on('built', sayBuilt);
  store.on('file', () => listFiles());
  listenToStore();
  // Storage the browser may clear when space runs short, unless it grants this.
  const persisted = navigator.storage?.persist ? navigator.storage.persist().catch(() => false) : Promise.resolve(false);

  const context = { store, build, say, open: openFile, show: (name, ...args) => side.get(name)?.show?.(...args) };
  const help = new HelpPanel($('help'), JSON.parse($('studio-help').textContent));
  side.set('help', help);
  // The labels a line of the open file can name: the other sources' and its own.
  const labels = (state, pos) => labelsInScope(
    store.files().filter((n) => n !== openName && store.isText(n)).map((n) => String(store.file(n))),
    state.doc.toString(), state.doc.lineAt(pos).number);
  editors.push(artPanel(context), mapPanel(context), soundPanel({ ...context, tools }), codePanel({ ...context, extensions: assistance(help, labels) }));
  side.set('game', gamePanel({ ...context, keys: onStudioKey }));
  side.set('debugger', debuggerPanel({ ...context, tools, onStop: showStop, onRun: () => showStop(null),
    onEnd: () => showStop(null) }));
  renderProblems();
  wireControls();

  if (!(await store.names()).length) await store.projects.put(sampleProject());
  const names = await store.names();
  const wanted = localStorage.getItem('lumacor-studio:project');
  await switchProject(names.includes(wanted) ? wanted : names.includes('demo') ? 'demo' : names[0]);
  updateButtons();
  if (store.projects.temporary) say('This browser keeps no projects here: export them as .zip before closing the page.', true);
  else if (!$('status').textContent) say('Ctrl+Enter builds and runs the game.');
  store.persistent = await persisted;
}

// The problem list under the game: every diagnostic of the latest check or build.
function renderProblems() {
  build.on('problems', (diagnostics) => {
    const list = $('problems');
    list.replaceChildren();
    for (const d of diagnostics) {
      const item = document.createElement('li');
      item.className = d.severity;
      const name = build.relative(d.file);
      item.textContent = `${d.line ? `${name}:${d.line}:${d.column}` : name}: ${d.severity}: ${d.message}`;
      item.addEventListener('click', () => openFile(name, d.line));
      list.append(item);
    }
  });
}

const ready = start().catch((error) => {
  say(`The studio could not start: ${error.message}`, true);
  throw error;
});

// The automation interface; docs/studio.md describes it.
window.lumacorStudio = Object.freeze({
  ready,
  files: () => store.files(),
  file: (name) => store.file(name),
  // Whether changes are still to be stored, and whether the browser keeps the storage for good.
  get unsaved() { return store ? store.unsaved : false; },
  get persistent() { return Boolean(store?.persistent); },
  async setFile(name, contents) {
    store.setFile(name, typeof contents === 'string' ? contents : new Uint8Array(contents));
    listFiles();
    await store.storeNow();
  },
  async build() {
    const result = await build.build();
    return { ok: result.ok, errors: result.diagnostics.map((d) => ({ ...d, file: build.relative(d.file) })),
      rom: result.rom };
  },
  run: (options) => run(options),
  stop: () => stop(),
  get player() { return side.get('game')?.player ?? null; },
  get debugger() { return side.get('debugger')?.session?.automation() ?? null; },
  get project() { return store?.project ? store.project.name : null; },
  openFile: (name, line) => openFile(name, line),
  toggleBreakpoint: (line) => editors.find((e) => e.name === 'code').toggleBreakpoint(line),
  help: (word) => side.get('help').show(word),
  // The page's sound preview: `frames` frames of samples of the block `name`
  // of the open sound file, from its start, as lumacor-sound --wav gives them.
  soundPreview: (name, frames) => editors.find((e) => e.name === 'sound').previewSamples(name, frames),
  get soundPlaying() { return editors.find((e) => e.name === 'sound')?.playing ?? null; },
});
