// Projects kept in the browser: each one a record of its files (text for
// sources, bytes for pictures and other binaries), its main source and its
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
  };
}

export const isText = (name) => /\.(asm|inc|s|txt|md|sym)$/i.test(name);

// The main source: main.asm, else the one named after the project, else the
// first source that no other one includes.
export function mainSource(project) {
  const names = Object.keys(project.files);
  if (project.main && names.includes(project.main)) return project.main;
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
