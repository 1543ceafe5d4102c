// The project store: the open project (its files, save RAM and breakpoints) and the browser's store of projects behind it. Every panel
// reads and writes the project through it, and hears through it what the
// others changed; no panel holds a copy that the store does not have.
//
// How a panel uses it:
//   store.project                 { name, files: { name: string | Uint8Array }, save, breakpoints }
//   store.file(name)              a file's contents (a string for text, bytes for the rest)
//   store.setFile(name, contents, by)
//                                 changes or adds a file and stores it soon; `by` names the
//                                 panel that wrote it, so it can ignore its own change
//   store.removeFile(name), store.renameFile(from, to)
//   store.breakpoints(name)       the lines of a file that hold a breakpoint
//   store.setBreakpoints(name, lines, by)
//   store.setSave(bytes)          the game's save RAM
//   store.note(key), store.setNote(key, value)
//                                 small values a panel keeps with the project (the art
//                                 panel's swatch order), stored with it
//   store.mainSource()            the source the game is built from (see mainSource)
//   store.writing(task)           runs `task` (async: a picture being encoded) after the changes
//                                 under way; builds and stores wait for it
//   store.settled()               resolves once every change under way is in the project
//   store.on(event, listener)     'file' (name, by): a file changed, was added or removed;
//                                 'renamed' (from, to), before the 'file' of each name;
//                                 'breakpoints' (name, by); 'project' (): another project was opened;
//                                 'stored' (): the project was written to the browser's store;
//                                 'refused' (error): the browser would not store it;
//                                 'merged' (copies): another tab's changes came in, and
//                                 [[name, copy]] for each file changed in both
//                                 (the other tab's text is kept in `copy`);
//                                 'shared' (): the project is open in another tab as well
//
// Tabs of one browser share the stored projects. Every write says which
// version it replaced; a tab that finds another's write in between merges
// the two (see mergeProjects), and each tab tells the others on a broadcast
// channel when it has written, so an idle tab takes their changes at once.
import { isText, mainSource } from './projects.js';

const STORE_DELAY_MS = 400;
const CHANNEL = 'lumacor-studio';

const sameContents = (a, b) => a === b || (a instanceof Uint8Array && b instanceof Uint8Array &&
  a.length === b.length && a.every((byte, i) => byte === b[i]));

