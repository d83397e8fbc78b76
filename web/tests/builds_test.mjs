// The two WebAssembly builds in node: the SIMD build (every kernel four frames at a time) and the
// portable one must write the same bits for every effect, over settings that put the kernels at
// their edges (delays of a few samples, the longest delay, strong feedback, rates far from
// 48 kHz, settings moved between pieces, non-finite input) and blocks cut into pieces of
// random lengths, so that steps start anywhere and positions wrap mid-step.
// Usage: node builds_test.mjs SITE_DIR
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";
import { pathToFileURL } from "node:url";

const site = process.argv[2];
const { instantiate, BLOCK } = await import(pathToFileURL(join(site, "effects-module.js")));
const catalogue = JSON.parse(readFileSync(join(site, "effect-settings.json"), "utf8")).effects;
const simd = instantiate(readFileSync(join(site, "orvane-effects.wasm")));
const portable = instantiate(readFileSync(join(site, "orvane-effects-portable.wasm")));

// A small deterministic generator, so that a failure names a case that can be run again.
function generator(seed) {
  let state = seed >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state / 4294967296;
  };
}

// Renders `blocks` blocks of noise through both builds, the settings applied first and some
// moved at random pieces; returns the first difference, or null.
function compare(type, rate, settings, { blocks = 400, seed = 1, spikes = false, moves = [] } = {}) {
  const random = generator(seed);
  const effects = [simd.create(type, rate), portable.create(type, rate)];
  try {
    for (const effect of effects) for (const [index, value] of settings) effect.set(index, value);
    for (let block = 0; block < blocks; ++block) {
      const input = [new Float32Array(BLOCK), new Float32Array(BLOCK)];
      for (const channel of input) {
        for (let i = 0; i < BLOCK; ++i) channel[i] = random() - 0.5;
        if (spikes && random() < 0.05) channel[Math.floor(random() * BLOCK)] = [NaN, Infinity, -Infinity][block % 3];
      }
      // The same cut for both builds: pieces of 1 to 40 frames.
      const cuts = [];
      for (let at = 0; at < BLOCK;) {
        const length = Math.min(BLOCK - at, 1 + Math.floor(random() * 40));
        const move = moves.length && random() < 0.2 ? moves[Math.floor(random() * moves.length)] : null;
        cuts.push([at, length, move]);
        at += length;
      }
      const outputs = effects.map((effect) => {
        effect.channel(0).set(input[0]);
        effect.channel(1).set(input[1]);
        for (const [at, length, move] of cuts) {
          if (move) effect.set(move[0], move[1]);
          effect.processRange(at, length);
        }
        return [effect.channel(0).slice(), effect.channel(1).slice()];
      });
      for (let c = 0; c < 2; ++c) {
        const a = new Uint32Array(outputs[0][c].buffer);
        const b = new Uint32Array(outputs[1][c].buffer);
        const frame = a.findIndex((bits, i) => bits !== b[i]);
        if (frame >= 0) {
          return `block ${block} channel ${c} frame ${frame}: SIMD ${outputs[0][c][frame]}, ` +
                 `portable ${outputs[1][c][frame]}`;
        }
      }
    }
    return null;
  } finally {
    for (const effect of effects) effect.destroy();
  }
}

const index = (type, id) => catalogue.find((e) => e.type === type).settings.findIndex((s) => s.id === id);

test("the builds differ: the SIMD one is the one with vector instructions", () => {
  const bytes = [readFileSync(join(site, "orvane-effects.wasm")), readFileSync(join(site, "orvane-effects-portable.wasm"))];
  assert.notDeepEqual(bytes[0], bytes[1]);
});

for (const { type } of catalogue) {
  test(`${type}: the same bits from both builds at its defaults, 48 and 44.1 kHz`, () => {
    assert.equal(compare(type, 48000, []), null);
    assert.equal(compare(type, 44100, [], { seed: 2 }), null);
  });
}

for (const type of ["Delay", "PingPongDelay"]) {
  test(`${type}: the same bits where the kernels meet their edges`, () => {
    const delay = index(type, "delay");
    const feedback = index(type, "feedback");
    const wet = index(type, "wet-mix");
    const dry = index(type, "dry-mix");
    const cases = [
      { rate: 48000, settings: [[delay, 1], [feedback, 0.95]] },     // 48 samples
      { rate: 3000, settings: [[delay, 1], [feedback, 0.9]] },       // 3: under a step
      { rate: 5000, settings: [[delay, 1]] },                        // 5: a step and one
      { rate: 48000, settings: [[delay, 1000], [feedback, 0.99]] },  // the longest
      { rate: 96000, settings: [[delay, 700], [wet, 1.5], [dry, -0.5]] },
      { rate: 48000, settings: [[delay, 3]], moves: [[delay, 2], [delay, 9], [feedback, 0.7], [delay, 0]] },
      { rate: 48000, settings: [[delay, 7], [feedback, 0.5]], spikes: true },
    ];
    cases.forEach(({ rate, settings, ...options }, seed) => {
      assert.equal(compare(type, rate, settings, { seed: seed + 10, ...options }), null,
                   `${type} at ${rate} Hz with ${JSON.stringify(settings)}`);
    });
  });
}

for (const type of ["Chorus", "Flanger", "Vibrato"]) {
  test(`${type}: the same bits with sweeps and rates moved`, () => {
    const sweep = index(type, "sweep-width");
    const frequency = index(type, "frequency");
    assert.equal(compare(type, 22050, [[sweep, 0.02], [frequency, 9]], {
      seed: 30, spikes: true, moves: [[sweep, 0], [sweep, 0.1], [frequency, 0.1], [sweep, -0.001]],
    }), null);
  });
}
