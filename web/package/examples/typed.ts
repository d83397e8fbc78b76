// The package from TypeScript: settings with their units and ranges in the types, AudioParams
// to move them, a chain, and a Tone.js-like wrapped context.
import OrvaneEffects, { Chain, Chorus, Delay, effects, load } from "@orvane/audioeffects";
import type { DelayOptions, EffectsContext } from "@orvane/audioeffects";
import * as Inline from "@orvane/audioeffects/inline";

export async function start(context: AudioContext, source: AudioNode): Promise<() => void> {
  await load(context);
  const options: DelayOptions = { delay: 350, feedback: 0.4, enabled: true };
  const delay = new Delay(context, options);
  const chorus = new OrvaneEffects.Chorus(context, { sweepWidth: 0.01, frequency: 0.8 });
  source.connect(chorus).connect(delay).connect(context.destination);
  delay.feedback.linearRampToValueAtTime(0.7, context.currentTime + 2);
  chorus.level.setValueAtTime(-3, context.currentTime + 1);

  const chain: Chain = new Chain(context, [{ type: "Flanger", level: -3 }, { type: "Delay", delay: 20 }]);
  const first = chain.effects[0];
  if ("sweepWidth" in first) first.sweepWidth.value = 0.004;
  chain.set(1, "feedback", 0.5);
  const names: string[] = effects.map((effect) => effect.type);
  console.log(names, chorus instanceof Chorus, Inline.Vibrato.description.settings.length);
  return () => { delay.dispose(); chorus.dispose(); chain.dispose(); };
}

// A wrapped context (Tone.js's is one) brings its own ways to add a module and make a node.
export async function onWrapped(context: EffectsContext): Promise<void> {
  await Inline.load(context);
}
