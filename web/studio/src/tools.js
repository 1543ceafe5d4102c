// The assembler and the debugger's session in the studio's WebAssembly
// module: buffers in and out of its memory, nothing more. The page and the
// checking worker each have an instance of their own.

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// Standalone WebAssembly asks for a few system calls it never makes here.
export function importsOf(module) {
  const given = {};
  for (const { module: space, name, kind } of WebAssembly.Module.imports(module)) {
    given[space] = given[space] || {};
    if (kind === 'function') given[space][name] = () => 52; // ENOSYS
  }
  return given;
}

export async function instantiateTools(module) {
  const instance = await WebAssembly.instantiate(module, importsOf(module));
  const wasm = instance.exports;
  wasm._initialize();
  return new Tools(wasm);
}

export class Tools {
  constructor(wasm) {
    this.wasm = wasm;
  }

  bytes(pointer, length) {
    return new Uint8Array(this.wasm.memory.buffer, pointer, length);
  }

  text(pointer) {
    const heap = new Uint8Array(this.wasm.memory.buffer);
    let end = pointer;
    while (heap[end]) end++;
    return decoder.decode(heap.subarray(pointer, end));
  }

  // Calls `use` with pointers to copies of the given byte arrays in the
  // module's memory, freed afterwards.
  withBuffers(arrays, use) {
    const pointers = arrays.map((data) => {
      const pointer = this.wasm.studio_alloc(data.length);
      this.bytes(pointer, data.length).set(data);
      return pointer;
    });
    try {
      return use(...pointers);
    } finally {
      for (const pointer of pointers) this.wasm.studio_free(pointer);
    }
  }

  // files: Map of absolute path -> string or Uint8Array. Returns
  // { ok, image, debugInfo, diagnostics: [{ severity, file, line, column, message }] }.
  assemble(files, main, withDebugInfo = true) {
    const wasm = this.wasm;
    wasm.asm_reset();
    for (const [name, contents] of files) {
      const nameBytes = encoder.encode(name);
      const data = typeof contents === 'string' ? encoder.encode(contents) : contents;
      this.withBuffers([nameBytes, data], (n, d) => wasm.asm_add_file(n, nameBytes.length, d, data.length));
    }
    const mainBytes = encoder.encode(main);
    const ok = this.withBuffers([mainBytes], (m) => wasm.asm_assemble(m, mainBytes.length, withDebugInfo ? 1 : 0)) === 1;
    const diagnostics = this.text(wasm.asm_result_diagnostics()).split('\n').filter(Boolean).map((line) => {
      const [severity, file, lineNumber, column, ...message] = line.split('\t');
      return { severity, file, line: Number(lineNumber), column: Number(column), message: message.join('\t') };
    });
    return {
      ok,
      image: ok ? this.bytes(wasm.asm_result_image(), wasm.asm_result_image_size()).slice() : new Uint8Array(0),
      debugInfo: ok && withDebugInfo ? this.text(wasm.asm_result_debug_info()) : '',
      diagnostics,
    };
  }

  // One picture through the graphics converter: { ok, bytes } with the
  // include's text or the video memory, or { ok: false, problems }; either
  // way `report`, lumacor-gfx's report on the picture at `path`, and `shown`
  // ({ width, height, rgba }, or null after problems), what the machine
  // shows of the converted data.
  convertPicture(picture, order, options, source, path = source) {
    const wasm = this.wasm;
    const [name, sourceBytes, pathBytes] = [options.name, source, path].map((s) => encoder.encode(s));
    const none = new Uint8Array(0);
    const ok = this.withBuffers([picture.rgba, order ? order.rgba : none, name, sourceBytes, pathBytes], (p, o, n, s, w) =>
      wasm.gfx_convert(p, picture.width, picture.height, order ? o : 0, order ? order.width : 0, order ? order.height : 0,
        options.screen ? 1 : 0, options.firstTile, options.parts, options.vram ? 1 : 0, options.quantize ? 1 : 0,
        n, name.length, s, sourceBytes.length, w, pathBytes.length)) === 1;
    const bytes = this.bytes(wasm.gfx_result(), wasm.gfx_result_size()).slice();
    const [width, height] = [wasm.gfx_shown_width(), wasm.gfx_shown_height()];
    const shown = width ? { width, height, rgba: this.bytes(wasm.gfx_shown_rgba(), width * height * 4).slice() } : null;
    const report = this.text(wasm.gfx_report());
    return ok ? { ok, bytes, report, shown } : { ok, problems: decoder.decode(bytes).split('\n').filter(Boolean), report, shown };
  }

  // One Tiled map through the map converter: `texts` and `images` (path ->
  // text, path -> { width, height, rgba }) are the tilesets and pictures it
  // may name. { ok, text } with the include, or { ok: false, problems }.
  convertMap(path, text, texts, images, options, order = null) {
    const wasm = this.wasm;
    wasm.map_reset();
    for (const [name, contents] of texts) {
      const n = encoder.encode(name);
      const d = encoder.encode(contents);
      this.withBuffers([n, d], (np, dp) => wasm.map_add_text(np, n.length, dp, d.length));
    }
    for (const [name, picture] of images) {
      const n = encoder.encode(name);
      this.withBuffers([n, picture.rgba], (np, p) => wasm.map_add_image(np, n.length, p, picture.width, picture.height));
    }
    const [p, t, n] = [path, text, options.name].map((s) => encoder.encode(s));
    const none = new Uint8Array(0);
    const ok = this.withBuffers([p, t, n, order ? order.rgba : none], (pp, tp, np, op) => wasm.map_convert(pp, p.length,
      tp, t.length, np, n.length, options.firstTile, options.pack ? 1 : 0, order ? op : 0, order ? order.width : 0,
      order ? order.height : 0)) === 1;
    const result = decoder.decode(this.bytes(wasm.gfx_result(), wasm.gfx_result_size()));
    return ok ? { ok, text: result } : { ok, problems: result.split('\n').filter(Boolean) };
  }

  // Sound text through the sound converter: { errors: [{ line, column,
  // message }], blocks: [{ kind, name, speed, loop, mark, line, steps }],
  // include } where each step is [line, note, wave, volume, length, fade,
  // slide, arp1, arp2] and `include` is the driver's data (empty with errors).
  convertSound(text, prefix) {
    const textBytes = encoder.encode(text);
    const prefixBytes = encoder.encode(prefix);
    return JSON.parse(this.withBuffers([textBytes, prefixBytes], (t, p) =>
      this.text(this.wasm.snd_convert(t, textBytes.length, p, prefixBytes.length))));
  }

  // The sound driver that games include as "sound.inc".
  soundDriver() {
    return this.text(this.wasm.snd_driver());
  }

  // Builds the smallest player around the block `name`; null when it is
  // ready, else why not. previewFrames(n) then gives its next n frames of
  // samples (48 kHz).
  startPreview(text, name) {
    const textBytes = encoder.encode(text);
    const nameBytes = encoder.encode(name);
    const ok = this.withBuffers([textBytes, nameBytes], (t, n) =>
      this.wasm.snd_preview_start(t, textBytes.length, n, nameBytes.length));
    return ok ? null : this.text(this.wasm.snd_preview_error());
  }

  previewFrames(frames) {
    const pointer = this.wasm.snd_preview_frames(frames);
    return new Float32Array(this.wasm.memory.buffer, pointer, this.wasm.snd_preview_size()).slice();
  }
}
