// The studio page: projects in the browser, the editor, the assembler (the
// desktop one, compiled to WebAssembly) checking as you type in a worker,
// the player page running the build, and the debugger's session stepping it.
// Scripts (and tests) drive the page through window.lumacorStudio.
import { EditorView } from '@codemirror/view';
import { editorState, showDiagnostics, breakpointLines, toggleBreakpointAt, markCurrentLine } from './editor.js';
import { findDefinition } from './asm-language.js';
import { openProjects, memoryProjects, mainSource, projectToZip, projectFromZip, isText } from './projects.js';
import { instantiateTools } from './tools.js';
import { startChecker } from './checker.js';
import { Debugger } from './debugger.js';
import { ArtEditor, RULES_FILE, convertArt, decodePng, encodePng, optionsOf, parseRules, coloursOf } from './art.js';
import { HelpPanel } from './help.js';
import { assistance, labelsInScope } from './assist.js';
import { askNewProject, templateFiles } from './templates.js';

const $ = (id) => document.getElementById(id);

function fromBase64(encoded) {
  const binary = atob(encoded);
  const data = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) data[i] = binary.charCodeAt(i);
  return data;
}

function toBase64(data) {
  let binary = '';
  for (let i = 0; i < data.length; i += 0x8000) binary += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
  return btoa(binary);
}

// The CRC the player keys a cartridge's save RAM by (CRC-32, as zip uses).
const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(data) {
  let crc = 0xFFFFFFFF;
  for (const byte of data) crc = crcTable[(crc ^ byte) & 0xFF] ^ (crc >>> 8);
  return (crc ^ 0xFFFFFFFF) >>> 0;
}

function download(name, data, type) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([data], { type }));
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

function say(words, isError = false) {
  $('status').textContent = words;
  $('status').classList.toggle('error', isError);
}

// ---- state ---------------------------------------------------------------------

let projects = null;   // the IndexedDB store
let project = null;    // { name, files, save, main }
let openFile = null;   // the file in the editor
const states = new Map(); // file name -> its EditorState (undo history, breakpoints)
let view = null;
let tools = null;      // the page's own instance of the assembler and debugger
let checker = null;
let lastBuild = null;  // { ok, rom, debugInfo, diagnostics }
let player = null;     // { frame, api } while the game runs
let debug = null;
let diagnosticsByFile = new Map();
let art = null;        // the tile and sprite editor
let artConversion = null; // the pictures converted: a promise, until a picture or gfx.txt changes
let artShown = false;
let help = null;       // the help panel
const playerPage = new TextDecoder().decode(fromBase64($('studio-player').textContent));
const EMBEDDED_STYLE = 'header, footer { display: none; } #stage { padding: 0; } #screen { width: 512px; height: 384px; }';
const ROM_SLOT = '<script type="application/octet-stream" id="lumacor-rom" data-name=""></script>';

// Files are named for the tools by absolute paths under one folder per
// project, as the assembler's diagnostics and debug information name them.
const root = () => `/${project.name.replace(/[^\w.-]+/g, '_')}/`;
const relative = (path) => (path.startsWith(root()) ? path.slice(root().length) : path);

// The editor's state of a file: the open one's is the view's.
const liveState = (name) => (name === openFile && view && !artShown ? view.state : states.get(name));

const liveText = (name) => (liveState(name) ? liveState(name).doc.toString() : String(project.files[name]));

// The project's files as the assembler reads them: the editor's text, and
// the converted pictures (`converted`) where the sources include them.
function currentFiles(converted = null) {
  const files = new Map();
  if (converted) for (const [name, contents] of converted.outputs) files.set(root() + name, contents);
  for (const [name, contents] of Object.entries(project.files)) {
    const state = liveState(name);
    files.set(root() + name, state ? state.doc.toString() : contents);
  }
  return files;
}

async function convertedArt() {
  await pictureSaved;
  if (!artConversion) {
    const files = { ...project.files };
    const rules = liveState(RULES_FILE);
    if (rules) files[RULES_FILE] = rules.doc.toString();
    artConversion = convertArt(tools, files);
  }
  return artConversion;
}

const artProblems = (converted) => converted.problems.map((p) => ({ severity: 'error', file: root() + p.file, line: 0,
  column: 0, message: p.message }));

// ---- projects and files ----------------------------------------------------------

