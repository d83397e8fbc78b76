import catalogue from "./effect-settings.js";
import { BLOCK, instantiate } from "./effects-module.js";
import { Chain, load } from "./orvane-audioeffects/index.js";

export { AUTOMATED_EFFECTS, PIECE, noteValueMs, paramName } from "./effects-module.js";

// Sound files and offline rendering for the page and its tests: WAV in and out, and a chain of
// effects rendered with OfflineAudioContext through the same worklet the live page uses.

// A WAV file (PCM 16/24/32-bit or 32-bit float) as { rate, channels: [Float32Array, ...] }.
export function parseWav(arrayBuffer) {
  const view = new DataView(arrayBuffer);
  const tag = (at) => String.fromCharCode(...new Uint8Array(arrayBuffer, at, 4));
  if (tag(0) !== "RIFF" || tag(8) !== "WAVE") throw new Error("not a WAV file");
  let format = null;
  for (let at = 12; at + 8 <= view.byteLength;) {
    const id = tag(at);
    const size = view.getUint32(at + 4, true);
    const body = at + 8;
    if (id === "fmt ") {
      format = {
        code: view.getUint16(body, true), channels: view.getUint16(body + 2, true),
        rate: view.getUint32(body + 4, true), bits: view.getUint16(body + 14, true),
      };
      if (format.code === 0xfffe) format.code = view.getUint16(body + 24, true);
    } else if (id === "data" && format) {
      const bytes = format.bits / 8;
      const frames = Math.floor(Math.min(size, view.byteLength - body) / (bytes * format.channels));
      const channels = Array.from({ length: format.channels }, () => new Float32Array(frames));
      for (let f = 0; f < frames; ++f) {
        for (let c = 0; c < format.channels; ++c) {
          const p = body + (f * format.channels + c) * bytes;
          let v;
          if (format.code === 3 && bytes === 4) v = view.getFloat32(p, true);
          else if (bytes === 2) v = view.getInt16(p, true) / 32768;
          else if (bytes === 3) v = ((view.getUint8(p) | (view.getUint8(p + 1) << 8) | (view.getInt8(p + 2) << 16))) / 8388608;
          else if (bytes === 4) v = view.getInt32(p, true) / 2147483648;
          else throw new Error(`${format.bits}-bit WAV is not supported`);
          channels[c][f] = v;
        }
      }
      return { rate: format.rate, channels };
    }
    at = body + size + (size & 1);
  }
  throw new Error("the WAV file has no audio data");
}

