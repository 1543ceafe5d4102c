// lumacor-debug through the protocol's own test client: each request, every
// kind of breakpoint, stepping over, into and out of calls and interrupts,
// stepping backwards, and requests that must fail cleanly.
'use strict';
const assert = require('assert');
const fs = require('fs');
const path = require('path');
const { execFileSync, spawn } = require('child_process');
const { DebugClient } = require('@vscode/debugadapter-testsupport');

const ADAPTER = process.env.LUMACOR_DEBUG;
const ROMS = process.env.DEBUG_TEST_ROMS;
const SOURCE = path.join(__dirname, '..', 'roms', 'debuggee.asm');
const ROM = path.join(ROMS, 'debuggee.rom');
const ILLEGAL = path.join(ROMS, 'illegal.rom');

// The source line that holds `text`, 1-based.
const lines = fs.readFileSync(SOURCE, 'utf8').split('\n');
const lineOf = (text) => lines.findIndex((l) => l.includes(text)) + 1;

fs.copyFileSync(ILLEGAL, path.join(ROMS, 'bare.rom'));

// Disconnects; the adapter must then leave by itself with status 0, so a
// sanitizer's finding (a leak, a fault) fails the test that caused it. The
// test client keeps the adapter's process only in this field.
async function finish(client) {
  const adapter = client._adapterProcess;
  const ended = new Promise((resolve) => adapter.once('exit', (code, signal) => resolve({ code, signal })));
  await client.disconnectRequest();
  assert.deepStrictEqual(await ended, { code: 0, signal: null });
}