let saveTimer = 0;
function storeProjectSoon() {
  clearTimeout(saveTimer);
  saveTimer = setTimeout(storeProject, 400);
}

async function storeProject() {
  clearTimeout(saveTimer);
  if (openFile && view && !artShown) states.set(openFile, view.state);
  for (const [name, state] of states) if (name in project.files) project.files[name] = state.doc.toString();
  await projects.put(project);
}

async function listProjects() {
  const select = $('project');
  select.replaceChildren();
  for (const name of await projects.names()) select.append(new Option(name, name, false, name === project?.name));
}

function listFiles() {
  const list = $('file-list');
  list.replaceChildren();
  for (const name of Object.keys(project.files).sort()) {
    const item = document.createElement('li');
    item.textContent = name;
    item.dataset.name = name;
    item.classList.toggle('open', name === openFile);
    item.classList.toggle('error', (diagnosticsByFile.get(name) || []).some((d) => d.severity === 'error'));
    item.addEventListener('click', () => showFile(name));
    list.append(item);
  }
}

async function switchProject(name, storeCurrent = true) {
  if (project && storeCurrent) await storeProject();
  stop();
  project = await projects.get(name);
  if (!project) return;
  localStorage.setItem('lumacor-studio:project', name);
  states.clear();
  artConversion = null;
  diagnosticsByFile = new Map();
  lastBuild = null;
  openFile = null;
  await listProjects();
  const first = mainSource(project) || Object.keys(project.files).find(isText);
  if (first) showFile(first);
  else listFiles();
  check();
}

function stateFor(name) {
  if (!states.has(name)) {
    states.set(name, editorState(String(project.files[name]), [
      EditorView.updateListener.of((update) => {
        if (update.docChanged) {
          if (name === RULES_FILE) artConversion = null;
          storeProjectSoon();
          check();
        }
        if (debug && update.transactions.some((t) => t.effects.length)) debug.setBreakpoints(breakpointsByFile());
      }),
      ...assistance(help, (state, pos) => labelsInScope(
        Object.keys(project.files).filter((n) => n !== name && isText(n)).map((n) => liveText(n)),
        state.doc.toString(), state.doc.lineAt(pos).number)),
      EditorView.domEventHandlers({
        mousedown: (event) => {
          if (!(event.ctrlKey || event.metaKey)) return false;
          const pos = view.posAtCoords({ x: event.clientX, y: event.clientY });
          if (pos === null) return false;
          event.preventDefault();
          goToDefinition(pos);
          return true;
        },
        keydown: (event) => {
          if (event.key !== 'F12') return false;
          event.preventDefault();
          goToDefinition(view.state.selection.main.head);
          return true;
        },
      }),
    ]));
  }
  return states.get(name);
}

async function showPicture(name) {
  const picture = await decodePng(project.files[name]).catch(() => null);
  if (!picture) return say(`${name} cannot be read as a PNG picture.`, true);
  if (openFile && view && !artShown) states.set(openFile, view.state);
  const rules = parseRules(String(liveState(RULES_FILE)?.doc.toString() ?? project.files[RULES_FILE] ?? ''));
  const options = optionsOf(name, rules.get(name) || []);
  // The colours to draw with: those of the picture the palette comes from,
  // else the picture's own.
  const from = options.paletteFrom && project.files[options.paletteFrom] instanceof Uint8Array
    ? await decodePng(project.files[options.paletteFrom]) : picture;
  openFile = name;
  artShown = true;
  $('code').hidden = true;
  $('art').hidden = false;
  art.open(name, picture, coloursOf(from), options.screen);
  listFiles();
}

// A drawn picture is saved as PNG; builds wait for the save under way.
let pictureSaved = Promise.resolve();
function pictureChanged(name, picture) {
  artConversion = null;
  const target = project;
  pictureSaved = pictureSaved.then(() => encodePng(picture)).then((bytes) => {
    target.files[name] = bytes;
    artConversion = null;
    storeProjectSoon();
    check();
  });
}

function showFile(name, line = null) {
  if (!(name in project.files)) return;
  if (/\.png$/i.test(name) && project.files[name] instanceof Uint8Array) {
    showPicture(name);
    return;
  }
  if (!isText(name)) {
    say(`${name} is not text: it is kept in the project for the assembler to read.`);
    return;
  }
  if (openFile && view && !artShown) states.set(openFile, view.state);
  artShown = false;
  $('code').hidden = false;
  $('art').hidden = true;
  openFile = name;
  view.setState(stateFor(name));
  showDiagnostics(view, diagnosticsByFile.get(name) || []);
  if (line) {
    const target = view.state.doc.line(Math.min(line, view.state.doc.lines));
    view.dispatch({ selection: { anchor: target.from }, scrollIntoView: true });
  }
  if (debug) debug.showWhere();
  listFiles();
  view.focus();
}

