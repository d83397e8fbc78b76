#!/usr/bin/env python3
"""The npm package as web developers use it, against the native renderer.

Usage: package_test.py PACKAGE_TGZ ORVANE_FX WORK_DIR

Installs the packed tarball with Vite, webpack, esbuild and Tone.js from the npm registry into
WORK_DIR, and checks:
- importing either entry in Node (a server-side render) prints nothing and needs no window;
- TypeScript (Debian's tsc) accepts the typed example and refuses a misspelt setting;
- five apps (plain ES modules with an import map, Vite and webpack on the default entry,
  esbuild on the inline entry, Tone.js with our node between two Tone nodes) each render the
  demo signal through effects, chains and AudioParam steps in headless Chromium, served
  without COOP/COEP headers, and every sample equals orvane-fx's, bit for bit (but for
  denormal numbers, which WebAssembly keeps and the native build flushes);
- the plain app renders every case again on the portable build (no SIMD), and two cases in a
  live AudioContext, with the same samples;
- the plain app's short loop: a 1 ms ping-pong repeats after 48 frames at 48 kHz, where a
  DelayNode in a loop waits a render quantum.
Chromium and the server are stopped whatever happens.
"""

import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import threading
from urllib.parse import unquote

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
from headless import browse, console_errors, equal, read_float_wav  # noqa: E402

TGZ, FX, WORK = (os.path.abspath(a) for a in sys.argv[1:4])
HERE = os.path.dirname(os.path.abspath(__file__))
APPS = os.path.join(HERE, "apps")
TYPED_EXAMPLE = os.path.join(HERE, "..", "examples", "typed.ts")

# The tools a web developer installs beside the package (major versions: what they break).
TOOLS = {"vite": "^8.4.0", "webpack": "^5.100.0", "webpack-cli": "^7.0.0", "esbuild": "^0.28.0",
         "tone": "^15.1.0"}

# (name, chain as the app makes it, AudioParam steps [position, property, frame, value],
#  orvane-fx's words for the same). Step frames fall on 32-frame pieces and whole quarter
# seconds at 48 kHz, where orvane-fx's step envelopes switch too.
TYPES = ["Delay", "PingPongDelay", "Chorus", "Flanger", "Vibrato"]
CASES = [(t, [{"type": t}], [], [t]) for t in TYPES] + [
    ("Delay-350", [{"type": "Delay", "delay": 350, "feedback": 0.4, "dryMix": 0.5}], [],
     ["Delay", "delay=350", "feedback=0.4", "dry-mix=0.5"]),
    ("Chorus-mix-level", [{"type": "Chorus", "mix": 0.4, "level": -4.5}], [],
     ["Chorus", "mix=0.4", "level=-4.5"]),
    ("Flanger+Delay", [{"type": "Flanger"}, {"type": "Delay", "delay": 20}], [],
     ["Flanger", "Delay", "delay=20"]),
    ("Delay-steps", [{"type": "Delay", "delay": 20}],
     [[0, "feedback", 12000, 0.6], [0, "wetMix", 24000, 0.8]],
     ["Delay", "delay=20", "feedback=0.2@0,0.2@0.25s,0.6@0.25s",
      "wet-mix=0.3@0,0.3@0.5s,0.8@0.5s"]),
    ("Chain-steps", [{"type": "Chorus", "sweep-width": 0.01}, {"type": "PingPongDelay", "delay": 7}],
     [[1, "feedback", 24000, 0.6]],
     ["Chorus", "sweep-width=0.01", "PingPongDelay", "delay=7", "feedback=0.2@0,0.2@0.5s,0.6@0.5s"]),
]
# Rendered by the plain app in a live AudioContext, in real time: nodes that depend on nothing
# but their input.
LIVE_CASES = [
    ("PingPongDelay-live", [{"type": "PingPongDelay", "delay": 7, "feedback": 0.5}], [],
     ["PingPongDelay", "delay=7", "feedback=0.5"]),
    ("Delay-live", [{"type": "Delay", "delay": 350, "feedback": 0.4}], [],
     ["Delay", "delay=350", "feedback=0.4"]),
]
# App name -> (page, the cases it renders: Tone.js renders the single effects).
APP_PAGES = {
    "plain": "/plain/index.html",
    "vite": "/vite/dist/index.html?app=vite",
    "webpack": "/webpack/dist/index.html?app=webpack",
    "esbuild": "/esbuild/dist/index.html?app=esbuild",
    "tone": "/tone/dist/index.html",
}
def run(command, cwd, **kwargs):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, **kwargs)


passed = failed = 0


def check(ok, what, detail=""):
    global passed, failed
    print(("ok     " if ok else "FAILED ") + what + (f"\n{detail}" if detail and not ok else ""))
    passed, failed = passed + bool(ok), failed + (not ok)


