// The live page: a chain of the library's effects, a control for every setting (made from the
// settings' description the build exports), sources, scopes and an offline render.
import { AUTOMATED_EFFECTS, chainNode, encodeWav, headerSampleRate, loadEffects, noteValueMs,
  paramName, parseWav, renderAutoTail, renderOffline } from "./audio.js";

// The note values a delay time offers at the page's tempo.
const NOTE_VALUES = ["1/1", "1/2", "1/2.", "1/4", "1/4.", "1/4t", "1/8", "1/8.", "1/8t", "1/16",
                     "1/16.", "1/16t", "1/32"];

const $ = (id) => document.getElementById(id);
const state = {
  catalogue: [],   // effects with their settings, from effect-settings.json
  wasm: null,      // the module's bytes
  chain: [],       // [{ info, values: [number, ...] }]
  context: null, node: null, source: null, analyser: null, playing: false,
  demo: null, file: null,  // planar sounds: { rate, channels }
};

function status(text) { $("status").textContent = text || ""; }

function formatValue(setting, value) {
  if (setting.kind === "toggle") return value > 0 ? "on" : "off";
  if (setting.kind === "integer") return String(Math.round(value));
  return String(Number(value.toPrecision(4)));
}

function unitText(setting) { return setting.unit ? ` ${setting.unit}` : ""; }

// One control: a switch for the bypass and other toggles, a slider and a number otherwise.
function makeControl(entry, position, index) {
  const setting = entry.info.settings[index];
  const row = document.createElement("div");
  row.className = "control";
  row.dataset.setting = setting.id;
  const label = document.createElement("label");
  label.textContent = setting.name + (setting.unit ? ` (${setting.unit})` : "");
  label.title = setting.description;
  row.append(label);
  // A playing chain hears the change through the setting's AudioParam from the next 32-frame
  // piece (beyond the automated effects, through the node's port at the next quantum).
  const apply = (value) => {
    entry.values[index] = value;
    const param = position < AUTOMATED_EFFECTS &&
      state.node?.parameters.get(paramName(position, setting.id));
    if (param) param.setValueAtTime(value, state.node.context.currentTime);
    else state.node?.port.postMessage({ kind: "set", effect: position, index, value });
  };
  if (setting.kind === "toggle") {
    const box = document.createElement("input");
    box.type = "checkbox";
    box.checked = entry.values[index] > 0;
    box.setAttribute("aria-label", setting.name);
    box.addEventListener("change", () => apply(box.checked ? 1 : 0));
    row.append(box);
    const text = document.createElement("span");
    text.className = "range";
    text.textContent = setting.isBypass ? "on: effect heard; off: input passes through" : "on or off";
    row.append(document.createElement("span"), text);
    return row;
  }
  const slider = document.createElement("input");
  slider.type = "range";
  slider.min = setting.minimum;
  slider.max = setting.maximum;
  slider.step = setting.kind === "integer" ? 1 : (setting.maximum - setting.minimum) / 1000;
  slider.value = entry.values[index];
  slider.setAttribute("aria-label", setting.name);
  const number = document.createElement("input");
  number.type = "number";
  number.min = slider.min; number.max = slider.max; number.step = slider.step;
  number.value = formatValue(setting, entry.values[index]);
  const range = document.createElement("span");
  range.className = "range";
  range.textContent = `${formatValue(setting, setting.minimum)} to ` +
    `${formatValue(setting, setting.maximum)}${unitText(setting)}, ` +
    `default ${formatValue(setting, setting.default)}${unitText(setting)}. ${setting.description}`;
  slider.addEventListener("input", () => {
    number.value = formatValue(setting, Number(slider.value));
    apply(Number(slider.value));
  });
  number.addEventListener("change", () => {
    const value = Math.min(setting.maximum, Math.max(setting.minimum, Number(number.value)));
    if (Number.isFinite(value)) { slider.value = value; number.value = formatValue(setting, value); apply(value); }
  });
  row.append(slider, number, range);
  if (setting.unit === "ms") {
    // A time as a note value at the page's tempo, in whole milliseconds as every front end
    // rounds it (a dotted eighth at 120 BPM is 375 ms).
    const note = document.createElement("select");
    note.className = "note";
    note.setAttribute("aria-label", `${setting.name} as a note value`);
    note.append(new Option("note value", ""), ...NOTE_VALUES.map((n) => new Option(n, n)));
    note.value = entry.notes?.[index] ?? "";
    const fromNote = () => {
      entry.notes = entry.notes || {};
      entry.notes[index] = note.value;
      if (!note.value) return;
      const ms = Math.round(noteValueMs(note.value, tempo()));
      const value = Math.min(setting.maximum, Math.max(setting.minimum, ms));
      slider.value = value;
      number.value = formatValue(setting, value);
      apply(value);
    };
    note.addEventListener("change", fromNote);
    slider.addEventListener("input", () => { note.value = ""; entry.notes && delete entry.notes[index]; });
    row.fromNote = fromNote;
    row.append(note);
  }
  return row;
}