// The word under `pos`, looked up as a label or constant: a local label
// (".name") in the scope of the global label above it, anything else in
// every file of the project.
function goToDefinition(pos) {
  const doc = view.state.doc;
  const line = doc.lineAt(pos);
  const at = pos - line.from;
  const before = line.text.slice(0, at).match(/[\w.]*$/)[0];
  const after = line.text.slice(at).match(/^[\w]*/)[0];
  const word = before + after;
  if (!word) return;
  if (word.startsWith('.')) {
    const text = doc.toString().split('\n');
    let scope = line.number - 1;
    while (scope > 0 && !/^[A-Za-z_]\w*:/.test(text[scope])) scope--;
    const found = findDefinition(text.slice(scope).join('\n'), word);
    if (found) showFile(openFile, scope + found.line);
    return;
  }
  const name = word.includes('.') ? word.slice(0, word.indexOf('.')) : word;
  const order = [openFile, ...Object.keys(project.files).filter((n) => n !== openFile && isText(n))];
  for (const file of order) {
    const text = liveState(file) ? liveState(file).doc.toString() : String(project.files[file]);
    const found = findDefinition(text, name);
    if (found) {
      showFile(file, found.line);
      return;
    }
  }
  say(`No definition of ${name} in the project.`);
}

// ---- checking as you type and building ------------------------------------------------

function showProblems(diagnostics) {
  diagnosticsByFile = new Map();
  for (const d of diagnostics) {
    const name = relative(d.file);
    if (!diagnosticsByFile.has(name)) diagnosticsByFile.set(name, []);
    diagnosticsByFile.get(name).push({ ...d, file: name });
  }
  if (openFile) showDiagnostics(view, diagnosticsByFile.get(openFile) || []);
  const list = $('problems');
  list.replaceChildren();
  for (const d of diagnostics) {
    const item = document.createElement('li');
    item.className = d.severity;
    const place = d.line ? `${relative(d.file)}:${d.line}:${d.column}` : relative(d.file);
    item.textContent = `${place}: ${d.severity}: ${d.message}`;
    item.addEventListener('click', () => showFile(relative(d.file), d.line));
    list.append(item);
  }
  listFiles();
}

async function check() {
  const main = mainSource(project);
  if (!main) return;
  const converted = await convertedArt();
  checker.check(currentFiles(converted), root() + main, artProblems(converted));
}

async function build() {
  const main = mainSource(project);
  if (!main) {
    lastBuild = { ok: false, rom: new Uint8Array(0), debugInfo: '', diagnostics: [] };
    say('The project has no .asm source to build.', true);
    return lastBuild;
  }
  const started = performance.now();
  const converted = await convertedArt();
  const assembled = tools.assemble(currentFiles(converted), root() + main, true);
  const took = performance.now() - started;
  // A picture that breaks the machine's rules fails the build, as the
  // converter fails a desktop build.
  const problems = artProblems(converted);
  const result = { ...assembled, ok: assembled.ok && !problems.length,
    diagnostics: [...problems, ...assembled.diagnostics] };
  if (!result.ok) result.image = new Uint8Array(0);
  lastBuild = { ...result, rom: result.image, main };
  showProblems(result.diagnostics);
  if (result.ok) say(`Built ${main}: ${result.image.length} bytes in ${took.toFixed(0)} ms.`);
  else say(`${main} does not assemble: ${result.diagnostics.filter((d) => d.severity === 'error').length} error(s).`, true);
  return lastBuild;
}

// ---- running -----------------------------------------------------------------------

const romName = () => `${project.name.replace(/[^\w.-]+/g, '_')}.rom`;

// The player page with the image in it, as lumacor-export writes it.
function exportedPage(rom, name, extra = '') {
  const escaped = name.replace(/&/g, '&amp;').replace(/"/g, '&quot;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  return playerPage.replace(ROM_SLOT,
    () => `<script type="application/octet-stream" id="lumacor-rom" data-name="${escaped}"${extra}>${toBase64(rom)}</script>`);
}

