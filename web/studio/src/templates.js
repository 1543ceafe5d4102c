// New projects: a name and a template to start from. The templates are the
// sources in roms/templates, put into the page when it is built.

import { fromBase64 } from './util.js';

// The files of a new project made from `template`: its source as main.asm,
// the hardware include it needs, and the template's own files (pictures
// come as { base64 }).
export function templateFiles(template, include) {
  const files = { 'main.asm': template.source, 'lumacor.inc': include };
  for (const [name, contents] of Object.entries(template.files || {}))
    files[name] = typeof contents === 'string' ? contents : fromBase64(contents.base64);
  return files;
}

// Asks for the new project's name and template in a dialog; resolves to
// { name, template } or null when cancelled.
export function askNewProject(templates, suggested = 'game') {
  const dialog = document.createElement('dialog');
  dialog.id = 'new-project';
  const form = document.createElement('form');
  form.method = 'dialog';
  const heading = document.createElement('h2');
  heading.textContent = 'New project';
  const nameLabel = document.createElement('label');
  nameLabel.textContent = 'Name ';
  const name = document.createElement('input');
  name.id = 'new-project-name';
  name.value = suggested;
  name.required = true;
  nameLabel.append(name);
  form.append(heading, nameLabel);
  templates.forEach((template, i) => {
    const label = document.createElement('label');
    label.className = 'template';
    const radio = document.createElement('input');
    radio.type = 'radio';
    radio.name = 'template';
    radio.value = String(i);
    radio.checked = i === 0;
    const title = document.createElement('b');
    title.textContent = ` ${template.title}`;
    label.append(radio, title, ` — ${template.description}`);
    form.append(label);
  });
  const create = document.createElement('button');
  create.id = 'new-project-create';
  create.value = 'create';
  create.textContent = 'Create';
  const cancel = document.createElement('button');
  cancel.value = 'cancel';
  cancel.formNoValidate = true;
  cancel.textContent = 'Cancel';
  form.append(create, ' ', cancel);
  dialog.append(form);
  document.body.append(dialog);
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => {
      const chosen = form.querySelector('input[name="template"]:checked');
      const answer = dialog.returnValue === 'create' && name.value.trim()
        ? { name: name.value.trim(), template: templates[Number(chosen ? chosen.value : 0)] } : null;
      dialog.remove();
      resolve(answer);
    }, { once: true });
    dialog.showModal();
    name.select();
  });
}
