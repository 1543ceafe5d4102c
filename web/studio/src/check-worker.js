// The checking worker: assembles the project as it is typed, away from the
// page's thread, and answers with the diagnostics. Only the latest request
// counts; the page sends a new one after every pause in typing.
import { instantiateTools } from './tools.js';

let tools = null;

self.onmessage = async (event) => {
  const { module, files, main, id } = event.data;
  if (module) {
    tools = instantiateTools(module);
    return;
  }
  const result = (await tools).assemble(files, main, false);
  self.postMessage({ id, diagnostics: result.diagnostics });
};
