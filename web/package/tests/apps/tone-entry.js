// An app on Tone.js: our node between two Tone nodes, rendered in Tone's own offline context
// (a wrapped context whose nodes belong to standardized-audio-context).
import * as Tone from "tone";
import * as api from "@orvane/audioeffects/inline";
import { run } from "./common.js";

async function render(testCase, demo, problems) {
  if (testCase.chain.length !== 1) return null;
  const { type, ...options } = testCase.chain[0];
  const rendered = await Tone.Offline(async (context) => {
    await api.load(context);
    const effect = new api[type](context, options);
    for (const [, property, frame, value] of testCase.steps) {
      effect[property].setValueAtTime(value, frame / demo.rate);
    }
    if (!(effect instanceof api[type])) problems.push(`Tone: not a ${type}`);
    const player = new Tone.Player(Tone.ToneAudioBuffer.fromArray(demo.channels));
    const before = new Tone.Gain(1);
    const after = new Tone.Gain(1).toDestination();
    player.connect(before);
    Tone.connect(before, effect);
    Tone.connect(effect, after);
    player.start(0);
  }, demo.frames / demo.rate, 2, demo.rate);
  return [rendered.getChannelData(0), rendered.getChannelData(1)];
}

run(api, "tone", { render });
