// The package's API in Node, on a stand-in context that records what the package asks of it
// (the samples are checked in Chromium by package_test.py): options to settings, AudioParams,
// the messages set() and dispose() send, instanceof, and the errors a caller meets.
// Usage: node api_test.mjs PACKAGE_DIR
import assert from "node:assert/strict";
import { join } from "node:path";
import { test } from "node:test";
import { pathToFileURL } from "node:url";

const dir = process.argv[2];
const api = await import(pathToFileURL(join(dir, "index.js")));
const inline = await import(pathToFileURL(join(dir, "inline.js")));

// A wrapped context, as Tone.js's is: its own addAudioWorkletModule and createAudioWorkletNode.
function standIn() {
  const context = { modules: [], nodes: [] };
  context.addAudioWorkletModule = async (url) => { context.modules.push(url); };
  context.createAudioWorkletNode = (name, options) => {
    const messages = [];
    const node = {
      name, options, messages, connected: true,
      parameters: new Map(Object.entries(options.parameterData).map(([key, value]) => [key, { key, value }])),
      port: { postMessage: (message) => messages.push(message), onmessage: null },
      disconnect() { node.connected = false; },
    };
    context.nodes.push(node);
    return node;
  };
  return context;
}

test("load adds the worklet once per context and fetches the module once", async () => {
  const context = standIn();
  const loaded = await Promise.all([inline.load(context), inline.load(context)]);
  assert.equal(loaded[0], inline.OrvaneEffects);
  await inline.load(context);
  assert.equal(context.modules.length, 1);
  assert.match(context.modules[0], /^blob:/);
  await assert.rejects(inline.load(null), TypeError);
});

test("load takes the SIMD build where the engine has it, the portable one when asked", async () => {
  const [fast, plain] = [standIn(), standIn()];
  await inline.load(fast);
  await inline.load(plain, { simd: false });
  assert.equal(inline.usesSimd(fast), true);  // node's engine has SIMD
  assert.equal(inline.usesSimd(plain), false);
  assert.equal(inline.usesSimd(standIn()), undefined);
  const bytes = (context) => new Uint8Array(new inline.Delay(context).options.processorOptions.wasm);
  const [simd, portable] = [bytes(fast), bytes(plain)];
  assert.deepEqual([...simd.subarray(0, 4)], [0, 97, 115, 109]);
  assert.deepEqual([...portable.subarray(0, 4)], [0, 97, 115, 109]);
  assert.notDeepEqual(simd, portable);
});

test("every effect of the description is a class whose node has an AudioParam per setting", async () => {
  const context = standIn();
  await inline.load(context);
  assert.deepEqual(inline.effects.map((e) => e.type).sort(),
                   ["Chorus", "Delay", "Flanger", "PingPongDelay", "Vibrato"]);
  for (const info of inline.effects) {
    const node = new inline[info.type](context);
    assert.ok(node instanceof inline[info.type]);
    assert.ok(!(node instanceof inline.Chain));
    for (const other of inline.effects.filter((e) => e.type !== info.type)) {
      assert.ok(!(node instanceof inline[other.type]));
    }
    assert.equal(node.name, "orvane-chain");
    assert.deepEqual(node.options.processorOptions.chain, [{ type: info.type, settings: [] }]);
    for (const setting of info.settings) {
      const property = setting.id.replace(/-([a-z])/g, (_, c) => c.toUpperCase());
      assert.equal(node[property], node.parameters.get(`0.${setting.id}`), property);
      assert.equal(node[property].value, setting.default, property);
    }
  }
});

test("options name settings by property or id; booleans switch toggles", async () => {
  const context = standIn();
  await inline.load(context);
  const node = new inline.Delay(context, { delay: 350, "wet-mix": 0.5, dryMix: 0.25, enabled: false });
  assert.deepEqual(node.options.processorOptions.chain[0].settings, [[3, 350], [2, 0.5], [1, 0.25], [0, 0]]);
  assert.equal(node.delay.value, 350);
  assert.equal(node.enabled.value, 0);
  assert.equal(node.wetMix.value, 0.5);
  // A type in the options never replaces the class's own.
  assert.equal(new inline.Chorus(context, { type: "Delay" }).options.processorOptions.chain[0].type, "Chorus");
});

test("a chain has AudioParams for its first eight effects and set() for every one", async () => {
  const context = standIn();
  await inline.load(context);
  const entries = Array.from({ length: 10 }, (_, i) => ({ type: i % 2 ? "Flanger" : "Delay", level: -i }));
  const chain = new inline.Chain(context, entries);
  assert.ok(chain instanceof inline.Chain);
  assert.equal(chain.effects.length, 8);
  assert.equal(chain.effects[3].sweepWidth, chain.parameters.get("3.sweep-width"));
  assert.equal(chain.effects[7].level.value, -7);
  chain.set(9, "sweepWidth", 0.004);
  chain.set(0, "enabled", false);
  assert.deepEqual(chain.messages, [{ kind: "set", effect: 9, index: 1, value: 0.004 },
                                    { kind: "set", effect: 0, index: 0, value: 0 }]);
  assert.throws(() => chain.set(10, "level", 0), /no effect at position 10/);
  assert.throws(() => chain.set(1, "delay", 5), /Flanger has no setting "delay"/);
  chain.dispose();
  assert.equal(chain.connected, false);
  assert.deepEqual(chain.messages.at(-1), { kind: "dispose" });
});

test("mistakes are refused with what there is", async () => {
  const context = standIn();
  assert.throws(() => new api.Delay(context), /await load\(context\) first/);
  await inline.load(context);
  assert.throws(() => new inline.Delay(context, { delya: 3 }),
                /Delay has no setting "delya": its settings are enabled, dryMix, wetMix, delay/);
  assert.throws(() => new inline.Delay(context, { delay: "350" }), /Delay delay: expected a number/);
  assert.throws(() => new inline.Delay(context, { feedback: NaN }), TypeError);
  assert.throws(() => new inline.Chain(context, []), /non-empty array/);
  assert.throws(() => new inline.Chain(context, [{ type: "Reverb" }]),
                /unknown effect type "Reverb": one of Delay, PingPongDelay/);
  assert.equal(context.nodes.length, 0);
});

test("a worklet that cannot build its chain says why through the node", async () => {
  const context = standIn();
  await inline.load(context);
  const node = new inline.Vibrato(context);
  let heard = null;
  node.onerror = (error) => { heard = error.message; };
  node.port.onmessage({ data: { kind: "error", message: "no memory left" } });
  assert.equal(node.error, "no memory left");
  assert.equal(heard, "no memory left");
});
