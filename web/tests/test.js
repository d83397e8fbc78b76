// Runs in headless Chromium, driven by browser_test.py: renders every case of cases.json through
// the worklet with OfflineAudioContext and posts the floats back; then checks the live page in
// the frame: a control for every setting with its unit and range, and a control change that
// reaches the node.
import { chainNode, parseWav, renderAutoTail, renderOffline, workletUrl } from "../audio.js";

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
      : await renderOffline(wasm, chain, demo.channels, demo.rate);
    const planar = new Float32Array(left.length * 2);
    planar.set(left, 0);
    planar.set(right, left.length);
    await post(`result/${encodeURIComponent(name)}`, planar.buffer);
  }
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
  const [left] = await page.renderOffline(page.state.wasm, page.chainSpec(), impulse, 48000);
  const echoes = [];
  left.forEach((v, i) => { if (v !== 0) echoes.push(i); });
  if (echoes.join() !== "0,4800,9600,14400,19200") problems.push(`echoes at ${echoes.join()}`);
  problems.push(...await checkMessagePort(page.state.wasm));
  const statusText = doc.getElementById("status").textContent;
  if (statusText) problems.push(`page status: ${statusText}`);
  return problems;
}

// A change posted to a running node (as the page's controls do) applies from the next quantum:
// a Delay switched off half-way passes its input through from then on.
async function checkMessagePort(wasm) {
  const rate = 48000, frames = 48000, at = 0.5;
  const context = new OfflineAudioContext(2, frames, rate);
  await context.audioWorklet.addModule(workletUrl);
  const buffer = context.createBuffer(2, frames, rate);
  const input = new Float32Array(frames);
  for (let f = 0; f < frames; f += 1000) input[f] = 1;
  buffer.copyToChannel(input, 0);
  buffer.copyToChannel(input, 1);
  const source = context.createBufferSource();
  source.buffer = buffer;
  const node = chainNode(context, wasm, [{ type: "Delay", settings: [[3, 10]] }]);
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
    const problems = await checkPage();
    await post("report", JSON.stringify({ problems }));
    log("done");
  } catch (error) {
    await post("report", JSON.stringify({ problems: [`test page: ${error.message}`] }));
  }
})();
