// An app of plain ES modules, served as they are. Besides the cases, it measures what the
// package is for where Web Audio's own nodes cannot go: a feedback loop shorter than a render
// quantum. An impulse through PingPongDelay at 1 ms, and through a DelayNode of 1 ms in a loop
// with a gain: the frame of each one's first echo.
import * as api from "@orvane/audioeffects";
import { run } from "./common.js";

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

run(api, "plain", { extra: shortLoops });
