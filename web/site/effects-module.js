// The effects' WebAssembly module, instantiated from its bytes, with a small JavaScript face:
// create an effect by type, set a setting by index, process 128-frame blocks of planar floats.
// Used by the AudioWorklet (the live chain) and usable on the main thread as well.

export const BLOCK = 128;

export function instantiate(bytes) {
  const module = bytes instanceof WebAssembly.Module ? bytes : new WebAssembly.Module(bytes);
  let memory = null;
  // The module asks the host for nothing but an empty environment and an exit that never comes.
  const imports = {
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

  // An effect of a catalogue type for stereo 128-frame blocks; throws for an unknown type.
  create(type, sampleRate, channels = 2) {
    // Type names are ASCII (the worklet's scope has no TextEncoder).
    const name = this.api.malloc(type.length + 1);
    const bytes = new Uint8Array(this.api.memory.buffer, name, type.length + 1);
    for (let i = 0; i < type.length; ++i) bytes[i] = type.charCodeAt(i) & 0x7f;
    bytes[type.length] = 0;
    const handle = this.api.oe_create(name, channels, BLOCK, sampleRate);
    this.api.free(name);
    if (!handle) throw new Error(`no effect of type ${type}`);
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

  // The effect's own block of channel c, in the module's memory (memory never grows, so the
  // views stay valid).
  channel(c) {
    if (!this.views[c]) {
      this.views[c] = new Float32Array(this.api.memory.buffer, this.api.oe_channel(this.handle, c),
                                       BLOCK);
    }
    return this.views[c];
  }

  process(frames) { this.api.oe_process(this.handle, frames); }
  destroy() { this.api.oe_destroy(this.handle); }
}
