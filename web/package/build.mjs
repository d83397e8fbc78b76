// Lays out the npm package @orvane/audioeffects from a built site (web/build.sh's output: the
// WebAssembly module and the settings' description) and the sources beside this script.
// Everything that names an effect or a setting (the entries' exports, the TypeScript types) is
// made here from the description, so adding an effect needs no edit in the package.
// Usage: node web/package/build.mjs SITE_DIR OUT_DIR VERSION
import { copyFileSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const [site, out, version] = process.argv.slice(2);
if (!site || !out || !/^[0-9]+\.[0-9]+\.[0-9]+$/.test(version ?? "")) {
  console.error("usage: node build.mjs SITE_DIR OUT_DIR VERSION");
  process.exit(2);
}
const here = dirname(fileURLToPath(import.meta.url));
const siteSources = join(here, "..", "site");
const catalogue = JSON.parse(readFileSync(join(site, "effect-settings.json"), "utf8"));
const propertyName = (id) => id.replace(/-([a-z0-9])/g, (_, c) => c.toUpperCase());

// A setting's property must not hide a member of the node it is put on.
const nodeMembers = new Set(["context", "numberOfInputs", "numberOfOutputs", "channelCount",
  "channelCountMode", "channelInterpretation", "connect", "disconnect", "parameters", "port",
  "onprocessorerror", "addEventListener", "removeEventListener", "dispatchEvent", "set",
  "dispose", "error", "onerror", "effects"]);
for (const effect of catalogue.effects) {
  for (const setting of effect.settings) {
    if (nodeMembers.has(propertyName(setting.id))) {
      throw new Error(`${effect.type}'s setting ${setting.id} would hide the node's own member`);
    }
  }
}

rmSync(out, { recursive: true, force: true });
mkdirSync(out, { recursive: true });
const write = (name, text) => writeFileSync(join(out, name), text);

const settingsModule = `export default ${JSON.stringify(catalogue, null, 1)};\n`;
write("settings.js", settingsModule);
copyFileSync(join(siteSources, "effects-module.js"), join(out, "effects-module.js"));
copyFileSync(join(here, "src", "core.js"), join(out, "core.js"));
for (const build of ["orvane-effects.wasm", "orvane-effects-portable.wasm"]) {
  copyFileSync(join(site, build), join(out, build));
}
copyFileSync(join(here, "README.md"), join(out, "README.md"));

// The worklet as one module with no imports: bundlers copy it as a file of its own (and the
// inline entry makes it a Blob), so it cannot reach its neighbours.
const withoutImports = (text) => text.replace(/^import\b[\s\S]*?\bfrom\s+"[^"]+";[ \t]*\n/gm, "");
const withoutExports = (text) => text.replace(/^export (?=const|function|class|let)/gm, "")
  .replace(/^export \{[^}]*\}[^;]*;\n/gm, "");
const worklet = [
  "// The effects' AudioWorkletProcessor, with the module loader and the settings' description",
  "// it needs, in one file.",
  `const catalogue = ${JSON.stringify(catalogue)};`,
  withoutExports(readFileSync(join(siteSources, "effects-module.js"), "utf8")),
  withoutImports(readFileSync(join(here, "src", "worklet.js"), "utf8")),
].join("\n");
if (/^\s*(import|export)\b/m.test(worklet)) throw new Error("the worklet still imports or exports");
write("worklet.js", worklet);

const types = catalogue.effects.map((effect) => effect.type);
const exportsLine =
  `export const { load, effects, usesSimd, Chain, ${types.join(", ")} } = OrvaneEffects;\n`;
