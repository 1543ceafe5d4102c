// The help panel: the instruction set, the directives and registers, the
// names of every hardware include and the docs, all made when the page was
// built. lookup() gives the one line the editor shows on hover; show() opens
// the panel at a word.

const escapeHtml = (text) => String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
  .replace(/"/g, '&quot;');

// The facts by the word that names them: mnemonics in upper case (the
// assembler takes either case), everything else as written.
export function indexHelp(data) {
  const words = new Map();
  for (const instruction of data.instructions) {
    words.set(instruction.mnemonic, {
      kind: 'instruction', anchor: `instruction-${instruction.mnemonic}`,
      line: `${instruction.summary} ${instruction.forms.map((f) => f.syntax).join(' · ')}`,
    });
  }
  for (const directive of data.directives) {
    words.set(directive.name, { kind: 'directive', anchor: `directive-${directive.name.slice(1)}`,
      line: `${directive.form}: ${directive.summary}` });
  }
  for (const register of data.registers) {
    words.set(register.name.toUpperCase(), { kind: 'register', anchor: `register-${register.name}`,
      line: register.summary });
  }
  for (const include of data.hardware) {
    for (const section of include.sections) {
      for (const entry of section.names) {
        const form = entry.routine ? `CALL ${entry.name}` : `${entry.name} = ${entry.value}`;
        words.set(entry.name, { kind: 'hardware', file: include.file, anchor: `name-${entry.name}`,
          line: `${form}${entry.note ? `: ${entry.note}` : ''} (${include.file}, ${section.title})` });
      }
    }
  }
  return words;
}

// The entry a word names, or null. Instruction and register names are
// found in any case.
export function lookupWord(words, word) {
  if (!word) return null;
  const exact = words.get(word);
  const upper = words.get(word.toUpperCase());
  const lower = words.get(word.toLowerCase());
  const found = exact || (upper && upper.kind !== 'hardware' ? upper : null)
    || (lower && lower.kind === 'directive' ? lower : null);
  return found ? { word, ...found } : null;
}

function instructionsHtml(data) {
  const rows = data.instructions.map((i) => `<section id="instruction-${i.mnemonic}" class="help-entry">
<h3>${i.mnemonic}</h3><p>${escapeHtml(i.summary)}</p>
<table><tr><th>Form</th><th>Opcode</th><th>Bytes</th><th>Effect</th><th>Flags</th></tr>
${i.forms.map((f) => `<tr><td><code>${escapeHtml(f.syntax)}</code></td><td>${f.opcode}</td><td>${f.size}</td>
<td>${escapeHtml(f.effect)}</td><td>${f.flags ? f.flags.split(' ').join(', ') : '—'}</td></tr>`).join('')}
</table><pre><code>${escapeHtml(i.example)}</code></pre></section>`);
  return `<h2>Instructions</h2><p>Flags: Z is bit 7 of FLAGS, C bit 6; they are written in the order given.</p>${rows.join('')}`;
}

function languageHtml(data) {
  const directives = data.directives.map((d) => `<tr id="directive-${d.name.slice(1)}" class="help-entry">
<td><code>${escapeHtml(d.form)}</code></td><td>${escapeHtml(d.summary)}</td></tr>`).join('');
  const registers = data.registers.map((r) => `<tr id="register-${r.name}" class="help-entry">
<td><code>${r.name}</code></td><td>${escapeHtml(r.summary)}</td></tr>`).join('');
  return `<h2>Directives</h2><table>${directives}</table><h2>Registers</h2><table>${registers}</table>`;
}

function includeHtml(include) {
  const sections = include.sections.map((s) => `<h3>${escapeHtml(s.title)}</h3><table>${s.names.map((n) =>
    `<tr id="name-${n.name}" class="help-entry"><td><code>${n.name}</code></td><td><code>${escapeHtml(n.routine ? 'CALL' : n.value)}</code></td>
<td>${escapeHtml(n.note)}</td></tr>`).join('')}</table>`).join('');
  return `<h2>${escapeHtml(include.file)}</h2><p>${escapeHtml(include.title)}</p>${sections}`;
}

// The pages of the panel: the references, then the docs, the tutorial first.
function pagesOf(data) {
  const pages = [
    { id: 'instructions', title: 'Instructions', html: () => instructionsHtml(data) },
    { id: 'language', title: 'Directives and registers', html: () => languageHtml(data) },
    ...data.hardware.map((include) => ({ id: `include:${include.file}`, title: include.file, html: () => includeHtml(include) })),
  ];
  const docs = [...data.docs].sort((a, b) => (b.name === 'tutorial.md') - (a.name === 'tutorial.md'));
  for (const doc of docs) pages.push({ id: `doc:${doc.name}`, title: doc.title, html: () => doc.html });
  return pages;
}

export class HelpPanel {
  // element: the panel's container; data: the help made at build time.
  constructor(element, data) {
    this.element = element;
    this.data = data;
    this.words = indexHelp(data);
    this.pages = pagesOf(data);
    element.replaceChildren();
    const bar = document.createElement('div');
    bar.className = 'help-bar';
    this.select = document.createElement('select');
    this.select.setAttribute('aria-label', 'Help page');
    for (const page of this.pages) this.select.append(new Option(page.title, page.id));
    this.select.addEventListener('change', () => this.showPage(this.select.value));
    const close = document.createElement('button');
    close.textContent = '×';
    close.title = 'Close the help';
    close.addEventListener('click', () => this.close());
    bar.append(this.select, close);
    this.body = document.createElement('div');
    this.body.className = 'help-body';
    this.body.addEventListener('click', (event) => this.follow(event));
    element.append(bar, this.body);
    this.shown = null;
  }

  lookup(word) {
    return lookupWord(this.words, word);
  }

  // Every name the help documents, for completion.
  names() {
    return this.words;
  }

  showPage(id, anchor = null) {
    const page = this.pages.find((p) => p.id === id) || this.pages[0];
    if (this.shown !== page.id) {
      this.body.innerHTML = page.html();
      this.shown = page.id;
      this.select.value = page.id;
    }
    this.element.hidden = false;
    const target = anchor && this.body.querySelector(`[id="${CSS.escape(anchor)}"]`);
    for (const old of this.body.querySelectorAll('.help-found')) old.classList.remove('help-found');
    if (target) {
      target.classList.add('help-found');
      target.scrollIntoView({ block: 'start' });
    } else {
      this.body.scrollTop = 0;
    }
  }

  // Opens the help at `word`; false when the help does not know it (the
  // panel then opens at its first page).
  show(word) {
    const found = this.lookup(word);
    if (!found) {
      this.showPage(this.shown || this.pages[0].id);
      return false;
    }
    const page = { instruction: 'instructions', directive: 'language', register: 'language' }[found.kind]
      || `include:${found.file}`;
    this.showPage(page, found.anchor);
    return true;
  }

  toggle() {
    if (this.element.hidden) this.showPage(this.shown || this.pages[0].id);
    else this.close();
  }

  close() {
    this.element.hidden = true;
  }

  // Links between the docs stay in the panel; others open a new tab.
  follow(event) {
    const link = event.target.closest('a[href]');
    if (!link) return;
    const href = link.getAttribute('href');
    const [file, anchor] = href.split('#');
    if (/^[a-z]+:/i.test(href)) {
      link.target = '_blank';
      link.rel = 'noopener';
      return;
    }
    event.preventDefault();
    const name = file.replace(/^(?:\.\/|docs\/)/, '');
    if (!name) this.showPage(this.shown, anchor);
    else if (this.pages.some((p) => p.id === `doc:${name}`)) this.showPage(`doc:${name}`, anchor || null);
  }
}
