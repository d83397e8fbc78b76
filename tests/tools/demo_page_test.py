#!/usr/bin/env python3
"""The demo page in headless Chromium: every picture loads with a size, every player reports the
duration of its file, and every effect's section has its text, settings, players and pictures.

Usage: demo_page_test.py ORVANE_FX WORK_DIR [SCREENSHOT.png]
"""

import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading

FX, WORK = sys.argv[1], sys.argv[2]
SCREENSHOT = sys.argv[3] if len(sys.argv) > 3 else None
DEMO = os.path.join(WORK, "demo")
EFFECTS = ["Delay", "PingPongDelay", "Vibrato", "Flanger", "Chorus"]

CHECK_PAGE = """<!DOCTYPE html><html><body><iframe id="page" src="index.html" width="1000"
height="800"></iframe><script>
const frame = document.getElementById("page");
frame.onload = async () => {
  const doc = frame.contentDocument;
  const images = [...doc.images].map((img) => ({ src: img.getAttribute("src"),
    ok: img.complete && img.naturalWidth > 0 && img.naturalHeight > 0 }));
  const audio = await Promise.all([...doc.querySelectorAll("audio")].map((a) =>
    new Promise((resolve) => {
      const done = () => resolve({ src: a.getAttribute("src"), duration: a.duration });
      if (a.readyState >= 1) done();
      a.addEventListener("loadedmetadata", done);
      a.addEventListener("error", () => resolve({ src: a.getAttribute("src"), duration: -1 }));
      a.preload = "metadata";
      a.load();
    })));
  const sections = {};
  for (const section of doc.querySelectorAll("section")) {
    sections[section.id] = { text: section.querySelector("p")?.textContent || "",
      settings: section.querySelectorAll(".settings li").length,
      players: section.querySelectorAll("audio").length,
      pictures: [...section.querySelectorAll("img")].map((i) => i.getAttribute("src")) };
  }
  await fetch("report", { method: "POST", body: JSON.stringify({ images, audio, sections }) });
};
</script></body></html>"""

report, finished = {}, threading.Event()


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=DEMO, **kwargs)

    def do_GET(self):
        if self.path.startswith("/check.html"):
            body = CHECK_PAGE.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        super().do_GET()

    def do_POST(self):
        report.update(json.loads(self.rfile.read(int(self.headers["Content-Length"]))))
        finished.set()
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def wav_seconds(path):
    data = open(path, "rb").read(4096)
    rate = struct.unpack("<I", data[24:28])[0]
    block = struct.unpack("<H", data[32:34])[0]
    at = 12
    while at + 8 <= len(data):
        size = struct.unpack("<I", data[at + 4:at + 8])[0]
        if data[at:at + 4] == b"data":
            return size / block / rate
        at += 8 + size + (size & 1)
    raise ValueError(path)


def chromium(*arguments):
    profile = tempfile.mkdtemp(prefix="orvane-chromium-")
    try:
        return subprocess.Popen(
            [shutil.which("chromium") or "chromium", "--headless=new", "--no-sandbox",
             "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}",
             *arguments], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), profile
    except Exception:
        shutil.rmtree(profile, ignore_errors=True)
        raise


def main():
    shutil.rmtree(DEMO, ignore_errors=True)
    subprocess.run([FX, "demo", "-o", DEMO], check=True, stdout=subprocess.DEVNULL)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}/"
    browser, profile = chromium(base + "check.html")
    try:
        finished.wait(timeout=120)
        if SCREENSHOT:
            shot, shot_profile = chromium("--window-size=1100,2400", "--hide-scrollbars",
                                          f"--screenshot={os.path.abspath(SCREENSHOT)}",
                                          base + "index.html")
            shot.wait(timeout=60)
            shutil.rmtree(shot_profile, ignore_errors=True)
    finally:
        browser.kill()
        browser.wait()
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)

    passed = failed = 0

    def check(ok, what):
        nonlocal passed, failed
        print(("ok     " if ok else "FAILED ") + what)
        passed, failed = passed + ok, failed + (not ok)

    check(finished.is_set(), "the page was opened and checked")
    for image in report.get("images", []):
        check(image["ok"], f"picture {image['src']} loads with a size")
    for audio in report.get("audio", []):
        want = wav_seconds(os.path.join(DEMO, audio["src"]))
        check(abs(audio["duration"] - want) < 1e-3,
              f"player {audio['src']} reports {audio['duration']} s, its file's {want:.6f} s")
    sections = report.get("sections", {})
    for effect in EFFECTS:
        section = sections.get(effect, {})
        check(len(section.get("text", "")) > 100, f"{effect}: a text that explains it")
        check(section.get("settings", 0) >= 3, f"{effect}: its settings")
        check(section.get("players") == 2, f"{effect}: dry and processed players")
        pictures = section.get("pictures", [])
        wanted = [f"{effect}.svg", f"{effect}.png"]
        if effect in ("Delay", "PingPongDelay"):
            wanted.append(f"{effect}-impulse.svg")
        check(pictures == wanted, f"{effect}: waveform, spectrogram{' and impulse response' if len(wanted) > 2 else ''}")
    ping = sections.get("PingPongDelay", {}).get("text", "")
    check("both sides at once" in ping and "square of the feedback" in ping,
          "the ping-pong text says how its echoes move")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