// The running game's save RAM into the project, stored at once when it
// changed; the promise tells when it is stored.
function keepSave() {
  if (!player || !player.api) return Promise.resolve();
  try {
    const save = player.api.saveRAM();
    if (save && (!project.save || save.some((b, i) => b !== project.save[i]))) {
      project.save = save;
      return storeProject();
    }
  } catch {
    // the player is gone or broke; its last save was kept
  }
  return Promise.resolve();
}

function stop() {
  let stored = Promise.resolve();
  if (debug) {
    debug.close();
    debug = null;
    if (view) markCurrentLine(view, null);
  }
  $('debug-panel').hidden = true;
  $('debug-screen').hidden = true;
  if (player) {
    stored = keepSave();
    clearInterval(player.saveTimer);
    player.frame.remove();
    player = null;
    say('Stopped.');
  }
  updateButtons();
  return stored;
}

async function run({ paused = false } = {}) {
  const result = await build();
  if (!result.ok) return false;
  await stop();
  // The project's save RAM goes where the player looks for this image's.
  const key = `lumacor:save:${crc32(result.rom).toString(16).padStart(8, '0')}`;
  try {
    if (project.save) localStorage.setItem(key, toBase64(project.save));
    else localStorage.removeItem(key);
  } catch {
    // storage refused: the game starts with blank save RAM
  }
  const frame = document.createElement('iframe');
  frame.title = 'The game';
  // The exported page, with only its picture showing: the studio has the controls.
  frame.srcdoc = exportedPage(result.rom, romName(), paused ? ' data-paused' : '')
    .replace('</head>', () => `<style>${EMBEDDED_STYLE}</style></head>`);
  const session = { frame, api: null, saveTimer: 0 };
  player = session;
  const ready = new Promise((resolve, reject) => {
    frame.addEventListener('load', () => {
      const api = frame.contentWindow.lumacor;
      if (!api) return reject(new Error('the player did not start'));
      // The studio's keys work while the game has the focus.
      frame.contentWindow.addEventListener('keydown', onStudioKey, true);
      api.ready.then(() => {
        session.api = api;
        resolve(api);
      }, reject);
    }, { once: true });
  });
  $('screen-box').append(frame);
  session.saveTimer = setInterval(keepSave, 2000);
  await ready;
  if (player !== session) return false;
  if (!paused) frame.focus();
  say(paused ? `${romName()} is loaded and paused.` : `Running ${romName()}: Esc stops it.`);
  updateButtons();
  return true;
}

async function startDebugging() {
  const result = await build();
  if (!result.ok) return false;
  keepSave();
  stop();
  debug = new Debugger(tools, {
    canvas: $('debug-screen'),
    panel: $('debug-panel'),
    root: root(),
    onStop: (where) => {
      if (where.file) {
        const name = relative(where.file);
        if (name !== openFile) showFile(name);
        markCurrentLine(view, where.line);
      } else {
        markCurrentLine(view, null);
      }
      updateButtons();
    },
    onRun: () => {
      markCurrentLine(view, null);
      updateButtons();
    },
    say,
  });
  if (!debug.launch(result.rom, result.debugInfo)) {
    say('The debugger cannot start this image.', true);
    debug = null;
    return false;
  }
  debug.setBreakpoints(breakpointsByFile());
  debug.start();
  $('debug-panel').hidden = false;
  $('debug-screen').hidden = false;
  say('Debugging: the program runs to its first breakpoint.');
  updateButtons();
  return true;
}

function breakpointsByFile() {
  if (openFile && view && !artShown) states.set(openFile, view.state);
  const all = new Map();
  for (const [name, state] of states) all.set(root() + name, breakpointLines(state));
  return all;
}

function updateButtons() {
  const stopped = debug && debug.state() === 'stopped';
  $('continue').disabled = !stopped;
  for (const id of ['step-in', 'step-over', 'step-out', 'step-back']) $(id).disabled = !stopped;
  $('pause').disabled = !(debug && debug.state() === 'running');
  $('stop').disabled = !debug && !player;
}

// ---- sharing ------------------------------------------------------------------------

async function exportHtml() {
  const result = await build();
  if (!result.ok) return null;
  const page = exportedPage(result.rom, romName());
  download(romName().replace(/\.rom$/, '.html'), page, 'text/html');
  return page;
}

