// The effects as Web Audio nodes: one AudioWorkletNode per effect or chain, running the
// library compiled to WebAssembly, with an AudioParam per setting.
//
// Nothing here touches a browser global until a function is called, so the package can be
// imported where there is no window (Node, a server-side render). The entries (index.js and
// inline.js) differ only in where the worklet and the WebAssembly module come from: `define`
// is handed a `sources` object with workletUrl() and wasm(), and makes the API over it.
//
// The worklet gets the module's bytes through processorOptions and compiles them itself, so
// no SharedArrayBuffer and no cross-origin isolation (COOP/COEP headers) is needed. There are
// two builds of the module, the same floats from each: one with SIMD128 (every effect's
// kernel four frames at a time), taken where the engine validates SIMD, and a portable one.
import catalogue from "./settings.js";
import { AUTOMATED_EFFECTS, paramName } from "./effects-module.js";

export const PROCESSOR = "orvane-chain";
// What `instanceof Delay` (or Chain) looks for on a node.
const typeTag = Symbol("orvane effect type");
// The catalogue: every effect with its settings (id, name, unit, kind, default, minimum,
// maximum, description), as the library describes them. Frozen: it is shared by every node.
export const effects = Object.freeze(catalogue.effects.map((effect) => Object.freeze({
  ...effect, settings: Object.freeze(effect.settings.map((s) => Object.freeze({ ...s }))),
})));

// "sweep-width" -> "sweepWidth": the name of a setting's option and AudioParam property.
export const propertyName = (id) => id.replace(/-([a-z0-9])/g, (_, c) => c.toUpperCase());

const describe = (type) => effects.find((effect) => effect.type === type);
// A setting of an effect by its property name or its id; -1 for neither.
const settingIndex = (info, name) =>
  info.settings.findIndex((s) => s.id === name || propertyName(s.id) === name);

// The smallest module that uses a SIMD128 instruction (i8x16.splat, i8x16.popcnt): whether the
// engine has SIMD, asked without running anything.
const SIMD_PROBE = [0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8,
                    0, 65, 0, 253, 15, 253, 98, 11];
export function simdSupported() {
  try {
    return typeof WebAssembly === "object" && WebAssembly.validate(new Uint8Array(SIMD_PROBE));
  } catch {
    return false;
  }
}

// The value an option gives a setting: a number as it is (the library takes any number, as
// every front end does), a boolean as 1 or 0 for the toggles.
function settingValue(info, setting, value) {
  if (typeof value === "boolean") return value ? 1 : 0;
  if (typeof value === "number" && !Number.isNaN(value)) return value;
  throw new TypeError(`${info.type} ${propertyName(setting.id)}: expected a number` +
                      `${setting.kind === "toggle" ? " or a boolean" : ""}, got ${String(value)}`);
}

// [{ type, ...options }] -> the worklet's chain [{ type, settings: [[index, value], ...] }].
// Options are named as the AudioParam properties ("sweepWidth") or by the setting's id
// ("sweep-width"); anything else is refused with the names there are.
function chainSpecification(entries) {
  if (!Array.isArray(entries) || entries.length === 0) {
    throw new TypeError("a chain is a non-empty array of { type, ...settings }");
  }
  return entries.map((entry) => {
    const info = describe(entry?.type);
    if (!info) {
      throw new TypeError(`unknown effect type ${JSON.stringify(entry?.type)}: one of ` +
                          effects.map((e) => e.type).join(", "));
    }
    const settings = [];
    for (const [key, value] of Object.entries(entry)) {
      if (key === "type" || value === undefined) continue;
      const index = settingIndex(info, key);
      if (index < 0) {
        throw new TypeError(`${info.type} has no setting ${JSON.stringify(key)}: its settings ` +
                            `are ${info.settings.map((s) => propertyName(s.id)).join(", ")}`);
      }
      settings.push([index, settingValue(info, info.settings[index], value)]);
    }
    return { type: info.type, settings };
  });
}

// How nodes are made on a context: a native BaseAudioContext's own worklet, a wrapper's
// (Tone.js's Context has addAudioWorkletModule and createAudioWorkletNode, and its nodes
// belong to standardized-audio-context), or the caller's own functions.
function contextHooks(context, options) {
  const wrapped = typeof context.addAudioWorkletModule === "function" &&
                  typeof context.createAudioWorkletNode === "function";
  const addModule = options.addAudioWorkletModule ??
    (wrapped ? (url) => context.addAudioWorkletModule(url)
             : (url) => context.audioWorklet.addModule(url));
  const createNode = options.createAudioWorkletNode ??
    (wrapped ? (name, nodeOptions) => context.createAudioWorkletNode(name, nodeOptions)
             : (name, nodeOptions) => new AudioWorkletNode(context, name, nodeOptions));
  return { addModule, createNode };
}