function tempo() {
  const bpm = Number($("tempo").value);
  return bpm > 0 && bpm <= 1000 ? bpm : 120;
}

// A new tempo moves every delay time given as a note value.
function tempoChanged() {
  for (const row of document.querySelectorAll("#chain .control")) {
    if (row.fromNote && row.querySelector("select.note").value) row.fromNote();
  }
}

function drawChain() {
  const list = $("chain");
  list.replaceChildren();
  state.chain.forEach((entry, position) => {
    const item = document.createElement("li");
    item.dataset.type = entry.info.type;
    const title = document.createElement("h3");
    title.textContent = entry.info.name;
    const remove = document.createElement("button");
    remove.textContent = "Remove";
    remove.addEventListener("click", () => { state.chain.splice(position, 1); chainChanged(); });
    title.append(remove);
    const description = document.createElement("p");
    description.className = "effect-description";
    description.textContent = entry.info.description;
    item.append(title, description);
    entry.info.settings.forEach((_, index) => item.append(makeControl(entry, position, index)));
    list.append(item);
  });
}

function chainSpec() {
  return state.chain.map((entry) => ({
    type: entry.info.type, settings: entry.values.map((value, index) => [index, value]),
  }));
}

function addEffect(type) {
  const info = state.catalogue.find((effect) => effect.type === type);
  state.chain.push({ info, values: info.settings.map((setting) => setting.default) });
  chainChanged();
}

function chainChanged() {
  drawChain();
  if (state.playing) startPlaying();  // a new chain needs a new worklet node
}

async function currentSound() {
  const choice = document.querySelector("input[name=source]:checked").value;
  if (choice === "file") {
    if (!state.file) throw new Error("choose or drop a file first");
    return state.file;
  }
  if (!state.demo) state.demo = parseWav(await (await fetch("demo.wav")).arrayBuffer());
  return state.demo;
}

function stopPlaying() {
  state.source?.disconnect?.();
  state.source?.stop?.();
  state.source?.mediaStream?.getTracks().forEach((track) => track.stop());
  state.node?.disconnect();
  state.source = state.node = null;
  state.playing = false;
  $("play").textContent = "Play";
}

async function startPlaying() {
  stopPlaying();
  if (!state.context) {
    state.context = new AudioContext({ sampleRate: 48000 });
    await loadEffects(state.context);
    state.analyser = state.context.createAnalyser();
    state.analyser.fftSize = 2048;
    state.analyser.connect(state.context.destination);
    requestAnimationFrame(drawScopes);
  }
  await state.context.resume();
  const context = state.context;
  state.node = chainNode(context, chainSpec());
  state.node.onerror = (error) => status(`the chain cannot run (${error.message}); you hear the input`);
  state.node.port.postMessage({ kind: "dry", dry: $("dry").checked });
  state.node.connect(state.analyser);
  const choice = document.querySelector("input[name=source]:checked").value;
  if (choice === "microphone") {
    const stream = await navigator.mediaDevices.getUserMedia({ audio: true });
    state.source = context.createMediaStreamSource(stream);
  } else {
    const sound = await currentSound();
    const buffer = context.createBuffer(sound.channels.length, sound.channels[0].length, sound.rate);
    sound.channels.forEach((channel, c) => buffer.copyToChannel(channel, c));
    state.source = context.createBufferSource();
    state.source.buffer = buffer;
    state.source.loop = true;
    state.source.start();
  }
  state.source.connect(state.node);
  state.playing = true;
  $("play").textContent = "Stop";
}

