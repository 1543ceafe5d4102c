// The build service: turns the store's project into a ROM as the desktop
// build does. Converters make the files that the sources include from the
// project's assets (pictures now; sounds and maps plug in the same way), the
// assembler (in the checking worker while one types, on the page's thread
// for a build) assembles the main source with them, and the problems of both
// go to whoever listens.
//
// How a panel uses it:
//   build.addConverter({ name, reads(fileName), convert(tools, files) })
//       a kind of asset: `reads` tells which project files it reads (its
//       assets and its rules file); `convert` is given every project file and
//       returns (or promises) { outputs: Map(include path -> string | bytes),
//       problems: [{ file, message, line?, column? }], details?: Map(asset -> { report, shown }) }.
//       Its outputs are kept until a file it reads changes.
//   build.check()            assembles soon in the worker; 'problems' follows
//   build.build()            a promise of { ok, rom, debugInfo, diagnostics, main }
//   build.converted()        a promise of every converter's { outputs, problems }
//   build.made(name)         a file the converters made (the include of a picture), as
//                            the latest conversion left it, or undefined; build.madeNames()
//                            lists them. 'converted' (names) tells when they change.
//   build.details(name)      an asset's report and preview from the latest conversion;
//                            'details' tells after every conversion
//   build.problems(name)     the latest diagnostics of one project file
//   build.root(), build.relative(path)
//                            the tools name files by absolute paths under the project's root
//   build.on(event, listener) 'problems' (diagnostics): the latest check or build;
//                            'built' (result)
export function createBuild(store, tools, checker) {
  const listeners = new Map();
  const converters = [];
  const cached = new Map(); // converter -> promise of its results
  let byFile = new Map();
  let made = new Map(); // the latest conversion's outputs
  let details = new Map();

  const emit = (event, ...args) => {
    for (const listener of listeners.get(event) || []) listener(...args);
  };

  const root = () => `/${store.project.name.replace(/[^\w.-]+/g, '_')}/`;
  const relative = (path) => (path.startsWith(root()) ? path.slice(root().length) : path);

  function convertOne(converter) {
    if (!cached.has(converter)) {
      cached.set(converter, Promise.resolve().then(() => converter.convert(tools, { ...store.project.files }))
        .catch((error) => ({ outputs: new Map(), problems: [{ file: converter.name, message: error.message }] })));
    }
    return cached.get(converter);
  }

  async function converted() {
    await store.settled();
    const results = await Promise.all(converters.map(convertOne));
    const outputs = new Map();
    const problems = [];
    details = new Map();
    for (const result of results) {
      for (const [name, contents] of result.outputs) outputs.set(name, contents);
      problems.push(...result.problems);
      for (const [name, detail] of result.details || []) details.set(name, detail);
    }
    emit('details');
    const changed = outputs.size !== made.size || [...outputs].some(([name, contents]) => made.get(name) !== contents);
    made = outputs;
    if (changed) emit('converted', [...outputs.keys()]);
    return { outputs, problems };
  }

  // The project's files as the assembler reads them, converted ones beside them.
  function filesFor(outputs) {
    const files = new Map();
    for (const [name, contents] of outputs) files.set(root() + name, contents);
    for (const [name, contents] of Object.entries(store.project.files)) files.set(root() + name, contents);
    return files;
  }

  // A problem with a place in a text file (a sound's line) is marked there.
  const asDiagnostics = (problems) => problems.map((p) => ({ severity: 'error', file: root() + p.file,
    line: p.line || 0, column: p.column || 0, message: p.message }));

  function report(diagnostics) {
    byFile = new Map();
    for (const d of diagnostics) {
      const name = relative(d.file);
      if (!byFile.has(name)) byFile.set(name, []);
      byFile.get(name).push({ ...d, file: name });
    }
    emit('problems', diagnostics);
  }

  const build = {
    root,
    relative,
    last: null,

    on(event, listener) {
      if (!listeners.has(event)) listeners.set(event, []);
      listeners.get(event).push(listener);
    },

    addConverter(converter) {
      converters.push(converter);
    },

    converted,
    problems: (name) => byFile.get(name) || [],
    made: (name) => made.get(name),
    details: (name) => details.get(name),
    madeNames: () => [...made.keys()].sort(),

    async check() {
      const main = store.mainSource();
      if (!main) return;
      const { outputs, problems } = await converted();
      // A file that could not be made would only bring the assembler's
      // complaints about what it lacks: its own problem is the one to show.
      if (problems.length) {
        checker.cancel();
        report(asDiagnostics(problems));
      } else {
        checker.check(filesFor(outputs), root() + main);
      }
    },

    async build() {
      const main = store.mainSource();
      if (!main) {
        build.last = { ok: false, rom: new Uint8Array(0), debugInfo: '', diagnostics: [], main: null };
        emit('built', build.last);
        return build.last;
      }
      const started = performance.now();
      const { outputs, problems } = await converted();
      // An asset that breaks the machine's rules fails the build, as the
      // converter fails a desktop build, before the assembler runs.
      const assembled = problems.length ? { ok: false, image: new Uint8Array(0), debugInfo: '', diagnostics: [] }
        : tools.assemble(filesFor(outputs), root() + main, true);
      build.last = { ...assembled, rom: assembled.image, main,
        diagnostics: [...asDiagnostics(problems), ...assembled.diagnostics], took: performance.now() - started };
      report(build.last.diagnostics);
      emit('built', build.last);
      return build.last;
    },
  };

  checker.onReport(report);
  store.on('file', (name) => {
    for (const converter of converters) if (converter.reads(name)) cached.delete(converter);
    build.check();
  });
  store.on('project', () => {
    cached.clear();
    made = new Map();
    details = new Map();
    build.last = null;
    report([]);
  });
  return build;
}
