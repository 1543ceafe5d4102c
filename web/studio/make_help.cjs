// The studio's help, made when the page is built: the language reference
// (written by lumacor-make-reference from the CPU's and the assembler's
// tables), the hardware reference read from the includes shipped beside the
// assembler, and the docs rendered from Markdown to HTML.
'use strict';
const fs = require('fs');
const path = require('path');
const { Marked } = require('marked');

// An include's documented names: "NAME = value ; note" lines, and routines
// as "name: ; note" (a label alone with its comment), under "; --- section"
// headings, the file's opening comment its title. Every include is read this
// way, so one added beside lumacor.inc joins the help. Labels without a
// comment are the include's own and stay out.
function parseInclude(file, text) {
  const include = { file, title: '', sections: [] };
  const opening = [];
  for (const line of text.split('\n')) {
    const heading = /^;\s*---\s*(.*)$/.exec(line);
    if (heading) {
      include.sections.push({ title: heading[1].trim(), names: [] });
      continue;
    }
    const name = /^\s*([A-Za-z_]\w*)\s*=\s*([^;]*?)\s*(?:;\s*(.*))?$/.exec(line);
    const routine = /^([A-Za-z_]\w*):\s*;\s*(.*)$/.exec(line);
    const entry = name ? { name: name[1], value: name[2], note: (name[3] || '').trim() }
      : routine ? { name: routine[1], value: '', note: routine[2].trim(), routine: true } : null;
    if (entry) {
      if (!include.sections.length) include.sections.push({ title: file, names: [] });
      include.sections.at(-1).names.push(entry);
    } else if (!include.sections.length && line.startsWith(';')) {
      opening.push(line.replace(/^;\s*/, ''));
    }
  }
  include.title = opening[0] || file;
  return include;
}

// GitHub's anchors: lower case, punctuation dropped, spaces as hyphens.
const slug = (text) => text.toLowerCase().replace(/<[^>]*>/g, '').replace(/[^\w\s-]/g, '').trim().replace(/\s+/g, '-');

const mimeOf = (file) => (/\.svg$/i.test(file) ? 'image/svg+xml' : /\.jpe?g$/i.test(file) ? 'image/jpeg' : 'image/png');

// One page of the docs as HTML: headings with anchors, pictures inlined (the
// page loads nothing), links to another page kept for the help to follow.
function renderDoc(folder, file) {
  const marked = new Marked({
    renderer: {
      heading({ tokens, depth }) {
        const inner = this.parser.parseInline(tokens);
        return `<h${depth} id="${slug(inner)}">${inner}</h${depth}>\n`;
      },
      image({ href, text }) {
        const local = path.join(folder, href);
        if (/^[a-z]+:/i.test(href) || !fs.existsSync(local)) return `<span>${text}</span>`;
        const data = fs.readFileSync(local).toString('base64');
        return `<img src="data:${mimeOf(href)};base64,${data}" alt="${text.replace(/"/g, '&quot;')}">`;
      },
    },
  });
  const markdown = fs.readFileSync(path.join(folder, file), 'utf8');
  const title = (/^#\s+(.*)$/m.exec(markdown) || [null, file])[1];
  return { name: file, title, html: marked.parse(markdown) };
}

function helpData({ reference, includes, docs }) {
  const language = JSON.parse(fs.readFileSync(reference, 'utf8'));
  const hardware = fs.readdirSync(includes).filter((f) => f.endsWith('.inc')).sort()
    .map((f) => parseInclude(f, fs.readFileSync(path.join(includes, f), 'utf8')));
  const pages = fs.readdirSync(docs).filter((f) => f.endsWith('.md')).sort().map((f) => renderDoc(docs, f));
  return { ...language, hardware, docs: pages };
}

module.exports = { helpData, parseInclude, slug };