export function define(sources) {
  // Per context: the promise of its state once its worklet module is added, and the state.
  const loading = new WeakMap();
  const ready = new WeakMap();
  const wasmBytes = new Map();  // per build and URL: the module's bytes, fetched once

  // Makes the context ready for effects: adds the worklet module to it (once per context) and
  // fetches the WebAssembly module (once). Resolves to the API. Options:
  //   addAudioWorkletModule(url), createAudioWorkletNode(name, options): the context's own ways
  //     to add a worklet module and make a worklet node, for wrapped contexts;
  //   workletUrl, wasmUrl: where the files are served, when a bundler did not keep them beside
  //     the package's modules (wasmUrl: the build `simd` chooses);
  //   simd: false for the portable build even where the engine has SIMD (the same floats).
  async function load(context, options = {}) {
    if (!context || typeof context !== "object") {
      throw new TypeError(
        "load(context): an AudioContext, an OfflineAudioContext or a Tone.js context");
    }
    if (!loading.has(context)) {
      const hooks = contextHooks(context, options);
      const promise = (async () => {
        const simd = options.simd ?? simdSupported();
        const key = `${simd} ${options.wasmUrl ?? ""}`;
        if (!wasmBytes.has(key)) {
          wasmBytes.set(key, sources.wasm(options.wasmUrl, simd).catch((error) => {
            wasmBytes.delete(key);  // a failed fetch may be tried again
            throw error;
          }));
        }
        const addWorklet = async () => {
          const worklet = await sources.workletUrl(options.workletUrl);
          try {
            await hooks.addModule(String(worklet.url));
          } finally {
            worklet.release?.();
          }
        };
        // Both at once; a failure of either is the call's.
        const [wasm] = await Promise.all([wasmBytes.get(key), addWorklet()]);
        const state = { wasm, createNode: hooks.createNode, simd };
        ready.set(context, state);
        return state;
      })();
      loading.set(context, promise);
      promise.catch(() => loading.delete(context));
    }
    await loading.get(context);
    return api;
  }

  // The worklet node of a chain of effects, with every setting of its first AUTOMATED_EFFECTS
  // effects an AudioParam starting at the setting's value.
  function chainNode(context, entries) {
    const state = ready.get(context);
    if (!state) {
      throw new Error("the effects are not loaded on this context: await load(context) first");
    }
    const chain = chainSpecification(entries);
    const parameterData = {};
    chain.slice(0, AUTOMATED_EFFECTS).forEach(({ type, settings }, position) => {
      const info = describe(type);
      const values = info.settings.map((setting) => setting.default);
      for (const [index, value] of settings) values[index] = value;
      info.settings.forEach((setting, index) => {
        parameterData[paramName(position, setting.id)] = values[index];
      });
    });
    const node = state.createNode(PROCESSOR, {
      numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [2],
      channelCount: 2, channelCountMode: "explicit", channelInterpretation: "speakers",
      // The worklet copies what it is given; the bytes stay ours for the next node.
      processorOptions: { wasm: state.wasm, chain }, parameterData,
    });
    // The worklet tells why a chain could not be built (no memory left); it then passes its
    // input through.
    node.port.onmessage = ({ data }) => {
      if (data?.kind === "error") {
        node.error = data.message;
        node.onerror?.(new Error(data.message));
      }
    };
    const paramsOf = (position) => {
      const params = {};
      for (const setting of describe(chain[position].type).settings) {
        params[propertyName(setting.id)] = node.parameters.get(paramName(position, setting.id));
      }
      return Object.freeze(params);
    };
    Object.defineProperties(node, {
      // Effects beyond the automated ones have no AudioParams: set(position, name, value)
      // reaches them (and any effect) at the start of the next render quantum.
      set: {
        value(position, name, value) {
          const info = describe(chain[position]?.type);
          if (!info) throw new RangeError(`the chain has no effect at position ${position}`);
          const index = settingIndex(info, name);
          if (index < 0) throw new TypeError(`${info.type} has no setting ${JSON.stringify(name)}`);
          const number = settingValue(info, info.settings[index], value);
          node.port.postMessage({ kind: "set", effect: position, index, value: number });
        },
      },
      // Disconnects the node and frees its effects in the worklet; it is silent from then on.
      dispose: {
        value() {
          node.disconnect();
          node.port.postMessage({ kind: "dispose" });
        },
      },
    });
    return { node, paramsOf, chain };
  }

  // An effect's node class: `new Delay(context, { delay: 350 })` is an AudioWorkletNode with
  // an AudioParam property per setting (node.feedback, node.wetMix).
  function effectClass(info) {
    const Effect = class {
      constructor(context, options = {}) {
        const { node, paramsOf } = chainNode(context, [{ ...options, type: info.type }]);
        const params = paramsOf(0);
        for (const [name, param] of Object.entries(params)) {
          Object.defineProperty(node, name, { value: param, enumerable: true });
        }
        Object.defineProperty(node, typeTag, { value: info.type });
        return node;
      }

      static get description() { return info; }

      static [Symbol.hasInstance](value) { return value?.[typeTag] === info.type; }
    };
    Object.defineProperty(Effect, "name", { value: info.type });
    return Effect;
  }

  // Several effects in one worklet node: one WebAssembly instance, one hop through the audio
  // thread. `effects[position]` holds each automated effect's AudioParams by property name.
  class Chain {
    constructor(context, entries) {
      const { node, paramsOf, chain } = chainNode(context, entries);
      const params = chain.slice(0, AUTOMATED_EFFECTS).map((_, position) => paramsOf(position));
      Object.defineProperty(node, "effects", { value: Object.freeze(params), enumerable: true });
      Object.defineProperty(node, typeTag, { value: "Chain" });
      return node;
    }

    static [Symbol.hasInstance](value) { return value?.[typeTag] === "Chain"; }
  }

  const classes = Object.fromEntries(effects.map((info) => [info.type, effectClass(info)]));
  // Whether load() gave this context the SIMD build; undefined before load().
  const usesSimd = (context) => ready.get(context)?.simd;
  const api = Object.freeze({ load, effects, usesSimd, Chain, ...classes });
  return api;
}

