// The WebAssembly module's C interface driven from node with what careless or hostile
// JavaScript might pass: sizes that overflow, channels and rates that make no sense, settings
// that are not numbers, handles that were never made or are already gone, and more effects
// than the first memory holds. Nothing may write outside the module's buffers or stop it.
// Usage: node c_interface_test.mjs SITE_DIR
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import assert from "node:assert/strict";

const site = process.argv[2];
const { instantiate, BLOCK } = await import(pathToFileURL(join(site, "effects-module.js")));
const effects = instantiate(readFileSync(join(site, "orvane-effects.wasm")));
const api = effects.api;
const catalogue = JSON.parse(readFileSync(join(site, "effect-settings.json"), "utf8")).effects;
let checks = 0;
const check = (name, test) => {
  try {
    test();
    checks += 1;
  } catch (error) {
    console.error(`FAILED ${name}: ${error.stack}`);
    process.exitCode = 1;
  }
};

const typeName = (type) => {
  const at = api.malloc(type.length + 1);
  const bytes = new Uint8Array(api.memory.buffer, at, type.length + 1);
  for (let i = 0; i < type.length; ++i) bytes[i] = type.charCodeAt(i);
  bytes[type.length] = 0;
  return at;
};
const delayName = typeName("Delay");
// Below the module's data (emscripten starts it at 1024): nothing of the module lives there.
const lowMemory = () => new Uint8Array(api.memory.buffer, 0, 1024).slice();

check("sizes that overflow or make no sense give no effect", () => {
  const before = lowMemory();
  for (const [channels, frames, rate] of [
    [2, 2 ** 31, 48000], [2, 2 ** 31 + 64, 48000], [2, 2 ** 32 - 1, 48000], [1, 2 ** 21, 48000],
    [0, 128, 48000], [3, 128, 48000], [2 ** 32 - 1, 128, 48000], [2, 0, 48000], [2, 128, 0],
  ]) {
    assert.equal(api.oe_create(delayName, channels, frames, rate), 0, `${channels} ${frames} ${rate}`);
  }
  assert.equal(api.oe_create(0, 2, 128, 48000), 0, "no type name");
  assert.equal(api.oe_create(typeName("Echo"), 2, 128, 48000), 0, "unknown type");
  assert.deepEqual(lowMemory(), before, "nothing written to low memory");
});

check("handles never made, or already gone, are ignored", () => {
  const effect = effects.create("Delay", 48000);
  const reference = effects.create("Delay", 48000);
  const input = Float32Array.from({ length: BLOCK }, (_, i) => Math.sin(i / 3));
  const before = lowMemory();
  for (const handle of [0, 1, 8, 4096, effect.handle + 4, 2 ** 31, 2 ** 32 - 4]) {
    api.oe_process(handle, BLOCK);
    api.oe_set(handle, 0, 0);
    assert.equal(api.oe_get(handle, 0), 0);
    assert.equal(api.oe_channel(handle, 0), 0);
    assert.equal(api.oe_setting_count(handle), 0);
    api.oe_destroy(handle);
  }
  assert.deepEqual(lowMemory(), before);
  const gone = effects.create("Chorus", 48000);
  gone.destroy();
  gone.destroy();  // twice
  gone.process(BLOCK);
  gone.set(1, 0.5);
  for (const e of [effect, reference]) {
    for (let c = 0; c < 2; ++c) e.channel(c).set(input);
    e.process(BLOCK * 4);  // more than the block holds: the block
  }
  assert.deepEqual(effect.channel(0), reference.channel(0), "live effects are untouched");
  effect.destroy();
  reference.destroy();
});

check("any value for any setting, and settings past the last, are safe", () => {
  for (const { type, settings } of catalogue) {
    const effect = effects.create(type, 48000);
    for (let index = 0; index < settings.length + 3; ++index) {
      for (const value of [NaN, Infinity, -Infinity, 1e308, -1e308, 4294967296, -1, 0.5]) {
        effect.set(index, value);
        effect.channel(0).fill(0.25);
        effect.channel(1).fill(-0.25);
        effect.process(BLOCK);
      }
    }
    assert.equal(api.oe_setting_count(effect.handle), settings.length, type);
    effect.destroy();
  }
});

check("memory grows for many effects, and a request that cannot be met is refused", () => {
  const made = [];
  for (let i = 0; i < 100; ++i) made.push(effects.create(catalogue[i % catalogue.length].type, 48000));
  for (const effect of made) {
    effect.channel(0).fill(0.5);  // views made after the last growth
    effect.process(BLOCK);
  }
  let refused = false;
  const big = [];
  for (let i = 0; i < 400 && !refused; ++i) {
    const handle = api.oe_create(delayName, 2, 2 ** 20, 48000);  // 8 MB each
    if (handle === 0) refused = true;
    else big.push(handle);
  }
  assert.ok(refused, "a memory limit is reached and refused, not fatal");
  for (const handle of big) api.oe_destroy(handle);
  const after = effects.create("Flanger", 44100);
  after.channel(0).fill(0.1);
  after.process(BLOCK);
  for (const effect of [...made, after]) effect.destroy();
});

if (!process.exitCode) console.log(`${checks} passed, 0 failed`);