async function downloadRom() {
  const result = await build();
  if (result.ok) download(romName(), result.rom, 'application/octet-stream');
}

// ---- the page's controls -----------------------------------------------------------------

function ask(question, answer) {
  const text = window.prompt(question, answer);
  return text === null ? null : text.trim();
}

async function newProject() {
  const answer = await askNewProject(templates);
  if (!answer) return;
  const { name } = answer;
  if ((await projects.names()).includes(name)) return say(`There is already a project named ${name}.`, true);
  await projects.put({ name, files: templateFiles(answer.template, sample['lumacor.inc']), save: null });
  await switchProject(name);
}

async function renameProject() {
  const name = ask('New name of the project:', project.name);
  if (!name || name === project.name) return;
  if ((await projects.names()).includes(name)) return say(`There is already a project named ${name}.`, true);
  await storeProject();
  const old = project.name;
  await projects.put({ ...project, name });
  await projects.remove(old);
  project.name = name;
  localStorage.setItem('lumacor-studio:project', name);
  await listProjects();
}

async function deleteProject() {
  if (!window.confirm(`Delete the project ${project.name} and all its files?`)) return;
  // Nothing of the deleted project may be stored after it is gone: a store
  // due from the last edit would bring it back.
  clearTimeout(saveTimer);
  const old = project.name;
  await projects.remove(old);
  const names = await projects.names();
  if (!names.length) await projects.put(sampleProject());
  await switchProject(names[0] || 'demo', false);
}

async function importZip(file) {
  try {
    const data = new Uint8Array(await file.arrayBuffer());
    let name = file.name.replace(/\.zip$/i, '');
    const names = await projects.names();
    for (let n = 2; names.includes(name); n++) name = `${file.name.replace(/\.zip$/i, '')} ${n}`;
    await projects.put(projectFromZip(name, data));
    await switchProject(name);
    say(`Imported ${file.name} as the project ${name}.`);
  } catch (error) {
    say(`${file.name} cannot be imported: ${error.message}`, true);
  }
}

async function exportZip() {
  await storeProject();
  download(`${project.name}.zip`, projectToZip(project), 'application/zip');
}

function newFile() {
  const name = ask('Name of the new file:', 'new.asm');
  if (!name) return;
  if (name in project.files) return say(`There is already a file named ${name}.`, true);
  if (/\.png$/i.test(name)) {
    // A new picture is a blank screen; a sheet of tiles is cut from it as
    // gfx.txt says.
    encodePng({ width: 256, height: 192, rgba: new Uint8Array(256 * 192 * 4) }).then((bytes) => {
      project.files[name] = bytes;
      artConversion = null;
      storeProjectSoon();
      showFile(name);
      check();
    });
    return;
  }
  project.files[name] = '';
  storeProjectSoon();
  showFile(name);
}

function renameFile() {
  if (!openFile) return;
  const name = ask(`New name of ${openFile}:`, openFile);
  if (!name || name === openFile) return;
  if (name in project.files) return say(`There is already a file named ${name}.`, true);
  project.files[name] = artShown ? project.files[openFile] : view.state.doc.toString();
  delete project.files[openFile];
  artConversion = null;
  if (diagnosticsByFile.has(openFile)) diagnosticsByFile.delete(openFile);
  states.set(name, view.state);
  states.delete(openFile);
  if (project.main === openFile) project.main = name;
  openFile = name;
  storeProjectSoon();
  listFiles();
  check();
}

function deleteFile() {
  if (!openFile || !window.confirm(`Delete ${openFile}?`)) return;
  delete project.files[openFile];
  artConversion = null;
  states.delete(openFile);
  openFile = null;
  storeProjectSoon();
  const next = mainSource(project);
  if (next) showFile(next);
  else listFiles();
  check();
}

// The sample project: texts, and pictures as { base64 }.
const sample = Object.fromEntries(Object.entries(JSON.parse($('studio-sample').textContent))
  .map(([name, contents]) => [name, typeof contents === 'string' ? contents : fromBase64(contents.base64)]));
const templates = JSON.parse($('studio-templates').textContent);
const sampleProject = () => ({ name: 'demo', files: { ...sample }, main: 'demo.asm', save: null });

