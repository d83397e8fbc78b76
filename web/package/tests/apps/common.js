// What every example app does with the package, driven by package_test.py: renders each case
// of cases.json (an effect or a chain, with AudioParam steps) over the demo signal in an
// OfflineAudioContext, posts the floats back to be compared with orvane-fx, and reports.

export async function post(path, body) {
  const response = await fetch(path, { method: "POST", body });
  if (!response.ok) throw new Error(`POST ${path}: ${response.status}`);
}

export const planar = (channels) => {
  const out = new Float32Array(channels[0].length * channels.length);
  channels.forEach((channel, c) => out.set(channel, c * channels[0].length));
  return out.buffer;
};

// The cases and the demo signal, planar float32 as the test wrote it.
export async function inputs() {
  const cases = await fetch("/cases.json").then((r) => r.json());
  const raw = new Float32Array(await fetch("/demo.f32").then((r) => r.arrayBuffer()));
  const frames = raw.length / cases.demo.channels;
  const channels = Array.from({ length: cases.demo.channels },
                              (_, c) => raw.subarray(c * frames, (c + 1) * frames));
  return { cases: cases.cases, live: cases.live, demo: { rate: cases.demo.rate, frames, channels } };
}

// The node of a case, made as a user would: an effect's own class for one effect, Chain for
// several; then its AudioParams' steps ([position, property, frame, value]) scheduled.
export function makeNode(api, context, { chain, steps = [] }, problems) {
  const single = chain.length === 1;
  const node = single ? new api[chain[0].type](context, chain[0]) : new api.Chain(context, chain);
  const Class = single ? api[chain[0].type] : api.Chain;
  if (!(node instanceof Class)) problems.push(`a ${Class.name} node is not an instance of ${Class.name}`);
  for (const [position, property, frame, value] of steps) {
    const param = single ? node[property] : node.effects[position][property];
    param.setValueAtTime(value, frame / context.sampleRate);
  }
  return node;
}

// `loaded(context)`, where given, looks at the context once the effects are loaded on it.
export async function renderCase(api, testCase, demo, problems, loaded = null) {
  const context = new OfflineAudioContext(2, demo.frames, demo.rate);
  await api.load(context);
  loaded?.(context);
  const buffer = context.createBuffer(demo.channels.length, demo.frames, demo.rate);
  demo.channels.forEach((channel, c) => buffer.copyToChannel(channel, c));
  const source = context.createBufferSource();
  source.buffer = buffer;
  const node = makeNode(api, context, testCase, problems);
  if (!(node instanceof AudioWorkletNode)) problems.push("a node is not an AudioWorkletNode");
  source.connect(node).connect(context.destination);
  source.start(0);
  const rendered = await context.startRendering();
  node.dispose();
  return [rendered.getChannelData(0), rendered.getChannelData(1)];
}

// Renders every case (or `render(testCase, demo, problems)`'s way), then posts the report:
// problems seen and whether the page was cross-origin isolated (it must not need to be).
export async function run(api, app, { render, extra } = {}) {
  const problems = [];
  const report = {};
  try {
    const { cases, demo } = await inputs();
    for (const testCase of cases) {
      const out = render ? await render(testCase, demo, problems)
                         : await renderCase(api, testCase, demo, problems);
      if (out) await post(`/result/${app}/${encodeURIComponent(testCase.name)}`, planar(out));
    }
    if (extra) Object.assign(report, await extra(demo, problems));
  } catch (error) {
    problems.push(String(error?.stack ?? error));
  }
  await post(`/done/${app}`, JSON.stringify({
    ...report, problems, crossOriginIsolated: globalThis.crossOriginIsolated === true,
    sharedArrayBuffer: typeof SharedArrayBuffer !== "undefined",
  }));
}