// The sample rate a WAV, FLAC, Ogg (Vorbis or Opus), AIFF or MP3 file's header gives, or 0.
export function headerSampleRate(arrayBuffer) {
  const bytes = new Uint8Array(arrayBuffer);
  const view = new DataView(arrayBuffer);
  const text = (at, length) => String.fromCharCode(...bytes.subarray(at, at + length));
  if (bytes.length >= 12 && text(0, 4) === "RIFF" && text(8, 4) === "WAVE") {
    for (let at = 12; at + 16 <= bytes.length;) {
      const size = view.getUint32(at + 4, true);
      if (text(at, 4) === "fmt ") return view.getUint32(at + 12, true);
      at += 8 + size + (size & 1);
    }
    return 0;
  }
  if (bytes.length >= 22 && text(0, 4) === "fLaC") {  // STREAMINFO: 20 bits of rate
    return (bytes[18] << 12) | (bytes[19] << 4) | (bytes[20] >> 4);
  }
  if (bytes.length >= 64 && text(0, 4) === "OggS") {
    const packet = 27 + bytes[26];  // past the page header and its segment table
    if (text(packet + 1, 6) === "vorbis") return view.getUint32(packet + 12, true);
    if (text(packet, 8) === "OpusHead") return 48000;  // Opus always decodes at 48 kHz
    return 0;
  }
  if (bytes.length >= 12 && text(0, 4) === "FORM" && /^AIF[FC]$/.test(text(8, 4))) {
    for (let at = 12; at + 26 <= bytes.length;) {
      const size = view.getUint32(at + 4);
      if (text(at, 4) === "COMM") {  // an 80-bit extended float
        const exponent = (view.getUint16(at + 16) & 0x7fff) - 16383;
        const mantissa = view.getUint32(at + 18);
        return Math.round(mantissa * 2 ** (exponent - 31));
      }
      at += 8 + size + (size & 1);
    }
    return 0;
  }
  // MPEG audio: the first frame header after any ID3 tag.
  let at = 0;
  if (text(0, 3) === "ID3" && bytes.length >= 10) {
    at = 10 + ((bytes[6] << 21) | (bytes[7] << 14) | (bytes[8] << 7) | bytes[9]);
  }
  if (at + 4 <= bytes.length && bytes[at] === 0xff && (bytes[at + 1] & 0xe0) === 0xe0) {
    const version = (bytes[at + 1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    const index = (bytes[at + 2] >> 2) & 3;
    const base = [44100, 48000, 32000][index];
    if (base === undefined || version === 1) return 0;
    return version === 3 ? base : version === 2 ? base / 2 : base / 4;
  }
  return 0;
}

// 32-bit float stereo (or mono) WAV bytes.
export function encodeWav(channels, rate) {
  const frames = channels[0].length;
  const bytes = 44 + frames * channels.length * 4;
  const view = new DataView(new ArrayBuffer(bytes));
  const text = (at, s) => [...s].forEach((ch, i) => view.setUint8(at + i, ch.charCodeAt(0)));
  text(0, "RIFF"); view.setUint32(4, bytes - 8, true); text(8, "WAVEfmt ");
  view.setUint32(16, 16, true); view.setUint16(20, 3, true); view.setUint16(22, channels.length, true);
  view.setUint32(24, rate, true); view.setUint32(28, rate * channels.length * 4, true);
  view.setUint16(32, channels.length * 4, true); view.setUint16(34, 32, true);
  text(36, "data"); view.setUint32(40, frames * channels.length * 4, true);
  for (let f = 0, p = 44; f < frames; ++f) {
    for (const channel of channels) { view.setFloat32(p, channel[f], true); p += 4; }
  }
  return view.buffer;
}

// Makes a context ready for chainNode: the package's load().
export const loadEffects = load;

// The package's Chain node for the page's chain: [{ type, settings: [[index, value], ...] }, ...].
// Each setting of its first eight effects is an AudioParam ("0.feedback"; node.parameters) that
// starts at the setting's value, so setValueAtTime, linearRampToValueAtTime and
// setTargetAtTime move it: a change shows at the next 32-frame piece.
export function chainNode(context, chain) {
  return new Chain(context, chain.map(({ type, settings }) => {
    const info = catalogue.effects.find((effect) => effect.type === type);
    return { type, ...Object.fromEntries(settings.map(([index, value]) => [info.settings[index].id, value])) };
  }));
}

// Renders planar input through a chain offline, stereo out, with `tailFrames` of silence after;
// `automate(node)`, where given, schedules the node's AudioParams first.
export async function renderOffline(chain, input, rate, tailFrames = 0, automate = null) {
  const frames = input[0].length;
  const context = new OfflineAudioContext(2, frames + tailFrames, rate);
  await load(context);
  const buffer = context.createBuffer(input.length, frames, rate);
  input.forEach((channel, c) => buffer.copyToChannel(channel, c));
  const source = context.createBufferSource();
  source.buffer = buffer;
  const node = chainNode(context, chain);
  if (automate) automate(node);
  source.connect(node).connect(context.destination);
  source.start(0);
  const rendered = await context.startRendering();
  return [rendered.getChannelData(0), rendered.getChannelData(1)];
}

// -90 dBFS, where an automatic tail counts the output as silent, and the longest such a tail
// may run: orvane-fx's --tail auto, to the sample.
export const QUIET_LEVEL = Math.fround(3.16227766e-05);
export const MOST_AUTO_TAIL_SECONDS = 60;

// Renders planar input through a chain on this thread, stereo out (a mono input feeds both
// sides, as the worklet does), with the automatic tail: silence follows the input until the
// output has stayed below QUIET_LEVEL on both channels for as long as the chain's reach, and the
// result ends at its last frame above it (never before the input's end). The same module in
// the same 128-frame blocks as the worklet, so the same samples.
export function renderAutoTail(wasmBytes, chain, input, rate) {
  const module = instantiate(wasmBytes);
  const effects = [];
  try {
    for (const { type, settings } of chain) {
      const effect = module.create(type, rate);
      effects.push(effect);
      for (const [index, value] of settings) effect.set(index, value);
    }
    const reach = effects.reduce((sum, effect) => sum + effect.reach(), 0);
    const frames = input[0].length;
    const most = frames + MOST_AUTO_TAIL_SECONDS * rate;
    const blocks = [[], []];
    let quietRun = 0, end = frames;  // the input, then the tail to its last audible frame
    const block = [new Float32Array(BLOCK), new Float32Array(BLOCK)];
    rendering: for (let start = 0; start < most; start += BLOCK) {
      const n = Math.min(BLOCK, most - start);
      for (let c = 0; c < 2; ++c) {
        const from = input[Math.min(c, input.length - 1)];
        block[c].fill(0);
        if (start < frames) block[c].set(from.subarray(start, Math.min(frames, start + n)));
      }
      for (const effect of effects) {
        effect.channel(0).set(block[0]);
        effect.channel(1).set(block[1]);
        effect.process(n);
        block[0].set(effect.channel(0));
        block[1].set(effect.channel(1));
      }
      for (let f = 0; f < n; ++f) {
        const at = start + f;
        if (at >= frames && quietRun >= reach) break rendering;
        const quiet = Math.abs(block[0][f]) < QUIET_LEVEL && Math.abs(block[1][f]) < QUIET_LEVEL;
        quietRun = quiet ? quietRun + 1 : 0;
        if (!quiet && at >= frames) end = at + 1;
      }
      blocks[0].push(block[0].slice(0, n));
      blocks[1].push(block[1].slice(0, n));
    }
    return blocks.map((pieces) => {
      const out = new Float32Array(end);
      let at = 0;
      for (const piece of pieces) {
        if (at >= out.length) break;
        out.set(piece.subarray(0, Math.min(piece.length, out.length - at)), at);
        at += piece.length;
      }
      return out;
    });
  } finally {
    for (const effect of effects) effect.destroy();
  }
}