function drawScopes() {
  requestAnimationFrame(drawScopes);
  if (!state.analyser) return;
  const wave = $("waveform").getContext("2d");
  const spectrum = $("spectrum").getContext("2d");
  const { width, height } = wave.canvas;
  const samples = new Float32Array(state.analyser.fftSize);
  state.analyser.getFloatTimeDomainData(samples);
  wave.fillStyle = "#111"; wave.fillRect(0, 0, width, height);
  wave.strokeStyle = "#6cf"; wave.beginPath();
  samples.forEach((v, i) => wave[i ? "lineTo" : "moveTo"](i * width / samples.length, height / 2 * (1 - v)));
  wave.stroke();
  const levels = new Float32Array(state.analyser.frequencyBinCount);
  state.analyser.getFloatFrequencyData(levels);
  spectrum.fillStyle = "#111"; spectrum.fillRect(0, 0, width, height);
  spectrum.fillStyle = "#fc6";
  const nyquist = state.context.sampleRate / 2;
  for (let x = 0; x < width; ++x) {  // log frequency axis, 20 Hz to Nyquist
    const hz = 20 * Math.pow(nyquist / 20, x / width);
    const db = levels[Math.min(levels.length - 1, Math.round(hz / nyquist * levels.length))];
    const h = Math.max(0, (db + 100) / 100) * height;
    spectrum.fillRect(x, height - h, 1, h);
  }
}

async function renderAndDownload() {
  const sound = await currentSound();
  // Until the echoes die away, as orvane-fx renders by default.
  const output = renderAutoTail(state.wasm, chainSpec(), sound.channels, sound.rate);
  const link = $("download");
  URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(new Blob([encodeWav(output, sound.rate)], { type: "audio/wav" }));
  link.download = "orvane-render.wav";
  link.textContent = "orvane-render.wav";
  link.hidden = false;
  link.click();
  return output;
}

// A file keeps its own sample rate: WAV is read sample for sample; other types are decoded at
// the rate their header gives (the browser's decoder resamples to whatever rate it is asked).
async function loadFile(file) {
  const bytes = await file.arrayBuffer();
  let sound = null;
  let note = "";
  try {
    sound = parseWav(bytes);
  } catch {
    const ownRate = headerSampleRate(bytes);
    const rate = ownRate || 48000;
    const decoded = await new OfflineAudioContext(1, 1, rate).decodeAudioData(bytes);
    sound = {
      rate: decoded.sampleRate,
      channels: Array.from({ length: decoded.numberOfChannels }, (_, c) => decoded.getChannelData(c)),
    };
    if (!ownRate) note = " (its own rate could not be read: resampled)";
  }
  sound.channels = sound.channels.slice(0, 2);
  state.file = sound;
  document.querySelector("input[name=source][value=file]").checked = true;
  const seconds = sound.channels[0].length / sound.rate;
  status(`${file.name}: ${seconds.toFixed(1)} s at ${sound.rate} Hz${note}`);
  if (state.playing) await startPlaying();
}

function guard(action) {
  return async (...args) => {
    try { status(""); await action(...args); } catch (error) { status(error.message); }
  };
}

async function start() {
  const [settings, wasm] = await Promise.all([
    fetch("effect-settings.json").then((r) => r.json()),
    fetch("orvane-effects.wasm").then((r) => r.arrayBuffer()),
  ]);
  state.catalogue = settings.effects;
  state.wasm = wasm;
  for (const effect of state.catalogue) {
    $("effect-choice").append(new Option(effect.name, effect.type));
  }
  $("add").addEventListener("click", () => addEffect($("effect-choice").value));
  $("tempo").addEventListener("change", tempoChanged);
  $("play").addEventListener("click", guard(() => (state.playing ? stopPlaying() : startPlaying())));
  $("dry").addEventListener("change", () => state.node?.port.postMessage({ kind: "dry", dry: $("dry").checked }));
  $("render").addEventListener("click", guard(renderAndDownload));
  $("file").addEventListener("change", guard(() => loadFile($("file").files[0])));
  for (const radio of document.querySelectorAll("input[name=source]")) {
    radio.addEventListener("change", guard(() => state.playing && startPlaying()));
  }
  const drop = $("drop");
  drop.addEventListener("dragover", (event) => { event.preventDefault(); drop.classList.add("over"); });
  drop.addEventListener("dragleave", () => drop.classList.remove("over"));
  drop.addEventListener("drop", guard(async (event) => {
    event.preventDefault();
    drop.classList.remove("over");
    if (event.dataTransfer.files.length) await loadFile(event.dataTransfer.files[0]);
  }));
  addEffect("Chorus");
  window.orvanePage = { state, addEffect, chainSpec, renderOffline, ready: true };
  document.dispatchEvent(new Event("orvane-ready"));
}

start().catch((error) => status(`the page could not start: ${error.message}`));
