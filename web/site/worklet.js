// The live chain in the audio rendering thread. Built once, when the node is created: the
// module is compiled from the bytes the page hands over and every effect's memory is set up
// then, so process() allocates nothing. Setting changes arrive on the message port and are
// applied at the start of the next render quantum.
import { BLOCK, instantiate } from "./effects-module.js";

class OrvaneChainProcessor extends AudioWorkletProcessor {
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
    // The views on every effect's memory, made now (after the last growth) rather than in
    // process().
    for (const effect of this.chain) { effect.channel(0); effect.channel(1); }
    this.pending = [];  // [effect position, setting index, value]
    this.bypassAll = false;
    this.port.onmessage = ({ data }) => {
      if (data.kind === "set") this.pending.push([data.effect, data.index, data.value]);
      if (data.kind === "dry") this.bypassAll = data.dry;
    };
  }

  process(inputs, outputs) {
    for (let i = 0; i < this.pending.length; ++i) {
      const change = this.pending[i];
      if (change[0] < this.chain.length) this.chain[change[0]].set(change[1], change[2]);
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
    first.process(BLOCK);
    for (let i = 1; i < this.chain.length; ++i) {
      const effect = this.chain[i];
      const previous = this.chain[i - 1];
      effect.channel(0).set(previous.channel(0));
      effect.channel(1).set(previous.channel(1));
      effect.process(BLOCK);
    }
    const last = this.chain[this.chain.length - 1];
    for (let c = 0; c < output.length; ++c) output[c].set(last.channel(Math.min(c, 1)));
    return true;
  }
}

registerProcessor("orvane-chain", OrvaneChainProcessor);