write("index.js", `// The package's default entry: the worklet and the WebAssembly modules are files beside this
// one, found through import.meta.url (bundlers that follow \`new URL(..., import.meta.url)\` copy
// them); load()'s workletUrl and wasmUrl options say where they are when they were moved.
import { define } from "./core.js";

export const OrvaneEffects = define({
  async workletUrl(url) {
    return { url: url ?? new URL("./worklet.js", import.meta.url) };
  },
  async wasm(url, simd) {
    // Both written out whole, so that bundlers see both files.
    const where = url ?? (simd ? new URL("./orvane-effects.wasm", import.meta.url)
                               : new URL("./orvane-effects-portable.wasm", import.meta.url));
    const response = await fetch(where);
    if (!response.ok) {
      throw new Error(\`cannot fetch the effects' WebAssembly module from \${where}: \${response.status}\`);
    }
    return response.arrayBuffer();
  },
});
${exportsLine}export default OrvaneEffects;
`);

const base64 = (name) => readFileSync(join(site, name)).toString("base64");
write("inline.js", `// The package's entry for bundlers that cannot follow a worklet's URL: the worklet and both
// WebAssembly builds are in this file, the worklet added from a Blob URL.
import { define } from "./core.js";

const WORKLET = ${JSON.stringify(worklet)};
const WASM_SIMD = "${base64("orvane-effects.wasm")}";
const WASM_PORTABLE = "${base64("orvane-effects-portable.wasm")}";

export const OrvaneEffects = define({
  async workletUrl(url) {
    if (url) return { url };
    const blob = URL.createObjectURL(new Blob([WORKLET], { type: "text/javascript" }));
    return { url: blob, release: () => URL.revokeObjectURL(blob) };
  },
  async wasm(url, simd) {
    if (url) {
      const response = await fetch(url);
      if (!response.ok) throw new Error(\`cannot fetch \${url}: \${response.status}\`);
      return response.arrayBuffer();
    }
    const text = atob(simd ? WASM_SIMD : WASM_PORTABLE);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
    return bytes.buffer;
  },
});
${exportsLine}export default OrvaneEffects;
`);

// The types, with each setting's name, unit, range and description from the catalogue.
const doc = (lines, indent = "") =>
  `${indent}/**\n${lines.map((l) => `${indent} * ${l}`.trimEnd()).join("\n")}\n${indent} */\n`;