export function createStore(projects, channel = projects.temporary || typeof BroadcastChannel === 'undefined'
  ? null : new BroadcastChannel(CHANNEL)) {
  const listeners = new Map();
  const tab = Math.random().toString(36).slice(2);
  let timer = 0;
  let underWay = Promise.resolve();
  let base = null;     // the project as this tab last read or wrote it
  let changes = 0;     // changes made since `base`
  let writing = null;  // the write under way

  const emit = (event, ...args) => {
    for (const listener of listeners.get(event) || []) listener(...args);
  };

  const store = {
    projects,
    project: null,

    on(event, listener) {
      if (!listeners.has(event)) listeners.set(event, []);
      listeners.get(event).push(listener);
    },

    file: (name) => store.project.files[name],
    files: () => Object.keys(store.project.files).sort(),
    isText,
    mainSource: () => mainSource(store.project),

    setFile(name, contents, by = null) {
      if (name in store.project.files && sameContents(store.project.files[name], contents)) return;
      store.project.files[name] = contents;
      store.changed();
      emit('file', name, by);
    },

    removeFile(name) {
      const project = store.project;
      delete project.files[name];
      if (project.breakpoints) delete project.breakpoints[name];
      store.changed();
      emit('file', name, null);
    },

    renameFile(from, to) {
      const project = store.project;
      project.files[to] = project.files[from];
      delete project.files[from];
      if (project.breakpoints?.[from]) {
        project.breakpoints[to] = project.breakpoints[from];
        delete project.breakpoints[from];
      }
      store.changed();
      emit('renamed', from, to);
      emit('file', from, null);
      emit('file', to, null);
    },

    // The game's save RAM; stored at once, for the game may be closed any moment.
    setSave(bytes) {
      store.project.save = bytes;
      changes++;
      return store.storeNow();
    },

    note: (key) => store.project.notes?.[key],

    setNote(key, value) {
      store.project.notes = { ...store.project.notes, [key]: value };
      store.changed();
    },

    breakpoints: (name) => store.project.breakpoints?.[name] || [],

    setBreakpoints(name, lines, by = null) {
      const project = store.project;
      const before = store.breakpoints(name);
      if (before.length === lines.length && before.every((line, i) => line === lines[i])) return;
      project.breakpoints = { ...project.breakpoints, [name]: lines };
      if (!lines.length) delete project.breakpoints[name];
      store.changed();
      emit('breakpoints', name, by);
    },

    writing(task) {
      underWay = underWay.then(task);
      return underWay;
    },
    settled: () => underWay,

    // Something of the project changed (the save RAM, set directly): it is stored soon.
    changed() {
      changes++;
      clearTimeout(timer);
      timer = setTimeout(() => store.storeNow(), STORE_DELAY_MS);
    },

    // Stores the project as it stands, changes under way included; a
    // promise settled once it is stored (or refused: 'refused' tells).
    async storeNow() {
      clearTimeout(timer);
      await underWay;
      while (writing) await writing;
      if (!store.project || !changes) return;
      writing = write().finally(() => { writing = null; });
      await writing;
    },

    get unsaved() { return changes > 0; },

    // Forgets a store that is due (the project is being deleted).
    cancelStore: () => clearTimeout(timer),

    names: () => projects.names(),

    async rename(name) {
      changes++;
      await store.storeNow();
      const old = store.project.name;
      await projects.put({ ...store.project, name });
      await projects.remove(old);
      store.project.name = name;
      base.name = name;
    },

    async open(name) {
      const project = await projects.get(name);
      if (!project) return false;
      clearTimeout(timer);
      store.project = project;
      base = structuredClone(project);
      changes = 0;
      emit('project');
      channel?.postMessage({ kind: 'opened', name, tab });
      return true;
    },
  };

  // Writes the project; what the write brought in from another tab replaces
  // this tab's files, except those changed again while it was written.
  async function write() {
    const project = store.project;
    const mine = { ...project, files: { ...project.files } };
    const counted = changes;
    let result;
    try {
      result = await projects.write(mine, base);
    } catch (error) {
      emit('refused', error);
      return;
    }
    if (store.project !== project) return;
    base = structuredClone(result.project);
    changes -= counted;
    if (result.merged) takeIn(result.project, mine.files, result.copies);
    emit('stored');
    channel?.postMessage({ kind: 'stored', name: project.name, version: result.project.version, tab });
  }

  // Takes another tab's version of the project (`theirs`) into this one's;
  // `mine` is this tab's files as they were when the two were merged.
  function takeIn(theirs, mine, copies = []) {
    const project = store.project;
    const touched = [];
    for (const name of new Set([...Object.keys(theirs.files), ...Object.keys(mine)])) {
      if (!sameContents(project.files[name], mine[name])) continue; // typed in since
      if (sameContents(project.files[name], theirs.files[name])) continue;
      if (name in theirs.files) project.files[name] = theirs.files[name];
      else delete project.files[name];
      touched.push(name);
    }
    project.save = theirs.save;
    project.breakpoints = theirs.breakpoints;
    for (const name of touched) emit('file', name, 'another tab');
    emit('merged', copies, touched);
  }

  // Another tab wrote this project: an idle tab takes its version, one with
  // changes of its own writes them now, which merges the two.
  async function heard({ kind, name, version, tab: from }) {
    if (from === tab || !store.project || name !== store.project.name) return;
    if (kind === 'opened' || kind === 'here') {
      if (kind === 'opened') channel.postMessage({ kind: 'here', name, tab });
      emit('shared');
      return;
    }
    if (kind !== 'stored' || version <= (base?.version || 0)) return;
    if (changes) return store.storeNow();
    while (writing) await writing;
    const theirs = await projects.get(name);
    if (!theirs || store.project?.name !== name || changes || theirs.version <= (base?.version || 0)) return;
    const mine = { ...store.project.files };
    base = structuredClone(theirs);
    takeIn(theirs, mine);
  }
  if (channel) channel.onmessage = (event) => heard(event.data);

  return store;
}
