// The game panel: the build running in the player page (the one that
// lumacor-export fills in) beside the editor, its save RAM kept with the
// project, and the build exported as that page or as a ROM.
import { crc32, download, toBase64 } from '../util.js';

const EMBEDDED_STYLE = 'header, footer { display: none; } #stage { padding: 0; } #screen { width: 512px; height: 384px; }';
const ROM_SLOT = '<script type="application/octet-stream" id="lumacor-rom" data-name=""></script>';
const SAVE_EVERY_MS = 2000;
// The embedded player keeps its saves under this prefix, not the exported
// game's "lumacor", so a game exported and opened in the same browser has
// save RAM of its own.
const STORAGE = 'lumacor-studio';

// `keys` is the page's key handler, which also listens inside the game's
// frame so the studio's keys work while the game has the focus.
export function gamePanel({ store, build, say, keys }) {
  const $ = (id) => document.getElementById(id);
  const playerPage = JSON.parse($('studio-player').textContent);
  let player = null; // { frame, api, saveTimer } while the game runs

  const romName = () => `${store.project.name.replace(/[^\w.-]+/g, '_')}.rom`;

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
      const project = store.project;
      if (save && (!project.save || save.some((b, i) => b !== project.save[i]))) return store.setSave(save);
    } catch {
      // the player is gone or broke; its last save was kept
    }
    return Promise.resolve();
  }

  const panel = {
    name: 'game',
    get player() { return player ? player.api : null; },
    keepSave,

    stop() {
      if (!player) return Promise.resolve();
      const stored = keepSave();
      clearInterval(player.saveTimer);
      player.frame.remove();
      player = null;
      say('Stopped.');
      return stored;
    },

    // Runs a build's image (build.build()'s result); a promise of whether it started.
    async run(result, { paused = false } = {}) {
      await panel.stop();
      // The project's save RAM goes where the player looks for this image's.
      const key = `${STORAGE}:save:${crc32(result.rom).toString(16).padStart(8, '0')}`;
      try {
        if (store.project.save) localStorage.setItem(key, toBase64(store.project.save));
        else localStorage.removeItem(key);
      } catch {
        // storage refused: the game starts with blank save RAM
      }
      const frame = document.createElement('iframe');
      frame.title = 'The game';
      // The exported page, with only its picture showing: the studio has the controls.
      frame.srcdoc = exportedPage(result.rom, romName(), ` data-storage="${STORAGE}"${paused ? ' data-paused' : ''}`)
        .replace('</head>', () => `<style>${EMBEDDED_STYLE}</style></head>`);
      const session = { frame, api: null, saveTimer: 0 };
      player = session;
      const ready = new Promise((resolve, reject) => {
        frame.addEventListener('load', () => {
          const api = frame.contentWindow.lumacor;
          if (!api) return reject(new Error('the player did not start'));
          frame.contentWindow.addEventListener('keydown', keys, true);
          api.ready.then(() => {
            session.api = api;
            resolve(api);
          }, reject);
        }, { once: true });
      });
      $('screen-box').append(frame);
      session.saveTimer = setInterval(keepSave, SAVE_EVERY_MS);
      await ready;
      if (player !== session) return false;
      if (!paused) frame.focus();
      say(paused ? `${romName()} is loaded and paused.` : `Running ${romName()}: Esc stops it.`);
      return true;
    },

    async exportHtml() {
      const result = await build.build();
      if (!result.ok) return null;
      const page = exportedPage(result.rom, romName());
      download(romName().replace(/\.rom$/, '.html'), page, 'text/html');
      return page;
    },

    async downloadRom() {
      const result = await build.build();
      if (result.ok) download(romName(), result.rom, 'application/octet-stream');
    },
  };
  return panel;
}
