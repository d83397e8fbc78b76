// The effects' WebAssembly module, instantiated from its bytes, with a small JavaScript face:
// create an effect by type, set a setting by index, process 128-frame blocks of planar floats.
// Used by the AudioWorklet (the live chain) and usable on the main thread as well.

export const BLOCK = 128;

// Settings that move: the chain node has an AudioParam for each setting of its first
// AUTOMATED_EFFECTS effects, named "position.id" ("0.feedback", "1.sweep-width"), and sets
// each at the first frame of every PIECE frames the param changes in: a step lands on the next
// piece, and a ramp moves every PIECE frames, as orvane-fx's envelopes and the plugins do.
export const AUTOMATED_EFFECTS = 8;
export const PIECE = 32;
export const paramName = (position, id) => `${position}.${id}`;

// The AudioParams of the chain node, for every setting any effect has (the node does not know
// its chain when the worklet is registered). Their nominal range is any float: the library
// takes any value, as the other front ends do. They are a-rate: a k-rate param has one value
// per 128-frame quantum, and a ramp is read every 32 frames.
export function parameterDescriptors(catalogue) {
  const ids = [...new Set(catalogue.flatMap((effect) => effect.settings.map((s) => s.id)))];
  const descriptors = [];
  for (let position = 0; position < AUTOMATED_EFFECTS; ++position) {
    for (const id of ids) {
      descriptors.push({ name: paramName(position, id), defaultValue: 0,
                         minValue: -3.4028234663852886e38, maxValue: 3.4028234663852886e38,
                         automationRate: "a-rate" });
    }
  }
  return descriptors;
}

// A note value ("1/8", "1/8." dotted, "1/8t" triplet) at a tempo, in milliseconds, in the
// library's own operations and order, or -1: what orvane-fx's --bpm and the plugins' sync give.
export function noteValueMs(text, beatsPerMinute) {
  const match = /^([0-9]+)\/([0-9]+)([.tT]?)$/.exec(text);
  if (!match || !(beatsPerMinute > 0) || !Number.isFinite(beatsPerMinute)) return -1;
  const numerator = Number(match[1]), denominator = Number(match[2]);
  if (numerator === 0 || denominator === 0 || denominator > 64 ||
      (denominator & (denominator - 1)) !== 0) {
    return -1;
  }
  const factor = match[3] === "." ? 1.5 : match[3] ? 2.0 / 3.0 : 1.0;
  return 60000.0 / beatsPerMinute * (4.0 * numerator / denominator) * factor;
}

export function instantiate(bytes) {
  const module = bytes instanceof WebAssembly.Module ? bytes : new WebAssembly.Module(bytes);
  let memory = null;
  // The module asks the host for nothing but an empty environment, an exit that never comes, and
  // to be told when its memory grows (the views on it are made anew: Effect.channel).
  const imports = {
    env: { emscripten_notify_memory_growth() {} },
    wasi_snapshot_preview1: {
      proc_exit(code) { throw new Error(`the effects module exited with ${code}`); },
      environ_sizes_get(countPointer, sizePointer) {
        const view = new DataView(memory.buffer);
        view.setUint32(countPointer, 0, true);
        view.setUint32(sizePointer, 0, true);
        return 0;
      },
      environ_get() { return 0; },
    },
  };
  const instance = new WebAssembly.Instance(module, imports);
  const api = instance.exports;
  memory = api.memory;
  api._initialize();
  return new EffectsModule(api);
}

class EffectsModule {
  constructor(api) { this.api = api; }

  // An effect of a catalogue type for stereo 128-frame blocks; throws for an unknown type, or
  // when the module has no memory left for it.
  create(type, sampleRate, channels = 2) {
    // Type names are ASCII (the worklet's scope has no TextEncoder).
    const name = this.api.malloc(type.length + 1);
    if (!name) throw new Error("the effects module has no memory left");
    const bytes = new Uint8Array(this.api.memory.buffer, name, type.length + 1);
    for (let i = 0; i < type.length; ++i) bytes[i] = type.charCodeAt(i) & 0x7f;
    bytes[type.length] = 0;
    const handle = this.api.oe_create(name, channels, BLOCK, sampleRate);
    this.api.free(name);
    if (!handle) {
      throw new Error(`cannot make a ${type}: an unknown type, or no memory left for one more ` +
                      "effect");
    }
    return new Effect(this.api, handle, channels);
  }
}

class Effect {
  constructor(api, handle, channels) {
    this.api = api;
    this.handle = handle;
    this.channels = channels;
    this.views = [];
  }

  set(index, value) { this.api.oe_set(this.handle, index, value); }
  get(index) { return this.api.oe_get(this.handle, index); }
  // Frames a sound takes through the effect as it is set now (the automatic tail's wait).
  reach() { return this.api.oe_reach(this.handle); }

  // The effect's own block of channel c, in the module's memory. Memory grows only while effects
  // are created, which makes new views (so process() makes none once every effect exists).
  channel(c) {
    if (!this.views[c] || this.views[c].buffer !== this.api.memory.buffer) {
      this.views[c] = new Float32Array(this.api.memory.buffer, this.api.oe_channel(this.handle, c),
                                       BLOCK);
    }
    return this.views[c];
  }

  process(frames) { this.api.oe_process(this.handle, frames); }
  // Frames [offset, offset + frames) of the effect's block: a block in pieces.
  processRange(offset, frames) { this.api.oe_process_range(this.handle, offset, frames); }
  destroy() { this.api.oe_destroy(this.handle); }
}
