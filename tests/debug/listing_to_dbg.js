// Until the assembler writes debug information itself, the tests derive it
// from the assembler's listing and symbol files: every row with bytes and a
// mnemonic is an instruction, every "name:" a label.
'use strict';
const fs = require('fs');
const path = require('path');

function bankOf(offset, address) {
  if (offset >= 0x8000) return Math.floor(offset / 0x4000);
  return address < 0x4000 ? 0 : 1;
}

function convert(listingPath, symbolsPath, sourcePath) {
  const rows = fs.readFileSync(listingPath, 'utf8').split('\n');
  const constants = new Map();
  for (const line of fs.readFileSync(symbolsPath, 'utf8').split('\n')) {
    const m = /^(\S+) = 0x([0-9A-F]+)$/.exec(line);
    if (m) constants.set(m[1], parseInt(m[2], 16));
  }
  const out = ['lumacor-dbg 1', `file 0 ${path.resolve(sourcePath)}`];
  let scope = '';
  for (const row of rows) {
    const m = /^([0-9A-F]{6})  ([0-9A-F]{4})  ((?:[0-9A-F]{2} )*)\s*(\d+)  (.*)$/.exec(row);
    if (!m) continue;
    const offset = parseInt(m[1], 16), address = parseInt(m[2], 16), line = Number(m[4]);
    const bytes = m[3].trim() ? m[3].trim().split(' ').length : 0;
    let text = m[5].replace(/;.*/, '');
    const label = /^\s*(\.?[A-Za-z_][\w.]*):/.exec(text);
    const bank = bankOf(offset, address);
    if (label) {
      const name = label[1].startsWith('.') ? scope + label[1] : label[1];
      if (!label[1].startsWith('.')) scope = label[1];
      out.push(`label ${name} ${address.toString(16).toUpperCase().padStart(4, '0')} ${bank}`);
      constants.delete(name);
      text = text.slice(label[0].length);
    }
    const statement = /^\s*(\S+)/.exec(text);
    if (!statement || bytes === 0) continue;
    const hexAddress = address.toString(16).toUpperCase().padStart(4, '0');
    if (statement[1].startsWith('.')) out.push(`data ${bank} ${hexAddress} ${bytes}`);
    else out.push(`insn ${bank} ${hexAddress} 0 ${line} ${m[5].indexOf(statement[1]) + 1} ${bytes}`);
  }
  for (const [name, value] of constants) out.push(`const ${name} ${value}`);
  return out.join('\n') + '\n';
}

module.exports = { convert };
