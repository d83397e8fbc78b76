// An app of plain ES modules, served as they are. Besides the cases, it measures what the
// package is for where Web Audio's own nodes cannot go: a feedback loop shorter than a render
// quantum. An impulse through PingPongDelay at 1 ms, and through a DelayNode of 1 ms in a loop
// with a gain: the frame of each one's first echo.
import * as api from "@orvane/audioeffects";
import { inputs, makeNode, planar, post, renderCase, run } from "./common.js";

// The frames where each of the first `count` echoes begins (a sound after silence).
const echoes = (channels, count) => {
  const found = [];
  let silent = true;
  for (let f = 1; f < channels[0].length && found.length < count; ++f) {
    const sounding = channels.some((channel) => channel[f] !== 0);
    if (sounding && silent) found.push(f);
    silent = !sounding;
  }
  return found;
};

async function shortLoops(demo) {
  const frames = 1024;
  const impulse = (context) => {
    const buffer = context.createBuffer(1, 1, demo.rate);
    buffer.getChannelData(0)[0] = 1;
    const source = context.createBufferSource();
    source.buffer = buffer;
    return source;
  };
  let context = new OfflineAudioContext(2, frames, demo.rate);
  await api.load(context);
  const pingPong = new api.PingPongDelay(context, { delay: 1, feedback: 0.5, dryMix: 0 });
  let source = impulse(context);
  source.connect(pingPong).connect(context.destination);
  source.start(0);
  const ours = await context.startRendering();

  context = new OfflineAudioContext(2, frames, demo.rate);
  const delay = context.createDelay(1);
  delay.delayTime.value = 0.001;
  const feedback = context.createGain();
  feedback.gain.value = 0.5;
  delay.connect(feedback).connect(delay);
  delay.connect(context.destination);
  source = impulse(context);
  source.connect(delay);
  source.start(0);
  const theirs = await context.startRendering();
  const channels = (buffer) => [buffer.getChannelData(0), buffer.getChannelData(1)];
  return {
    pingPongEchoes: echoes(channels(ours), 3),
    delayNodeLoopEchoes: echoes(channels(theirs), 3),
  };
}

// The same nodes in a live AudioContext. A player feeds the demo from a render quantum's first
// frame and a recorder keeps the node's output from that frame on, both in the audio thread,
// so nothing depends on when the main thread gets there. The nodes of the live cases depend
// only on their input (no oscillator), so the silence before the start leaves them as made.
const LIVE_WORKLET = `
class Player extends AudioWorkletProcessor {
  constructor(options) {
    super();
    Object.assign(this, options.processorOptions);
  }
  process(inputs, outputs) {
    const at = currentFrame - this.start;
    outputs[0].forEach((out, c) => {
      const from = this.channels[Math.min(c, this.channels.length - 1)];
      for (let f = 0; f < out.length; ++f) out[f] = at + f >= 0 && at + f < from.length ? from[at + f] : 0;
    });
    return true;
  }
}
class Recorder extends AudioWorkletProcessor {
  constructor(options) {
    super();
    Object.assign(this, options.processorOptions);
    this.kept = [new Float32Array(this.frames), new Float32Array(this.frames)];
  }
  process(inputs) {
    if (!this.kept) return true;
    const at = currentFrame - this.start;
    const input = inputs[0];
    for (let c = 0; c < 2 && input.length; ++c) {
      const from = input[Math.min(c, input.length - 1)];
      for (let f = 0; f < from.length; ++f) if (at + f >= 0 && at + f < this.frames) this.kept[c][at + f] = from[f];
    }
    if (at + 128 >= this.frames) { this.port.postMessage(this.kept); this.kept = null; }
    return true;
  }
}
registerProcessor("orvane-test-player", Player);
registerProcessor("orvane-test-recorder", Recorder);
`;

async function renderLive(testCase, demo, problems) {
  const context = new AudioContext({ sampleRate: demo.rate });
  try {
    await context.resume();
    await api.load(context);
    const url = URL.createObjectURL(new Blob([LIVE_WORKLET], { type: "text/javascript" }));
    await context.audioWorklet.addModule(url);
    URL.revokeObjectURL(url);
    const quantum = 128;
    const start = (Math.floor(context.currentTime * demo.rate / quantum) + 200) * quantum;
    const player = new AudioWorkletNode(context, "orvane-test-player", {
      numberOfInputs: 0, outputChannelCount: [demo.channels.length],
      processorOptions: { channels: demo.channels, start },
    });
    const recorder = new AudioWorkletNode(context, "orvane-test-recorder", {
      channelCount: 2, channelCountMode: "explicit", processorOptions: { frames: demo.frames, start },
    });
    const recorded = new Promise((resolve) => { recorder.port.onmessage = ({ data }) => resolve(data); });
    const node = makeNode(api, context, testCase, problems);
    player.connect(node).connect(recorder).connect(context.destination);
    const kept = await recorded;
    node.dispose();
    return kept;
  } finally {
    await context.close();
  }
}

// Every case again through the portable build (load's simd: false), which must give the same
// samples as the SIMD build the other cases ran on.
async function portable(demo, problems) {
  const { cases } = await inputs();
  const loadPortable = (context) => api.load(context, { simd: false });
  for (const testCase of cases) {
    const rendered = await renderCase({ ...api, load: loadPortable }, testCase, demo, problems,
                                      (context) => {
      if (api.usesSimd(context) !== false) problems.push("simd: false did not load the portable build");
    });
    await post(`/result/portable/${encodeURIComponent(testCase.name)}`, planar(rendered));
  }
}

async function extra(demo, problems) {
  const probe = new OfflineAudioContext(2, 128, demo.rate);
  await api.load(probe);
  if (api.usesSimd(probe) !== true) problems.push("Chromium did not get the SIMD build");
  await portable(demo, problems);
  const { live } = await inputs();
  for (const testCase of live) {
    await post(`/result/plain/${encodeURIComponent(testCase.name)}`,
               planar(await renderLive(testCase, demo, problems)));
  }
  return shortLoops(demo);
}

run(api, "plain", { extra });