def install():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    manifest = {"name": "orvane-package-test", "private": True, "type": "module",
                "dependencies": {"@orvane/audioeffects": f"file:{TGZ}", **TOOLS}}
    json.dump(manifest, open(os.path.join(WORK, "package.json"), "w"), indent=1)
    # esbuild's install script only checks its binary, which its platform package brings.
    result = run(["npm", "install", "--no-audit", "--no-fund", "--ignore-scripts",
                  "--loglevel=error"], WORK, timeout=600)
    if result.returncode != 0:
        print(result.stdout, result.stderr)
        raise SystemExit("npm install failed (the registry must be reachable)")


def server_side_import():
    script = ("const a = await import('@orvane/audioeffects');\n"
              "const b = await import('@orvane/audioeffects/inline');\n"
              "if (a.effects.length !== 5 || b.Delay.description.type !== 'Delay') throw new Error('exports');\n"
              "let message = '';\n"
              "try { new a.Delay({}); } catch (error) { message = error.message; }\n"
              "if (!/await load\\(context\\) first/.test(message)) throw new Error('no load: ' + message);\n")
    result = run(["node", "--input-type=module", "-e", script], WORK, timeout=60)
    check(result.returncode == 0 and not result.stdout and not result.stderr,
          "both entries import in Node without a window, print nothing, and refuse a node before "
          "load()", result.stdout + result.stderr)


def types():
    tsc = shutil.which("tsc")
    if not tsc:
        check(False, "tsc (Debian's node-typescript) is installed")
        return
    shutil.copy(TYPED_EXAMPLE, os.path.join(WORK, "typed.ts"))
    with open(os.path.join(WORK, "misspelt.ts"), "w") as out:
        out.write('import { Delay } from "@orvane/audioeffects";\n'
                  'export const make = (c: AudioContext) => new Delay(c, { delya: 350 });\n')
    # A browser project's options; no ambient types (the registry's @types/node, which the
    # bundlers bring, is newer than Debian's tsc).
    options = {"noEmit": True, "strict": True, "target": "es2020", "module": "es2020",
               "moduleResolution": "node", "lib": ["es2020", "dom"], "types": []}
    for name in ("typed", "misspelt"):
        json.dump({"compilerOptions": options, "files": [f"{name}.ts"]},
                  open(os.path.join(WORK, f"tsconfig.{name}.json"), "w"))
    good = run([tsc, "-p", "tsconfig.typed.json"], WORK, timeout=120)
    check(good.returncode == 0, "tsc accepts the typed example", good.stdout + good.stderr)
    bad = run([tsc, "-p", "tsconfig.misspelt.json"], WORK, timeout=120)
    check(bad.returncode != 0 and "delya" in bad.stdout,
          "tsc refuses a misspelt setting, naming it", bad.stdout + bad.stderr)


def build_apps():
    bin_dir = os.path.join(WORK, "node_modules", ".bin")
    for app, entry, html in [("plain", "plain.js", "plain.html"), ("vite", "default-entry.js", "app.html"),
                             ("webpack", "default-entry.js", None), ("esbuild", "inline-entry.js", "app.html"),
                             ("tone", "tone-entry.js", "app.html")]:
        directory = os.path.join(WORK, app)
        os.makedirs(directory)
        shutil.copy(os.path.join(APPS, "common.js"), directory)
        shutil.copy(os.path.join(APPS, entry), os.path.join(directory, "plain.js" if app == "plain" else "main.js"))
        if html:
            shutil.copy(os.path.join(APPS, html), os.path.join(directory, "index.html"))
    dist = lambda app: os.path.join(WORK, app, "dist")  # noqa: E731
    steps = [
        ("vite", [os.path.join(bin_dir, "vite"), "build", "--base", "./", "--logLevel", "error"]),
        ("webpack", [os.path.join(bin_dir, "webpack"), "--mode", "production", "--entry", "./main.js",
                     "--output-path", "./dist", "--output-filename", "main.js", "--no-stats"]),
        ("esbuild", [os.path.join(bin_dir, "esbuild"), "main.js", "--bundle", "--format=esm",
                     "--outfile=dist/main.js", "--log-level=error"]),
        ("tone", [os.path.join(bin_dir, "esbuild"), "main.js", "--bundle", "--format=esm",
                  "--outfile=dist/main.js", "--log-level=error"]),
    ]
    for app, command in steps:
        result = run(command, os.path.join(WORK, app), timeout=300)
        check(result.returncode == 0, f"{app} builds the app", result.stdout + result.stderr)
        if app in ("esbuild", "tone"):
            shutil.copy(os.path.join(WORK, app, "index.html"), dist(app))
    # webpack's bundle is a classic script, which finds its files from its own <script>'s URL.
    with open(os.path.join(dist("webpack"), "index.html"), "w") as out:
        out.write('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>webpack app'
                  '</title><script defer src="./main.js"></script></head><body></body></html>\n')
    with open(os.path.join(WORK, "runner.html"), "w") as out:
        out.write('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>apps</title>'
                  '</head><body>' +
                  "".join(f'<iframe src="{page}" width="200" height="100"></iframe>'
                          for page in APP_PAGES.values()) + "</body></html>\n")