function wireControls() {
  const on = (id, handler) => $(id).addEventListener('click', handler);
  on('project-new', newProject);
  on('project-rename', renameProject);
  on('project-delete', deleteProject);
  on('project-import', () => $('zip-file').click());
  on('project-export', exportZip);
  $('zip-file').addEventListener('change', () => {
    if ($('zip-file').files.length) importZip($('zip-file').files[0]);
    $('zip-file').value = '';
  });
  $('project').addEventListener('change', () => switchProject($('project').value));
  on('file-new', newFile);
  on('file-rename', renameFile);
  on('file-delete', deleteFile);
  on('run', () => run());
  on('stop', stop);
  on('debug', startDebugging);
  on('continue', () => debug && debug.resume(0));
  on('pause', () => debug && debug.pause());
  on('step-in', () => debug && debug.resume(1));
  on('step-over', () => debug && debug.resume(2));
  on('step-out', () => debug && debug.resume(3));
  on('step-back', () => debug && debug.stepBack());
  on('export-html', exportHtml);
  on('download-rom', downloadRom);
  on('help-toggle', () => help.toggle());
  $('memory-address').addEventListener('change', () => debug && debug.showWhere());
  window.addEventListener('keydown', onStudioKey, true);
  window.addEventListener('pagehide', () => {
    keepSave();
    storeProject();
  });
}

const studioKeys = {
  'Ctrl+Enter': () => run(), 'Escape': stop, 'F5': () => (debug ? debug.resume(0) : startDebugging()),
  'F8': () => debug && debug.resume(0), 'F10': () => debug && debug.resume(2), 'F11': () => debug && debug.resume(1),
  'Shift+F11': () => debug && debug.resume(3), 'Shift+F10': () => debug && debug.stepBack(),
};

function onStudioKey(event) {
  const name = `${event.ctrlKey || event.metaKey ? 'Ctrl+' : ''}${event.shiftKey ? 'Shift+' : ''}${event.key}`;
  if (!studioKeys[name]) return;
  // Esc stops a game; with none running it is the editor's (closing search).
  if (name === 'Escape' && !player && !debug) return;
  event.preventDefault();
  event.stopPropagation();
  studioKeys[name]();
}

// ---- start -----------------------------------------------------------------------------

async function start() {
  const module = await WebAssembly.compile(fromBase64($('studio-wasm').textContent));
  tools = await instantiateTools(module);
  checker = startChecker(module, (diagnostics) => showProblems(diagnostics));
  projects = await openProjects().catch(() => memoryProjects());
  if (!(await projects.names()).length) await projects.put(sampleProject());
  help = new HelpPanel($('help'), JSON.parse($('studio-help').textContent));
  view = new EditorView({ parent: $('code') });
  art = new ArtEditor($('art'), { onChange: pictureChanged, say });
  wireControls();
  const names = await projects.names();
  const wanted = localStorage.getItem('lumacor-studio:project');
  await switchProject(names.includes(wanted) ? wanted : names.includes('demo') ? 'demo' : names[0]);
  updateButtons();
  say(projects.temporary ? 'This browser keeps no projects here: export them as .zip before closing the page.'
    : 'Ctrl+Enter builds and runs the game.', Boolean(projects.temporary));
}

const ready = start().catch((error) => {
  say(`The studio could not start: ${error.message}`, true);
  throw error;
});

// The automation interface; docs/studio.md describes it.
window.lumacorStudio = Object.freeze({
  ready,
  files: () => Object.keys(project.files).sort(),
  async setFile(name, contents) {
    const text = typeof contents === 'string';
    project.files[name] = text ? contents : new Uint8Array(contents);
    if (name === RULES_FILE || !text) artConversion = null;
    const state = liveState(name);
    if (state && text) {
      const changed = state.update({ changes: { from: 0, to: state.doc.length, insert: contents } }).state;
      states.set(name, changed);
      if (openFile === name) view.setState(changed);
    } else {
      states.delete(name);
      if (openFile === name) showFile(name);
    }
    listFiles();
    check();
    await storeProject();
  },
  async build() {
    const result = await build();
    return ({
      ok: result.ok,
      errors: result.diagnostics.map((d) => ({ ...d, file: relative(d.file) })),
      rom: result.rom,
    });
  },
  run: (options) => run(options),
  stop: () => stop(),
  get player() { return player ? player.api : null; },
  get debugger() { return debug ? debug.automation() : null; },
  get project() { return project ? project.name : null; },
  openFile: (name, line) => showFile(name, line),
  toggleBreakpoint: (line) => toggleBreakpointAt(view, line),
  help: (word) => help.show(word),
});