const number = (value) => String(Number(value.toPrecision(6)));
const settingDoc = (setting) => {
  const unit = setting.unit ? ` ${setting.unit}` : "";
  const range = setting.kind === "toggle"
    ? `On (1, true) or off (0, false); default ${setting.default > 0 ? "on" : "off"}.`
    : `${number(setting.minimum)} to ${number(setting.maximum)}${unit}, default ` +
      `${number(setting.default)}${unit}${setting.kind === "integer" ? ", whole numbers" : ""}.`;
  return [`${setting.name}${setting.unit ? ` (${setting.unit})` : ""}: ${setting.description}`,
          range];
};
let declarations = `// The types of @orvane/audioeffects ${version}, made from the library's description of its
// effects.

/** A context the effects run on: a Web Audio context, or a wrapper with its own ways to add a
 * worklet module and make a worklet node (Tone.js's contexts are such wrappers). */
export type EffectsContext = BaseAudioContext | {
  addAudioWorkletModule(url: string): Promise<void>;
  createAudioWorkletNode(name: string, options?: AudioWorkletNodeOptions): unknown;
};

export interface LoadOptions {
  /** Adds a worklet module to the context, for contexts made by other libraries. */
  addAudioWorkletModule?: (url: string) => Promise<void>;
  /** Makes a worklet node on the context, for contexts made by other libraries. */
  createAudioWorkletNode?: (name: string, options: AudioWorkletNodeOptions) => AudioWorkletNode;
  /** Where the worklet module is served, if not beside the package's modules. */
  workletUrl?: string | URL;
  /** Where the WebAssembly build \`simd\` chooses is served, if not beside the package's modules
   * (orvane-effects.wasm with SIMD, orvane-effects-portable.wasm without). */
  wasmUrl?: string | URL;
  /** false: the portable build even where the engine has SIMD (the same samples, slower). */
  simd?: boolean;
}

/** A setting as the library describes it. */
export interface SettingDescription {
  readonly id: string;
  readonly name: string;
  readonly description: string;
  readonly unit: string;
  readonly kind: "number" | "integer" | "toggle";
  readonly default: number;
  readonly minimum: number;
  readonly maximum: number;
  readonly isBypass: boolean;
  readonly stage: boolean;
}

export interface EffectDescription {
  readonly type: EffectType;
  readonly name: string;
  readonly description: string;
  readonly settings: readonly SettingDescription[];
}

/** The node every effect and chain is: an AudioWorkletNode with two methods of its own. */
export interface OrvaneNode extends AudioWorkletNode {
  /** Sets a setting of the effect at \`position\` from the next render quantum, by message
   * (for effects beyond the eighth of a chain, which have no AudioParams). */
  set(position: number, setting: string, value: number | boolean): void;
  /** Disconnects the node and frees its effects; it is silent from then on. */
  dispose(): void;
  /** Why the worklet could not build the chain (it then passes its input through). */
  error?: string;
  onerror?: (error: Error) => void;
}

export type EffectType = ${types.map((t) => JSON.stringify(t)).join(" | ")};

`;
for (const effect of catalogue.effects) {
  declarations += doc([`Settings of ${effect.name}: ${effect.description}`,
                       "Each may be given here and moved later through its AudioParam."]);
  declarations += `export interface ${effect.type}Options {\n`;
  for (const setting of effect.settings) {
    const type = setting.kind === "toggle" ? "number | boolean" : "number";
    declarations += doc(settingDoc(setting), "  ");
    declarations += `  ${propertyName(setting.id)}?: ${type};\n`;
  }
  declarations += "}\n\n";
  declarations += `/** ${effect.type}'s settings as AudioParams (a-rate; read every 32 frames). */\n`;
  declarations += `export interface ${effect.type}Params {\n`;
  for (const setting of effect.settings) {
    declarations += doc(settingDoc(setting), "  ");
    declarations += `  readonly ${propertyName(setting.id)}: AudioParam;\n`;
  }
  declarations += "}\n\n";
  declarations += doc([`${effect.name}: ${effect.description}`,
                       "An AudioWorkletNode, stereo out; load(context) must have finished."]);
  declarations += `export interface ${effect.type} extends OrvaneNode, ${effect.type}Params {}\n`;
  declarations += `export declare const ${effect.type}: {\n` +
    `  new (context: EffectsContext, options?: ${effect.type}Options): ${effect.type};\n` +
    "  readonly description: EffectDescription;\n};\n\n";
}
declarations += `/** One entry of a chain: the effect's type and its settings. */
export type ChainEntry = ${types.map((t) => `({ type: "${t}" } & ${t}Options)`).join("\n  | ")};

/** Several effects in one worklet node, in order. */
export interface Chain extends OrvaneNode {
  /** The AudioParams of the chain's first eight effects, by position. */
  readonly effects: readonly (${types.map((t) => `${t}Params`).join(" | ")})[];
}
export declare const Chain: { new (context: EffectsContext, effects: ChainEntry[]): Chain };

/** The effects and their settings, as the library describes them. */
export declare const effects: readonly EffectDescription[];

/** Makes the context ready for effects: adds the worklet module (once per context) and fetches
 * the WebAssembly module (once per build): with SIMD where the engine has it. Needs no
 * SharedArrayBuffer and no COOP/COEP headers. */
export declare function load(context: EffectsContext, options?: LoadOptions): Promise<typeof OrvaneEffects>;

/** Whether load() gave the context the SIMD build (undefined before load()). */
export declare function usesSimd(context: EffectsContext): boolean | undefined;

export declare const OrvaneEffects: {
  load: typeof load;
  usesSimd: typeof usesSimd;
  effects: typeof effects;
  Chain: typeof Chain;
${types.map((t) => `  ${t}: typeof ${t};`).join("\n")}
};
export default OrvaneEffects;
`;
write("index.d.ts", declarations);
write("inline.d.ts", `export * from "./index.js";\nexport { default } from "./index.js";\n`);

const manifest = JSON.parse(readFileSync(join(here, "package.json"), "utf8"));
manifest.version = version;
write("package.json", `${JSON.stringify(manifest, null, 2)}\n`);