results, reports, everything = {}, {}, threading.Event()


class Handler(http.server.SimpleHTTPRequestHandler):
    # Plain static files: no Cross-Origin-Opener-Policy or -Embedder-Policy header, ever.
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".js": "text/javascript", ".wasm": "application/wasm"}

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=WORK, **kwargs)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        parts = self.path.split("/")
        if self.path.startswith("/result/") and len(parts) == 4:
            results[(parts[2], unquote(parts[3]))] = body
        elif self.path.startswith("/done/") and len(parts) == 3:
            reports[parts[2]] = json.loads(body)
            if set(reports) >= set(APP_PAGES):
                everything.set()
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def expected_renders():
    demo = os.path.join(WORK, "demo.wav")
    subprocess.run([FX, "render", "-q", "-s", "demo", "-o", demo, "Delay", "enabled=false"], check=True)
    rate, channels = read_float_wav(demo)
    with open(os.path.join(WORK, "demo.f32"), "wb") as out:
        for channel in channels:
            out.write(struct.pack(f"<{len(channel)}f", *channel))
    json.dump({"demo": {"rate": rate, "channels": len(channels)},
               "cases": [{"name": n, "chain": c, "steps": s} for n, c, s, _ in CASES],
               "live": [{"name": n, "chain": c, "steps": s} for n, c, s, _ in LIVE_CASES]},
              open(os.path.join(WORK, "cases.json"), "w"))
    expected = {}
    for name, _, _, arguments in CASES + LIVE_CASES:
        out = os.path.join(WORK, f"{name}.wav")
        subprocess.run([FX, "render", "-q", "--tail", "0", "-i", demo, "-o", out, *arguments], check=True)
        expected[name] = read_float_wav(out)[1]
    return rate, channels, expected


def compare(rate, demo, expected):
    # "portable": the plain app's second rendering of every case, on the build without SIMD.
    for app in [*APP_PAGES, "portable"]:
        report = reports.get("plain" if app == "portable" else app)
        check(report is not None, f"{app}: the app reported back")
        if report is None:
            continue
        for problem in report["problems"] if app != "portable" else []:
            check(False, f"{app}: {problem}")
        check(not report["crossOriginIsolated"], f"{app}: runs without cross-origin isolation "
              f"(SharedArrayBuffer {'defined' if report['sharedArrayBuffer'] else 'undefined'})")
        for name, chain, _, _ in CASES + (LIVE_CASES if app == "plain" else []):
            if app == "tone" and len(chain) != 1:
                continue
            got, want = results.get((app, name)), expected[name]
            if got is None:
                check(False, f"{app} {name}: no result from the app")
                continue
            values = struct.unpack(f"<{len(got) // 4}f", got)
            frames = len(want[0])
            if len(values) != 2 * frames:
                check(False, f"{app} {name}: {len(values) // 2} frames, orvane-fx {frames}")
                continue
            where = next((f"channel {c} frame {f}: browser {values[c * frames + f]!r}, "
                          f"orvane-fx {want[c][f]!r}"
                          for c in range(2) for f in range(frames)
                          if not equal(values[c * frames + f], want[c][f])), "")
            check(not where, f"{app} {name}: equal to orvane-fx bit for bit",
                  f"    first difference: {where}")
            check(tuple(want[0]) != tuple(demo[0]), f"{app} {name}: the effect is heard")
    plain = reports.get("plain", {})
    ours, theirs = plain.get("pingPongEchoes"), plain.get("delayNodeLoopEchoes")
    spacing = lambda onsets: [b - a for a, b in zip(onsets, onsets[1:])] if onsets else []  # noqa: E731
    step = round(0.001 * rate)
    check(ours and ours[0] == step and spacing(ours) == [step, step],
          f"a 1 ms ping-pong repeats every {step} frames (echoes at {ours})")
    check(theirs and all(gap >= step + 128 for gap in spacing(theirs)),
          f"a 1 ms DelayNode in a loop waits a render quantum more (echoes at {theirs})")


def main():
    install()
    server_side_import()
    types()
    build_apps()
    rate, demo, expected = expected_renders()
    browse(Handler, "/runner.html", os.path.join(WORK, "chromium.log"), everything, 300)
    compare(rate, demo, expected)
    errors = console_errors(os.path.join(WORK, "chromium.log"))
    check(not errors, "no console error" + "".join("\n    " + e for e in errors[:5]))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
