// The chain in the audio rendering thread. Built once, when the node is created: the
// module is compiled from the bytes the package hands over and every effect's memory is set up
// then, so process() allocates nothing. Settings move through the node's AudioParams (one per
// setting of the first AUTOMATED_EFFECTS effects, set every PIECE frames where they change)
// or arrive on the message port, applied at the start of the next render quantum.
import catalogue from "./effect-settings.js";
import { AUTOMATED_EFFECTS, BLOCK, PIECE, instantiate, paramName, parameterDescriptors }
  from "./effects-module.js";

const descriptors = parameterDescriptors(catalogue.effects);

class OrvaneChainProcessor extends AudioWorkletProcessor {
  static get parameterDescriptors() { return descriptors; }

  constructor(options) {
    super();
    const { wasm, chain } = options.processorOptions;
    // A chain that cannot be built passes its input through and tells the page why.
    this.chain = [];
    try {
      const effects = instantiate(wasm);
      this.chain = chain.map(({ type, settings }) => {
        const effect = effects.create(type, sampleRate);
        for (const [index, value] of settings) effect.set(index, value);
        return effect;
      });
    } catch (error) {
      for (const effect of this.chain) effect.destroy();
      this.chain = [];
      this.port.postMessage({ kind: "error", message: error.message });
    }
    // Per automated effect: its params' names by setting index, and the value each last set
    // (what the node was made with: chainNode gives every param its effect's value).
    this.params = this.chain.slice(0, AUTOMATED_EFFECTS).map((effect, position) => {
      const info = catalogue.effects.find((e) => e.type === chain[position].type);
      return info.settings.map((setting) => paramName(position, setting.id));
    });
    this.applied = this.params.map((names, position) =>
      names.map((_, index) => this.chain[position].get(index)));
    // The views on every effect's memory, made now (after the last growth) rather than in
    // process().
    for (const effect of this.chain) { effect.channel(0); effect.channel(1); }
    this.pending = [];  // [effect position, setting index, value]
    this.bypassAll = false;
    this.port.onmessage = ({ data }) => {
      if (data.kind === "set") this.pending.push([data.effect, data.index, data.value]);
      if (data.kind === "dry") this.bypassAll = data.dry;
      if (data.kind === "dispose") this.disposed = true;
    };
    this.disposed = false;
  }

  // Sets effect `position`'s settings to its params' values at frame `frame` of the quantum;
  // whether any of them varies within it.
  applyParams(position, parameters, frame) {
    const names = this.params[position];
    if (!names) return false;
    const applied = this.applied[position];
    let varies = false;
    for (let index = 0; index < names.length; ++index) {
      const values = parameters[names[index]];
      if (values.length > 1) varies = true;
      const value = values.length > 1 ? values[frame] : values[0];
      if (value !== applied[index]) {
        this.chain[position].set(index, value);
        applied[index] = value;
      }
    }
    return varies;
  }

  process(inputs, outputs, parameters) {
    // A disposed node frees its effects and asks to be let go (its output is silence).
    if (this.disposed) {
      for (const effect of this.chain) effect.destroy();
      this.chain = [];
      return false;
    }
    for (let i = 0; i < this.pending.length; ++i) {
      const change = this.pending[i];
      const position = change[0], index = change[1], value = change[2];
      if (position >= this.chain.length) continue;
      this.chain[position].set(index, value);
      // A message's value holds until the setting's param itself moves.
      const names = this.params[position];
      if (names && index < names.length) this.applied[position][index] = parameters[names[index]][0];
    }
    this.pending.length = 0;
    const input = inputs[0];
    const output = outputs[0];
    const inputChannels = input.length;
    // Render quanta are BLOCK frames; the effects' blocks are made for exactly that.
    if (this.bypassAll || this.chain.length === 0 || output[0].length !== BLOCK) {
      for (let c = 0; c < output.length; ++c) {
        if (inputChannels) output[c].set(input[Math.min(c, inputChannels - 1)]);
        else output[c].fill(0);
      }
      return true;
    }
    // Stereo throughout: a mono input feeds both sides; no input (a source that ended) is
    // silence, so echoes ring out.
    const first = this.chain[0];
    for (let c = 0; c < 2; ++c) {
      if (inputChannels) first.channel(c).set(input[Math.min(c, inputChannels - 1)]);
      else first.channel(c).fill(0);
    }
    for (let position = 0; position < this.chain.length; ++position) {
      const effect = this.chain[position];
      if (position > 0) {
        const previous = this.chain[position - 1];
        effect.channel(0).set(previous.channel(0));
        effect.channel(1).set(previous.channel(1));
      }
      if (!this.applyParams(position, parameters, 0)) {
        effect.process(BLOCK);
        continue;
      }
      effect.processRange(0, PIECE);
      for (let start = PIECE; start < BLOCK; start += PIECE) {
        this.applyParams(position, parameters, start);
        effect.processRange(start, PIECE);
      }
    }
    const last = this.chain[this.chain.length - 1];
    for (let c = 0; c < output.length; ++c) output[c].set(last.channel(Math.min(c, 1)));
    return true;
  }
}

registerProcessor("orvane-chain", OrvaneChainProcessor);
