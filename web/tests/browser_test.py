#!/usr/bin/env python3
"""The web page in headless Chromium against the native renderer.

Usage: browser_test.py SITE_DIR ORVANE_FX WORK_DIR

Renders the demo signal through every effect (defaults and other settings) and a chain with
orvane-fx, serves the site and the test page on 127.0.0.1, lets Chromium render the same cases
through the AudioWorklet and post the floats back, and compares them bit for bit. The test page
also checks the live page's controls. Chromium and the server are stopped whatever happens.
"""

import http.server
import json
import os
import struct
import subprocess
import sys
import threading

from headless import browse, console_errors, equal, read_float_wav

SITE, FX, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
TESTS = os.path.dirname(os.path.abspath(__file__))
SETTINGS = json.load(open(os.path.join(SITE, "effect-settings.json")))["effects"]

# (name, [(type, {setting id: value})]) rendered through the page and through orvane-fx.
CASES = [(e["type"], [(e["type"], {})]) for e in SETTINGS] + [
    ("Delay-350", [("Delay", {"delay": 350, "feedback": 0.4, "dry-mix": 0.5})]),
    ("PingPongDelay-7", [("PingPongDelay", {"delay": 7, "wet-mix": 0.45})]),
    ("Chorus-fast", [("Chorus", {"sweep-width": 0.04, "frequency": 3})]),
    ("Flanger-narrow", [("Flanger", {"sweep-width": 0.002, "frequency": 1.5})]),
    ("Vibrato-deep", [("Vibrato", {"sweep-width": 0.02, "frequency": 7.25})]),
    ("Flanger+Delay", [("Flanger", {}), ("Delay", {"delay": 20})]),
    ("Chorus-mix-level", [("Chorus", {"mix": 0.4, "level": -4.5})]),
    ("Delay-mix", [("Delay", {"feedback": 0.5, "mix": 0.75}), ("Vibrato", {"level": 2})]),
]
# Rendered until the echoes die away, as the page's download does: orvane-fx's --tail auto.
AUTO_TAIL = [
    ("Delay-auto-tail", [("Delay", {"delay": 300, "feedback": 0.6})]),
    ("Flanger+PingPong-auto-tail", [("Flanger", {"level": -3}), ("PingPongDelay", {"feedback": 0.5})]),
]


# Settings that move, which the page sets its own way (AudioParams, its tempo box): each
# against orvane-fx's own words for the same.
MOVING = [
    ("Delay-steps", ["Delay", "delay=20", "feedback=0.2@0,0.2@0.25s,0.6@0.25s",
                     "wet-mix=0.3@0,0.3@0.5s,0.8@0.5s"]),
    ("Delay-dotted-eighth", ["--bpm", "120", "Delay", "delay=1/8."]),
]


def page_chain(chain):
    out = []
    for effect_type, values in chain:
        ids = [s["id"] for s in next(e for e in SETTINGS if e["type"] == effect_type)["settings"]]
        out.append({"type": effect_type, "settings": [[ids.index(k), v] for k, v in values.items()]})
    return out


results, report, finished = {}, {}, threading.Event()


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=SITE, **kwargs)

    def translate_path(self, path):
        if path.startswith("/tests/cases.json"):
            return os.path.join(WORK, "cases.json")
        if path.startswith("/tests/"):
            return os.path.join(TESTS, path[len("/tests/"):].split("?")[0])
        return super().translate_path(path)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path.startswith("/tests/result/"):
            name = self.path[len("/tests/result/"):]
            from urllib.parse import unquote
            results[unquote(name)] = body
        elif self.path == "/tests/report":
            report.update(json.loads(body))
            finished.set()
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def main():
    os.makedirs(WORK, exist_ok=True)
    expected = {}
    for (name, chain), tail in [(case, "0") for case in CASES] + [(case, "auto") for case in AUTO_TAIL]:
        arguments = []
        for effect_type, values in chain:
            arguments.append(effect_type)
            arguments += [f"{k}={v}" for k, v in values.items()]
        out = os.path.join(WORK, f"{name}.wav")
        subprocess.run([FX, "render", "-q", "--tail", tail, "-i", os.path.join(SITE, "demo.wav"),
                        "-o", out, *arguments], check=True)
        expected[name] = read_float_wav(out)[1]
    for name, arguments in MOVING:
        out = os.path.join(WORK, f"{name}.wav")
        subprocess.run([FX, "render", "-q", "--tail", "0", "-i", os.path.join(SITE, "demo.wav"),
                        "-o", out, *arguments], check=True)
        expected[name] = read_float_wav(out)[1]
    json.dump([{"name": n, "chain": page_chain(c)} for n, c in CASES] +
              [{"name": n, "chain": page_chain(c), "tail": "auto"} for n, c in AUTO_TAIL],
              open(os.path.join(WORK, "cases.json"), "w"))

    browse(Handler, "/tests/test.html", os.path.join(WORK, "chromium.log"), finished, 240)

    passed = failed = 0

    def check(ok, what):
        nonlocal passed, failed
        print(("ok     " if ok else "FAILED ") + what)
        passed, failed = passed + ok, failed + (not ok)

    check(finished.is_set(), "the test page reported back")
    for name, _ in CASES + AUTO_TAIL + MOVING:
        got = results.get(name)
        want = expected[name]
        if got is None:
            check(False, f"{name}: no result from the page")
            continue
        values = struct.unpack(f"<{len(got) // 4}f", got)
        frames = len(want[0])
        same = [all(equal(values[c * frames + f], want[c][f]) for f in range(frames))
                for c in range(2)] if len(values) == 2 * frames else [False]
        if len(values) != 2 * frames:
            check(False, f"{name}: {len(values) // 2} frames from the browser, "
                         f"{frames} from orvane-fx")
        heard = tuple(want[0]) != tuple(read_float_wav(os.path.join(SITE, "demo.wav"))[1][0])
        where = ""
        for c in range(2):
            for f in range(min(frames, len(values) // 2)):
                if not equal(values[c * frames + f], want[c][f]):
                    where = f" (first difference: channel {c} frame {f}: browser " \
                            f"{values[c * frames + f]!r}, orvane-fx {want[c][f]!r})"
                    break
            if where:
                break
        check(all(same), f"{name}: the browser's samples equal orvane-fx's, bit for bit{where}")
        check(heard, f"{name}: the effect is heard")
    for problem in report.get("problems", []):
        check(False, f"page: {problem}")
    if finished.is_set() and not report.get("problems"):
        check(True, "page: every control shows its unit and range; a control change reaches the node")
    errors = console_errors(os.path.join(WORK, "chromium.log"))
    check(not errors, "no console error" + ("".join("\n    " + e for e in errors[:5])))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
