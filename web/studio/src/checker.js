// Checks the project as it is typed: the sources go to a worker that runs
// the assembler, a moment after the last key, and its diagnostics come back.
const PAUSE_MS = 250;

export function startChecker(module) {
  let report = () => {};
  const source = document.getElementById('studio-worker').textContent;
  const worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
  worker.postMessage({ module });
  let latest = 0;
  let timer = 0;
  worker.onerror = (event) => console.error(`The checking worker failed: ${event.message}`);
  worker.onmessage = (event) => {
    if (event.data.id === latest) report(event.data.diagnostics);
  };
  return {
    onReport(listener) {
      report = listener;
    },
    check(files, main) {
      clearTimeout(timer);
      timer = setTimeout(() => worker.postMessage({ files, main, id: ++latest }), PAUSE_MS);
    },
    // Forgets the check that is due and the answer of one under way.
    cancel() {
      clearTimeout(timer);
      latest++;
    },
  };
}
