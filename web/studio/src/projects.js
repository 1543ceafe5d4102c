// Projects kept in the browser: each one a record of its files (text for
// sources, bytes for pictures and other binaries), its breakpoints and its
// save RAM, in one IndexedDB store. Zip archives carry a project in and out.
import { zipSync, unzipSync, strToU8, strFromU8 } from 'fflate';

const DATABASE = 'lumacor-studio';
const STORE = 'projects';

function request(r) {
  return new Promise((resolve, reject) => {
    r.onsuccess = () => resolve(r.result);
    r.onerror = () => reject(r.error);
  });
}

// Projects kept only while the page is open, for a browser that refuses
// IndexedDB (some private windows).
export function memoryProjects() {
  const kept = new Map();
  return {
    names: async () => [...kept.keys()].sort(),
    get: async (name) => structuredClone(kept.get(name)),
    put: async (project) => { kept.set(project.name, structuredClone(project)); },
    remove: async (name) => { kept.delete(name); },
    write: async (mine, base) => {
      const result = writeOver(kept.get(mine.name), mine, base);
      kept.set(mine.name, structuredClone(result.project));
      return result;
    },
    temporary: true,
  };
}

export async function openProjects() {
  const open = indexedDB.open(DATABASE, 1);
  open.onupgradeneeded = () => open.result.createObjectStore(STORE, { keyPath: 'name' });
  const db = await request(open);
  const store = (mode) => db.transaction(STORE, mode).objectStore(STORE);
  return {
    names: async () => (await request(store('readonly').getAllKeys())).map(String).sort(),
    get: (name) => request(store('readonly').get(name)),
    put: (project) => request(store('readwrite').put(project)),
    remove: (name) => request(store('readwrite').delete(name)),
    // Reads what the store holds and writes `mine` over it (merged, if
    // another tab wrote since `base`) in one transaction: a write cut short
    // leaves the record as it was, and no tab writes between the read and
    // the write.
    write: (mine, base) => new Promise((resolve, reject) => {
      const transaction = db.transaction(STORE, 'readwrite');
      const projects = transaction.objectStore(STORE);
      let result = null;
      let refused = null;
      const read = projects.get(mine.name);
      read.onsuccess = () => {
        result = writeOver(read.result, mine, base);
        try {
          projects.put(result.project);
        } catch (error) {
          refused = error;
          transaction.abort();
        }
      };
      transaction.oncomplete = () => resolve(result);
      transaction.onabort = () => reject(refused || transaction.error || new DOMException('the write was cut short', 'AbortError'));
    }),
  };
}

const sameContents = (a, b) => a === b || (a instanceof Uint8Array && b instanceof Uint8Array &&
  a.length === b.length && a.every((byte, i) => byte === b[i]));
const sameValue = (a, b) => sameContents(a, b) || JSON.stringify(a ?? null) === JSON.stringify(b ?? null);

// Where a file changed on both sides keeps the other side's copy: "main.asm"
// becomes "main (other tab).asm", numbered if that is taken too.
function copyName(name, taken) {
  const dot = name.lastIndexOf('.') > name.lastIndexOf('/') ? name.lastIndexOf('.') : name.length;
  for (let n = 1; ; n++) {
    const copy = `${name.slice(0, dot)} (other tab${n > 1 ? ` ${n}` : ''})${name.slice(dot)}`;
    if (!(copy in taken)) return copy;
  }
}

// Three-way merge of a project written from two tabs. `base` is the project
// as this tab last read or wrote it, `theirs` what the store holds now, and
// `mine` this tab's. A file changed on one side only takes that change; one
// changed on both keeps this tab's under its name and the other's beside it,
// and a change wins over a deletion, so nothing typed in either tab is lost.
// Returns { project, copies: [[name, copy], ...] }.
export function mergeProjects(base, theirs, mine) {
  const files = {};
  const copies = [];
  const names = new Set([...Object.keys(base.files), ...Object.keys(theirs.files), ...Object.keys(mine.files)]);
  for (const name of [...names].sort()) {
    const [b, t, m] = [base.files[name], theirs.files[name], mine.files[name]];
    let kept = m;
    if (sameContents(m, b)) kept = t;
    else if (!sameContents(t, b) && !sameContents(t, m)) {
      if (m === undefined) kept = t;
      else if (t !== undefined) copies.push([name, t]);
    }
    if (kept !== undefined) files[name] = kept;
  }
  const named = copies.map(([name, contents]) => {
    const copy = copyName(name, files);
    files[copy] = contents;
    return [name, copy];
  });
  const pick = (key) => (sameValue(mine[key], base[key]) ? theirs[key] : mine[key]);
  const project = { ...mine, files, save: pick('save') ?? null, breakpoints: pick('breakpoints') ?? {},
    notes: pick('notes') ?? {} };
  return { project, copies: named };
}

// What a write of `mine` leaves in the store, which holds `theirs`: mine,
// if no other tab wrote since `base`, else the merge. Versions count writes.
function writeOver(theirs, mine, base) {
  const version = (theirs?.version || 0) + 1;
  if (!theirs || !base || (theirs.version || 0) === (base.version || 0))
    return { project: { ...mine, version }, copies: [], merged: false };
  const { project, copies } = mergeProjects(base, theirs, mine);
  return { project: { ...project, version }, copies, merged: true };
}

// Sources, includes, notes, symbol lists, and the text formats of maps
// (Tiled's TMX, TMJ and TSX) and other tools' data.
export const isText = (name) => /\.(asm|inc|s|snd|txt|md|sym|json|csv|tmx|tmj|tsx|xml)$/i.test(name);

// The main source: main.asm, else the one named after the project, else the
// first source (by name) that no other one includes. It follows from the
// files alone, so adding, deleting or renaming one gives the same choice in
// every tab and after every import.
export function mainSource(project) {
  const names = Object.keys(project.files);
  for (const name of ['main.asm', `${project.name}.asm`]) if (names.includes(name)) return name;
  const sources = names.filter((n) => n.endsWith('.asm')).sort();
  const included = new Set();
  for (const n of sources) {
    for (const match of project.files[n].matchAll(/\.include\s+"([^"]+)"/gi)) included.add(match[1]);
  }
  return sources.find((n) => !included.has(n)) || sources[0] || null;
}

export function projectToZip(project) {
  const entries = {};
  for (const [name, contents] of Object.entries(project.files))
    entries[name] = typeof contents === 'string' ? strToU8(contents) : contents;
  return zipSync(entries, { level: 6 });
}

// Every project in one zip, each in a folder of its name.
export function projectsToZip(projects) {
  const entries = {};
  for (const project of projects) {
    for (const [name, contents] of Object.entries(project.files))
      entries[`${project.name}/${name}`] = typeof contents === 'string' ? strToU8(contents) : contents;
  }
  return zipSync(entries, { level: 6 });
}

// A zip's files become the project's; one folder around everything (as
// archivers often make) is taken off. Folders and hidden files are skipped.
export function projectFromZip(name, data) {
  const entries = Object.entries(unzipSync(data)).filter(([path]) => !path.endsWith('/'));
  const first = entries.length ? entries[0][0].split('/')[0] + '/' : '';
  const wrapped = first.length > 1 && entries.every(([path]) => path.startsWith(first));
  const files = {};
  for (const [path, bytes] of entries) {
    const relative = wrapped ? path.slice(first.length) : path;
    if (relative.split('/').some((part) => part.startsWith('.') || part === '')) continue;
    files[relative] = isText(relative) ? strFromU8(bytes) : bytes;
  }
  return { name, files, save: null };
}