describe('lumacor-debug', function () {
  this.timeout(30000);
  let dc;

  beforeEach(() => {
    dc = new DebugClient(ADAPTER, '', 'lumacor');
    dc.defaultTimeout = 20000;
    // An executable, not a node script: the client runs the runtime given.
    return dc.start();
  });
  afterEach(() => finish(dc));

  const launchArgs = (extra) => Object.assign({ program: ROM, noDisplay: true }, extra);

  async function startStopped(extra) {
    await Promise.all([dc.configurationSequence(), dc.launch(launchArgs(Object.assign({ stopOnEntry: true }, extra))),
      dc.waitForEvent('stopped')]);
  }

  const evaluate = async (expression) => Number((await dc.evaluateRequest({ expression })).body.result.split(' ')[0]);
  const topFrame = async () => (await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames;

  async function runTo(request, reason) {
    const [, stopped] = await Promise.all([request, dc.waitForEvent('stopped')]);
    if (reason) assert.strictEqual(stopped.body.reason, reason);
    return stopped;
  }

  // Resolves once output events of `category` have carried `text`.
  const outputIncluding = (category, text) => new Promise((resolve) => {
    let seen = '';
    const listen = (event) => {
      if (event.body.category === category && (seen += event.body.output).includes(text)) {
        dc.removeListener('output', listen);
        resolve(seen);
      }
    };
    dc.on('output', listen);
  });

  const lineBreaks = (list) => dc.setBreakpointsRequest({ source: { path: SOURCE }, breakpoints: list });

  describe('requests that must fail cleanly', () => {
    it('refuses what cannot be done, and says why', async () => {
      await dc.initializeRequest();
      await assert.rejects(dc.customRequest('frobnicate'), /unknown request 'frobnicate'/);
      await assert.rejects(dc.launchRequest({ program: ROMS }), /cannot read the ROM image .*: not a regular file/);
      await dc.launch(launchArgs({ stopOnEntry: true }));
      await assert.rejects(dc.evaluateRequest({ expression: '[0xFFFF + 1]' }), /65536 is outside the address space/);
      // A file of another project gets its breakpoints back unverified, so the client carries on.
      const other = await dc.setBreakpointsRequest({ source: { path: '/elsewhere/other.asm' }, breakpoints: [{ line: 1 }] });
      assert.match(other.body.breakpoints[0].message, /not a source of/);
      const bad = await lineBreaks([{ line: lineOf('INC   r0'), condition: 'r0 ==' }, { line: lineOf('INC   r0'), hitCondition: '% 0' }]);
      assert.deepStrictEqual(bad.body.breakpoints.map((b) => b.verified), [false, false]);
      assert.match(bad.body.breakpoints[1].message, /can never hold/);
      const far = await dc.customRequest('setInstructionBreakpoints', { breakpoints: [{ instructionReference: '0xFFFF', offset: 1 }] });
      assert.match(far.body.breakpoints[0].message, /outside the address space/);
    });

    it('runs on the disassembly when the debug information belongs to another image', async () => {
      const rom = path.join(ROMS, 'stale.rom');
      fs.copyFileSync(ROM, rom);
      fs.copyFileSync(path.join(ROMS, 'window.rom.dbg'), rom + '.dbg');
      const said = outputIncluding('console', 'debugging on the disassembly');
      await startStopped({ program: rom });
      assert.match(await said, /stale\.rom\.dbg describes an image of \d+ bytes with CRC-32 [0-9A-F]{8}, not this one/);
      // Not even in the source that information describes.
      const windowSource = { path: path.join(__dirname, '..', 'roms', 'window.asm') };
      const set = await dc.setBreakpointsRequest({ source: windowSource, breakpoints: [{ line: 1 }] });
      assert.match(set.body.breakpoints[0].message, /describes an image/);
    });
  });

  describe('stopping and looking', () => {
    it('stops on entry at the start address with registers, pairs and devices, each named by its expression', async () => {
      await startStopped();
      const frames = await topFrame();
      assert.strictEqual(frames[0].line, lineOf('main:   LD    r0, 0'));
      assert.strictEqual(frames[0].name, 'main');
      assert.strictEqual(await evaluate('PC'), 0x100);
      assert.strictEqual(await evaluate('SP == 0xFFFF && bank == 1'), 1);
      const scopes = (await dc.scopesRequest({ frameId: frames[0].id })).body.scopes;
      assert.deepStrictEqual(scopes.map((s) => s.name), ['Registers', 'Pairs', 'Devices']);
      const regs = (await dc.variablesRequest({ variablesReference: scopes[0].variablesReference })).body.variables;
      assert.strictEqual(regs.find((v) => v.name === 'SP').value, '0xFFFF (65535)');
      const devices = (await dc.variablesRequest({ variablesReference: scopes[2].variablesReference })).body.variables;
      assert.strictEqual(devices.find((v) => v.name === 'bank').value, '0x01 (1)');
      assert.strictEqual((await dc.threadsRequest()).body.threads.length, 1);
      // Each variable's evaluate name gives its value, `frame` too in this program with a label `frame`.
      for (const ref of [1, 2, 3]) {
        for (const v of (await dc.variablesRequest({ variablesReference: ref })).body.variables)
          assert.strictEqual(await evaluate(v.evaluateName), Number(v.value.split(' ')[0]), v.name);
      }
    });

    it('moves a line breakpoint to the next line with an instruction and honours its condition', async () => {
      await startStopped();
      const set = await lineBreaks([{ line: lineOf('.loop:  CALL  bump') - 1, condition: 'r0 == 3' }]);
      assert.strictEqual(set.body.breakpoints[0].verified, true);
      assert.strictEqual(set.body.breakpoints[0].line, lineOf('.loop:  CALL  bump'));
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      assert.strictEqual(await evaluate('r0'), 3);
      // One that cannot be evaluated stops, saying why.
      await lineBreaks([{ line: lineOf('INC   r0'), condition: '10 / (r0 - 3) > 1' }]);
      const stopped = await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      assert.match(stopped.body.description, /condition '10 \/ \(r0 - 3\) > 1' could not be evaluated: division by zero/);
    });

    it('gives every example of the documentation the value it claims', async () => {
      await startStopped();
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'bump' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'function breakpoint');
      const docs = fs.readFileSync(path.join(__dirname, '..', '..', 'docs', 'debugging.md'), 'utf8');
      const examples = [...docs.matchAll(/^\| `([^`]+)` \| (-?\d+) \|/gm)];
      assert.ok(examples.length >= 5, 'the examples table of docs/debugging.md');
      for (const [, expression, value] of examples) assert.strictEqual(await evaluate(expression), Number(value), expression);
    });

    it('counts hits in the program\'s time and logs each moment once', async () => {
      await startStopped();
      let logged = '';
      dc.on('output', (e) => { if (e.body.category === 'console') logged += e.body.output; });
      await lineBreaks([{ line: lineOf('OUT   0x80, r0'), logMessage: 'r0 is {r0}' },
        { line: lineOf('INC   r0'), hitCondition: '== 3' }]);
      // Landing on the first hit by a step, then running on, counts it.
      for (let i = 0; i < 4; i++) await runTo(dc.stepInRequest({ threadId: 1 }), 'step');
      assert.strictEqual((await topFrame())[0].line, lineOf('INC   r0'));
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      assert.strictEqual(await evaluate('r0'), 2);
      // Going back takes hits back: the same hit stops again.
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      assert.strictEqual(await evaluate('r0'), 2);
      await runTo(dc.reverseContinueRequest({ threadId: 1 }), 'step');
      assert.strictEqual(await evaluate('PC'), 0x100);
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      assert.strictEqual(await evaluate('r0'), 2);
      // Run on from a moment already seen, past the furthest one.
      await runTo(dc.stepInRequest({ threadId: 1 }), 'step');
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      const ended = dc.waitForEvent('exited');
      let stops = 0;
      dc.on('stopped', () => stops++);
      await dc.continueRequest({ threadId: 1 });
      await ended;
      assert.strictEqual(stops, 0);
      assert.strictEqual(logged, 'r0 is 1\nr0 is 2\nr0 is 3\nr0 is 4\nr0 is 5\n');
    });

    it('reports the test port as output and the end with lumacor-run\'s status', async () => {
      const [, , , exited] = await Promise.all([dc.configurationSequence(), dc.launch(launchArgs()),
        outputIncluding('stdout', 'out[0x80] <- 0x4\nout[0x80] <- 0x5\nBank switched to: 2\nBank switched to: 1\n'),
        dc.waitForEvent('exited'), dc.waitForEvent('terminated')]);
      assert.strictEqual(exited.body.exitCode, 0);
    });
  });

  describe('calls and interrupts', () => {
    it('stops at a label, shows the call, steps out and over', async () => {
      await startStopped();
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'bump' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'function breakpoint');
      let frames = await topFrame();
      assert.deepStrictEqual(frames.map((f) => f.name), ['bump', 'main.loop']);
      assert.strictEqual(frames[1].line, lineOf('.loop:  CALL  bump'));
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'store' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'function breakpoint');
      assert.deepStrictEqual((await topFrame()).map((f) => f.name), ['store', 'bump+2', 'main.loop']);
      await dc.setFunctionBreakpointsRequest({ breakpoints: [] });
      await runTo(dc.stepOutRequest({ threadId: 1 }), 'step');
      frames = await topFrame();
      assert.deepStrictEqual(frames.map((f) => f.line), [lineOf('CALL  store') + 1, lineOf('.loop:  CALL  bump')]);
      await runTo(dc.stepOutRequest({ threadId: 1 }), 'step');
      frames = await topFrame();
      assert.strictEqual(frames.length, 1);
      assert.strictEqual(frames[0].line, lineOf('OUT   0x80, r0'));
      for (let i = 0; i < 3; i++) await runTo(dc.nextRequest({ threadId: 1 }), 'step');
      assert.strictEqual((await topFrame())[0].line, lineOf('.loop:  CALL  bump'));
      await runTo(dc.nextRequest({ threadId: 1 }), 'step');
      assert.strictEqual((await topFrame())[0].line, lineOf('OUT   0x80, r0'));
      assert.strictEqual(await evaluate('r0'), 2);
      for (let i = 0; i < 4; i++) await runTo(dc.stepInRequest({ threadId: 1 }), 'step');
      assert.strictEqual((await topFrame())[0].name, 'bump');
    });

    it('follows the frame interrupt into its handler and out to the interrupted code', async () => {
      await startStopped();
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'frame' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'function breakpoint');
      const frames = await topFrame();
      assert.strictEqual(frames[0].name, 'frame');
      assert.match(frames[1].name, /^main\.wait.*\(interrupted\)$/);
      await dc.setFunctionBreakpointsRequest({ breakpoints: [] });
      await runTo(dc.stepOutRequest({ threadId: 1 }), 'step');
      const after = await topFrame();
      assert.strictEqual(after.length, 1);
      assert.match(after[0].name, /^main\.wait/);
      assert.strictEqual(await evaluate('[FRAMES]'), 1);
    });
  });

  describe('data breakpoints', () => {
    it('stops on a write by DMA and on a read by the program', async () => {
      await startStopped();
      const info = await dc.dataBreakpointInfoRequest({ name: 'TARGET' });
      assert.strictEqual(info.body.dataId, '0xA010');
      await dc.setDataBreakpointsRequest({ breakpoints: [{ dataId: info.body.dataId, accessType: 'write' }] });
      const stopped = await runTo(dc.continueRequest({ threadId: 1 }), 'data breakpoint');
      assert.match(stopped.body.description, /wrote 0x5A at 0xA010/);
      assert.strictEqual(await evaluate('[TARGET]'), 0x5a);
      assert.strictEqual((await topFrame())[0].line, lineOf('ST    [p4], 1') + 1);
      await dc.setDataBreakpointsRequest({ breakpoints: [{ dataId: info.body.dataId, accessType: 'write' },
        { dataId: '0xA020', accessType: 'read' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'data breakpoint');
      assert.strictEqual((await topFrame())[0].line, lineOf('CMP   r5, 3'));
      const back = await runTo(dc.reverseContinueRequest({ threadId: 1 }), 'data breakpoint');
      assert.match(back.body.description, /wrote 0x5A at 0xA010/);
      assert.strictEqual((await topFrame())[0].line, lineOf('ST    [p4], 1') + 1);
    });
  });

  describe('stack bytes', () => {
    it('are watched as calls push them and returns pop them', async () => {
      await startStopped();
      await dc.setDataBreakpointsRequest({ breakpoints: [{ dataId: '0xFFFE', accessType: 'readWrite' }] });
      const pushed = await runTo(dc.continueRequest({ threadId: 1 }), 'data breakpoint');
      assert.match(pushed.body.description, /wrote 0x01 at 0xFFFE/);
      assert.strictEqual((await topFrame())[0].name, 'bump');
      const popped = await runTo(dc.continueRequest({ threadId: 1 }), 'data breakpoint');
      assert.match(popped.body.description, /read 0x01 at 0xFFFE/);
      assert.strictEqual((await topFrame())[0].line, lineOf('OUT   0x80, r0'));
      // The frame interrupt pushes where it breaks in too.
      await dc.setDataBreakpointsRequest({ breakpoints: [{ dataId: '0xFFFE', accessType: 'write', condition: 'PC == frame' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'data breakpoint');
      assert.strictEqual((await topFrame())[0].name, 'frame');
    });
  });

  describe('stepping backwards', () => {
    // Registers, flags, PC and SP, the devices and the frame count, and RAM.
    async function state() {
      const mem = await dc.customRequest('readMemory', { memoryReference: '0xA000', count: 0x30 });
      const scope = async (ref) => Object.fromEntries((await dc.variablesRequest({ variablesReference: ref }))
        .body.variables.map((v) => [v.name, v.value]));
      return { registers: await scope(1), devices: await scope(3), ram: mem.body.data };
    }

    it('steps back across a frame boundary to exactly the earlier state', async () => {
      await startStopped();
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'frame' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'function breakpoint');
      await dc.setFunctionBreakpointsRequest({ breakpoints: [] });
      // Back over the interrupt's entry into the frame before it.
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      const before = await state();
      assert.strictEqual(before.devices.frame, '0x0 (0)');
      assert.match((await topFrame())[0].name, /^main\.wait/);
      await runTo(dc.stepInRequest({ threadId: 1 }), 'step');
      assert.strictEqual((await topFrame())[0].name, 'frame');
      await runTo(dc.stepInRequest({ threadId: 1 }), 'step');
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      assert.deepStrictEqual(await state(), before);
    });

    it('steps back across a bank switch', async () => {
      await startStopped();
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'far' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'function breakpoint');
      assert.strictEqual(await evaluate('bank'), 2);
      assert.strictEqual((await topFrame())[0].line, lineOf('far:    LD    r3, 7'));
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      assert.strictEqual((await topFrame())[0].line, lineOf('ST    [p4], r1'));
      assert.strictEqual(await evaluate('bank'), 1);
    });

    it('runs backwards to the latest breakpoint, or to the start of the history', async () => {
      await startStopped();
      await lineBreaks([{ line: lineOf('INC   r0') }]);
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      assert.strictEqual(await evaluate('r0'), 2);
      await runTo(dc.reverseContinueRequest({ threadId: 1 }), 'breakpoint');
      assert.strictEqual(await evaluate('r0'), 1);
      assert.strictEqual(await evaluate('[COUNTER]'), 1);
      await lineBreaks([]);
      await runTo(dc.reverseContinueRequest({ threadId: 1 }), 'step');
      assert.strictEqual(await evaluate('PC'), 0x100);
    });

    it('runs backwards over several snapshots to a hit condition\'s hit, counted from when it was set', async () => {
      await startStopped({ program: path.join(ROMS, 'window.rom') });
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'frame', hitCondition: '== 5' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'function breakpoint');
      assert.strictEqual(await evaluate('r0'), 4);
      // The program's label wins over the frame count of the same name.
      assert.strictEqual(await evaluate('PC == frame'), 1);
      // Set at the 5th interrupt, which has been weighed: its 25th hit is the 30th.
      await dc.customRequest('setInstructionBreakpoints', { breakpoints: [{ instructionReference: 'frame', hitCondition: '25' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'instruction breakpoint');
      assert.strictEqual(await evaluate('r0'), 29);
      await runTo(dc.reverseContinueRequest({ threadId: 1 }), 'function breakpoint');
      assert.strictEqual(await evaluate('r0'), 4);
      // Set at the 5th interrupt, already weighed: its first hit is the 6th,
      // and before it has none.
      await dc.setFunctionBreakpointsRequest({ breakpoints: [] });
      await dc.customRequest('setInstructionBreakpoints', { breakpoints: [{ instructionReference: 'frame', hitCondition: '== 1' }] });
      await runTo(dc.reverseContinueRequest({ threadId: 1 }), 'step');
      assert.strictEqual(await evaluate('PC'), 0x100);
      await runTo(dc.continueRequest({ threadId: 1 }), 'instruction breakpoint');
      assert.strictEqual(await evaluate('r0'), 5);
    });

    it('starts a new future when the state is changed by hand', async () => {
      await startStopped();
      let printed = '';
      dc.on('output', (e) => { if (e.body.category === 'stdout') printed += e.body.output; });
      await lineBreaks([{ line: lineOf('OUT   0x80, r0') }]);
      await runTo(dc.continueRequest({ threadId: 1 }), 'breakpoint');
      await runTo(dc.stepInRequest({ threadId: 1 }), 'step');
      await runTo(dc.stepBackRequest({ threadId: 1 }), 'step');
      await dc.setVariableRequest({ variablesReference: 1, name: 'r0', value: '0x42' });
      await runTo(dc.stepInRequest({ threadId: 1 }), 'step');
      assert.match(printed, /out\[0x80\] <- 0x1\nout\[0x80\] <- 0x42\n$/);
    });
  });

  describe('memory, registers and code', () => {
    it('reads, writes and disassembles memory and sets registers', async () => {
      await startStopped();
      await dc.customRequest('writeMemory', { memoryReference: '0xA000', data: Buffer.from([1, 2, 3]).toString('base64') });
      const read = await dc.customRequest('readMemory', { memoryReference: 'COUNTER', offset: 1, count: 2 });
      assert.deepStrictEqual([...Buffer.from(read.body.data, 'base64')], [2, 3]);
      const set = await dc.setVariableRequest({ variablesReference: 2, name: 'p4', value: '0x1234 + 1' });
      assert.strictEqual(set.body.value, '0x1235 (4661)');
      assert.strictEqual(await evaluate('r5'), 0x35);
      await assert.rejects(dc.setVariableRequest({ variablesReference: 3, name: 'frame', value: '1' }), /only registers/);
      await assert.rejects(dc.setVariableRequest({ variablesReference: 1, name: 'r0', value: '300' }), /300 does not fit r0 \(-128\.\.255\)/);
      assert.strictEqual((await dc.setVariableRequest({ variablesReference: 1, name: 'r0', value: '-1' })).body.value, '0xFF (255)');
      // The ROM is not written, and a write or read past 0xFFFF does not wrap.
      const opcode = await evaluate('[0x0100]');
      const rom = await dc.customRequest('writeMemory', { memoryReference: '0x0100', data: 'AAA=' });
      assert.deepStrictEqual([rom.body.bytesWritten, await evaluate('[0x0100]')], [0, opcode]);
      assert.notStrictEqual(opcode, 0);
      await assert.rejects(dc.customRequest('writeMemory', { memoryReference: '0xFFFF', data: 'AAA=' }), /run past 0xFFFF/);
      const end = await dc.customRequest('readMemory', { memoryReference: '0xFFFF', count: 2 });
      assert.deepStrictEqual([end.body.unreadableBytes, Buffer.from(end.body.data, 'base64').length], [1, 1]);
      const dis = await dc.disassembleRequest({ memoryReference: '0x0108', instructionOffset: -1, instructionCount: 3 });
      const shown = dis.body.instructions.map((i) => [i.address, i.instruction]);
      assert.deepStrictEqual(shown, [['0x0107', 'EI'], ['0x0108', 'CALL bump'], ['0x010B', 'OUT 0x80, r0']]);
      assert.strictEqual(dis.body.instructions[1].symbol, 'main.loop');
    });

    it('stops at an instruction address and works on disassembly alone without debug information', async () => {
      const bare = path.join(ROMS, 'bare.rom');
      await Promise.all([dc.configurationSequence(), dc.launch({ program: bare, noDisplay: true, stopOnEntry: true }),
        dc.waitForEvent('stopped')]);
      await dc.customRequest('setInstructionBreakpoints', { breakpoints: [{ instructionReference: '0x0103' }] });
      await runTo(dc.continueRequest({ threadId: 1 }), 'instruction breakpoint');
      const frames = await topFrame();
      assert.strictEqual(frames[0].name, '0x0103');
      assert.strictEqual(frames[0].source, undefined);
      assert.strictEqual(frames[0].instructionPointerReference, '0x0103');
      assert.strictEqual(await evaluate('frame + 1'), 1);
    });
  });

  describe('illegal opcodes', () => {
    it('stops before one, then ends with status 4', async () => {
      const [, , stopped] = await Promise.all([dc.configurationSequence(),
        dc.launch({ program: ILLEGAL, noDisplay: true }), dc.waitForEvent('stopped')]);
      assert.strictEqual(stopped.body.reason, 'exception');
      assert.strictEqual(stopped.body.description, 'Illegal opcode 0x71 at 0x0106');
      const printed = outputIncluding('stderr', 'Illegal opcode 0x71 at 0x0106\n');
      assert.strictEqual(await evaluate('r1'), 2);
      assert.strictEqual(await evaluate('PC'), 0x106);
      const [, exited] = await Promise.all([dc.continueRequest({ threadId: 1 }), dc.waitForEvent('exited')]);
      assert.strictEqual(exited.body.exitCode, 4);
      await printed;
    });
  });
});

// The adapter spoken to byte by byte, as by a client that gets the framing
// wrong (the framing's own tests try every kind of fault).
describe('lumacor-debug on malformed input', function () {
  it('answers after malformed frames, and leaves with status 1 when the input breaks off', async () => {
    const framed = (body) => `Content-Length: ${Buffer.byteLength(body)}\r\n\r\n${body}`;
    const request = (seq, extra) => framed(JSON.stringify(Object.assign({ seq, type: 'request', command: 'threads' }, extra)));
    const child = spawn(ADAPTER, [], { stdio: ['pipe', 'pipe', 'pipe'] });
    let [out, stderr] = ['', ''];
    child.stdout.on('data', (d) => { out += d; });
    child.stderr.on('data', (d) => { stderr += d; });
    const exited = new Promise((resolve) => child.on('exit', resolve));
    child.stdin.end('Content-Length: 99999999999\r\n\r\n' + request(1) + framed('{x}') + request(2, { arguments: 7 }) +
      framed('[1]') + request(3, { type: undefined }) + request('4') + request(5) + 'Content-Length: 50\r\n\r\n{"seq"');
    assert.strictEqual(await exited, 1);
    const messages = out.split(/Content-Length: \d+\r\n\r\n/).slice(1).map((m) => JSON.parse(m));
    assert.deepStrictEqual(messages.map((m) => m.success ?? m.body.output.split(': ')[2]),
      ['Content-Length \'99999999999\' is over the 16 MiB a message may have\n', true, 'a message that is no JSON',
        false, 'a message that is no JSON object but an array\n', 'a message without a \'type\'\n',
        'a request without a numeric \'seq\'\n', true, 'the rest of the input']);
    assert.strictEqual(stderr, 'lumacor-debug: the input ended 6 bytes into a message of 50\n');
  });
});

// The window of a launch without noDisplay, on an X server of the test's own.
describe('lumacor-debug in a window', function () {
  // Generous limits, for a busy host and a sanitizer build: each wait still
  // ends as soon as what it waits for comes.
  this.timeout(300000);
  const { XVFB, CLOSE_WINDOW } = process.env;
  let server;
  let env;

  before(async function () {
    // As everywhere in the suite, a missing X server fails the test and says so.
    if (!XVFB || !CLOSE_WINDOW) throw new Error('Xvfb was not found when the tests were configured (scripts/deps.sh installs it)');
    server = spawn(XVFB, ['-displayfd', '3', '-screen', '0', '800x600x24'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
    const number = await new Promise((resolve) => server.stdio[3].once('data', (d) => resolve(String(d).trim())));
    // The display's libraries keep allocations to the end; leaks are the
    // headless runs' to find.
    const asan = (process.env.ASAN_OPTIONS ? process.env.ASAN_OPTIONS + ':' : '') + 'detect_leaks=0';
    env = Object.assign({}, process.env, { DISPLAY: ':' + number, SDL_AUDIODRIVER: 'dummy', ASAN_OPTIONS: asan });
  });
  after(() => server && server.kill());

  // The colour at the middle of the window (at 100, 100, 512 x 384).
  const middle = () => [...execFileSync('import', ['-window', 'root', '-depth', '8', '-crop', '1x1+356+292', 'rgb:-'], { env })];

  it('runs paced, keeps its picture while stopped, takes keys between frames, and ends when closed', async () => {
    const dc = new DebugClient(ADAPTER, '', 'lumacor', { env });
    dc.defaultTimeout = 60000;
    const value = async (expression) => Number((await dc.evaluateRequest({ expression })).body.result.split(' ')[0]);
    await dc.start();
    try {
      await dc.initializeRequest();
      const launched = dc.launchRequest({ program: path.join(ROMS, 'window.rom') });
      await dc.waitForEvent('initialized');
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'frame', hitCondition: '== 20' }] });
      const started = Date.now();
      await Promise.all([dc.configurationDoneRequest(), launched, dc.waitForEvent('stopped')]);
      // 19 frames 16 ms apart at the least; unpaced they take a millisecond.
      assert.ok(Date.now() - started >= 19 * 16 * 0.9, `20 frames in ${Date.now() - started} ms`);
      const shown = middle();
      assert.notDeepStrictEqual(shown, [0, 0, 0]);
      const id = execFileSync('xdotool', ['search', '--name', 'lumacor'], { env }).toString().split('\n')[0];
      execFileSync('xdotool', ['windowunmap', '--sync', id], { env });
      execFileSync('xdotool', ['windowmap', '--sync', id], { env });
      // Drawn again once mapped: polled, so a slow host only takes longer.
      for (const until = Date.now() + 60000; Date.now() < until && String(middle()) !== String(shown);)
        await new Promise((resolve) => setTimeout(resolve, 100));
      assert.deepStrictEqual(middle(), shown);
      // A key held while stopped reaches pad 1 as the next frame starts.
      execFileSync('xdotool', ['windowfocus', '--sync', id], { env });
      execFileSync('xdotool', ['keydown', 'Right'], { env });
      await new Promise((resolve) => setTimeout(resolve, 100));
      assert.strictEqual(await value('[0xFF0A]'), 0);
      await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'frame' }] });
      await Promise.all([dc.continueRequest({ threadId: 1 }), dc.waitForEvent('stopped')]);
      assert.strictEqual(await value('[0xFF0A]'), 0x08);
      execFileSync('xdotool', ['keyup', 'Right'], { env });
      await new Promise((resolve) => setTimeout(resolve, 100));
      await Promise.all([dc.continueRequest({ threadId: 1 }), dc.waitForEvent('stopped')]);
      assert.strictEqual(await value('[0xFF0A]'), 0);
      // Back into the frame before, the key is held again, as recorded.
      await Promise.all([dc.stepBackRequest({ threadId: 1 }), dc.waitForEvent('stopped')]);
      assert.strictEqual(await value('[0xFF0A]'), 0x08);
      await dc.setFunctionBreakpointsRequest({ breakpoints: [] });
      await dc.continueRequest({ threadId: 1 });
      const [exited] = await Promise.all([dc.waitForEvent('exited'), dc.waitForEvent('terminated'),
        execFileSync(CLOSE_WINDOW, ['lumacor', '10'], { env })]);
      assert.strictEqual(exited.body.exitCode, 0);
      assert.notDeepStrictEqual(middle(), shown);
    } finally {
      await finish(dc);
    }
  });
});
