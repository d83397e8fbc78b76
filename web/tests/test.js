// Runs in headless Chromium, driven by browser_test.py: renders every case of cases.json through
// the worklet with OfflineAudioContext and posts the floats back; then checks the live page in
// the frame: a control for every setting with its unit and range, and a control change that
// reaches the node.
import { chainNode, loadEffects, paramName, parseWav, PIECE, renderAutoTail, renderOffline }
  from "../audio.js";
import { BLOCK, instantiate } from "../effects-module.js";

const log = (text) => { document.getElementById("log").textContent = text; };

async function post(path, body) {
  const response = await fetch(path, { method: "POST", body });
  if (!response.ok) throw new Error(`POST ${path}: ${response.status}`);
}

async function renderCases() {
  const [cases, wasm, demo] = await Promise.all([
    fetch("cases.json").then((r) => r.json()),
    fetch("../orvane-effects.wasm").then((r) => r.arrayBuffer()),
    fetch("../demo.wav").then((r) => r.arrayBuffer()).then(parseWav),
  ]);
  for (const { name, chain, tail } of cases) {
    log(`rendering ${name}`);
    const [left, right] = tail === "auto"
      ? renderAutoTail(wasm, chain, demo.channels, demo.rate)
      : await renderOffline(chain, demo.channels, demo.rate);
    const planar = new Float32Array(left.length * 2);
    planar.set(left, 0);
    planar.set(right, left.length);
    await post(`result/${encodeURIComponent(name)}`, planar.buffer);
  }
}

const planar = ([left, right]) => {
  const out = new Float32Array(left.length * 2);
  out.set(left, 0);
  out.set(right, left.length);
  return out.buffer;
};

// Settings moved through the chain node's AudioParams. Steps on 32-frame boundaries give
// orvane-fx's step envelopes to the sample (posted, compared by browser_test.py); a ramp gives
// what the module run here, in 32-frame pieces with the param's value at each piece's first
// frame, gives (compared here).
async function renderAutomation(wasm, demo) {
  const problems = [];
  const rate = demo.rate;
  if (rate !== 48000) problems.push(`the demo signal is at ${rate} Hz, not 48000`);
  const steps = await renderOffline([{ type: "Delay", settings: [[3, 20]] }], demo.channels,
                                    rate, 0, (node) => {
    node.parameters.get(paramName(0, "feedback")).setValueAtTime(0.6, 12000 / rate);
    node.parameters.get(paramName(0, "wet-mix")).setValueAtTime(0.8, 24000 / rate);
  });
  await post("result/Delay-steps", planar(steps));

  const frames = demo.channels[0].length;
  const ramp = (param) => {
    param.setValueAtTime(0.002, 0);
    param.linearRampToValueAtTime(0.008, 0.6);
  };
  const chain = [{ type: "Flanger", settings: [] }];
  const moved = await renderOffline(chain, demo.channels, rate, 0,
                                    (node) => ramp(node.parameters.get(paramName(0, "sweep-width"))));
  // The param's own values, frame by frame, from the same timeline on a constant source.
  const timeline = new OfflineAudioContext(1, frames, rate);
  const constant = timeline.createConstantSource();
  ramp(constant.offset);
  constant.connect(timeline.destination);
  constant.start(0);
  const values = (await timeline.startRendering()).getChannelData(0);
  const effect = instantiate(wasm).create("Flanger", rate);
  const sweepWidth = 1;  // the Flanger's settings: enabled, sweep-width, frequency, ...
  const byHand = [new Float32Array(frames), new Float32Array(frames)];
  for (let start = 0; start < frames; start += BLOCK) {
    const n = Math.min(BLOCK, frames - start);
    for (let c = 0; c < 2; ++c) {
      effect.channel(c).fill(0);
      effect.channel(c).set(demo.channels[Math.min(c, demo.channels.length - 1)].subarray(start, start + n));
    }
    for (let piece = 0; piece < n; piece += PIECE) {
      effect.set(sweepWidth, values[start + piece]);
      effect.processRange(piece, Math.min(PIECE, n - piece));
    }
    for (let c = 0; c < 2; ++c) byHand[c].set(effect.channel(c).subarray(0, n), start);
  }
  effect.destroy();
  for (let c = 0; c < 2; ++c) {
    const first = moved[c].findIndex((v, i) => v !== byHand[c][i]);
    if (first >= 0) {
      problems.push(`a ramped AudioParam: channel ${c} differs from the same pieces by hand ` +
                    `from frame ${first}`);
    }
  }
  const still = await renderOffline(chain, demo.channels, rate);
  if (still[0].every((v, i) => v === moved[0][i])) problems.push("the ramp changed nothing");
  return problems;
}

function pageReady(frame) {
  return new Promise((resolve, reject) => {
    const check = () => {
      const page = frame.contentWindow?.orvanePage;
      if (page?.ready) resolve(page);
      else if (performance.now() > 60000) reject(new Error("the page did not start"));
      else setTimeout(check, 100);
    };
    check();
  });
}

// Every control names its unit and shows its range; a slider moved by hand reaches the node.
async function checkPage() {
  const frame = document.getElementById("page");
  const page = await pageReady(frame);
  const doc = frame.contentDocument;
  const problems = [];
  const catalogue = page.state.catalogue;
  page.state.chain.length = 0;
  for (const effect of catalogue) page.addEffect(effect.type);
  const items = [...doc.querySelectorAll("#chain > li")];
  if (items.length !== catalogue.length) problems.push(`${items.length} effects shown`);
  items.forEach((item, position) => {
    const effect = catalogue[position];
    for (const setting of effect.settings) {
      const row = item.querySelector(`.control[data-setting="${setting.id}"]`);
      if (!row) { problems.push(`${effect.type} ${setting.id}: no control`); continue; }
      const text = row.textContent;
      if (setting.unit && !text.includes(`(${setting.unit})`)) problems.push(`${effect.type} ${setting.id}: no unit`);
      if (setting.kind !== "toggle") {
        const slider = row.querySelector("input[type=range]");
        if (Number(slider.min) !== setting.minimum || Number(slider.max) !== setting.maximum) {
          problems.push(`${effect.type} ${setting.id}: slider ${slider.min}..${slider.max}`);
        }
        if (!text.includes(" to ")) problems.push(`${effect.type} ${setting.id}: no range shown`);
      }
    }
  });
  // Only a Delay; move its delay slider to 100 ms as a user would.
  page.state.chain.length = 0;
  page.addEffect("Delay");
  const slider = doc.querySelector('#chain .control[data-setting="delay"] input[type=range]');
  slider.value = "100";
  slider.dispatchEvent(new Event("input", { bubbles: true }));
  const impulse = [new Float32Array(24000), new Float32Array(24000)];
  impulse[0][0] = 1;
  const [left] = await page.renderOffline(page.chainSpec(), impulse, 48000);
  const echoes = [];
  left.forEach((v, i) => { if (v !== 0) echoes.push(i); });
  if (echoes.join() !== "0,4800,9600,14400,19200") problems.push(`echoes at ${echoes.join()}`);
  // The same Delay timed by a note value at the page's tempo: a dotted eighth at 120 BPM is
  // 375 ms (its render is posted and compared with orvane-fx --bpm 120 delay=1/8.), at 100
  // BPM 450 ms.
  const note = doc.querySelector('#chain .control[data-setting="delay"] select.note');
  if (!note) {
    problems.push("no note value for the delay time");
  } else {
    doc.getElementById("tempo").value = "120";
    note.value = "1/8.";
    note.dispatchEvent(new Event("change", { bubbles: true }));
    const delayIndex = page.state.chain[0].info.settings.findIndex((s) => s.id === "delay");
    if (page.state.chain[0].values[delayIndex] !== 375) {
      problems.push(`1/8. at 120 BPM gave ${page.state.chain[0].values[delayIndex]} ms`);
    }
    const demo = parseWav(await (await fetch("../demo.wav")).arrayBuffer());
    const rendered = await page.renderOffline(page.chainSpec(), demo.channels, demo.rate);
    await post("result/Delay-dotted-eighth", planar(rendered));
    const tempoBox = doc.getElementById("tempo");
    tempoBox.value = "100";
    tempoBox.dispatchEvent(new Event("change", { bubbles: true }));
    if (page.state.chain[0].values[delayIndex] !== 450) {
      problems.push(`1/8. at 100 BPM gave ${page.state.chain[0].values[delayIndex]} ms`);
    }
  }
  problems.push(...await checkMessagePort());
  const statusText = doc.getElementById("status").textContent;
  if (statusText) problems.push(`page status: ${statusText}`);
  return problems;
}

// A change posted to a running node (as the page's controls do) applies from the next quantum:
// a Delay switched off half-way passes its input through from then on.
async function checkMessagePort() {
  const rate = 48000, frames = 48000, at = 0.5;
  const context = new OfflineAudioContext(2, frames, rate);
  await loadEffects(context);
  const buffer = context.createBuffer(2, frames, rate);
  const input = new Float32Array(frames);
  for (let f = 0; f < frames; f += 1000) input[f] = 1;
  buffer.copyToChannel(input, 0);
  buffer.copyToChannel(input, 1);
  const source = context.createBufferSource();
  source.buffer = buffer;
  const node = chainNode(context, [{ type: "Delay", settings: [[3, 10]] }]);
  source.connect(node).connect(context.destination);
  source.start(0);
  context.suspend(at).then(async () => {
    node.port.postMessage({ kind: "set", effect: 0, index: 0, value: 0 });
    await new Promise((resolve) => setTimeout(resolve, 100));
    context.resume();
  });
  const left = (await context.startRendering()).getChannelData(0);
  const switchFrame = at * rate;
  let differsBefore = 0, differsAfter = 0;
  left.forEach((v, i) => {
    if (v !== input[i] && i < switchFrame) ++differsBefore;
    if (v !== input[i] && i >= switchFrame + 128) ++differsAfter;
  });
  const problems = [];
  if (differsBefore === 0) problems.push("the delay did nothing before the change");
  if (differsAfter !== 0) problems.push(`${differsAfter} samples still delayed after the change`);
  return problems;
}

(async () => {
  try {
    await renderCases();
    const [wasm, demo] = await Promise.all([
      fetch("../orvane-effects.wasm").then((r) => r.arrayBuffer()),
      fetch("../demo.wav").then((r) => r.arrayBuffer()).then(parseWav),
    ]);
    const problems = await renderAutomation(wasm, demo);
    problems.push(...await checkPage());
    await post("report", JSON.stringify({ problems }));
    log("done");
  } catch (error) {
    await post("report", JSON.stringify({ problems: [`test page: ${error.message}`] }));
  }
})();
