"""What the web tests share: float WAV reading, the comparison with the native renderer's
samples, and a page served on 127.0.0.1 to headless Chromium until it reports back.
"""

import http.server
import shutil
import struct
import subprocess
import tempfile
import threading

# The native host layer runs nodes with denormal numbers flushed to zero (so decaying echoes cost
# no more than sound); WebAssembly has no such mode and keeps them. The two can only differ where
# a signal has decayed into or next to the denormal range: so every sample must be equal bit for
# bit unless both lie below 2^-100 (about -600 dBFS, 10^-30).
TINY = 2.0 ** -100


def equal(browser, native):
    same_bits = struct.pack("<f", browser) == struct.pack("<f", native)
    return same_bits or (abs(browser) < TINY and abs(native) < TINY)


def read_float_wav(path):
    """(sample rate, [channel samples, ...]) of a 32-bit float WAV."""
    data = open(path, "rb").read()
    position, channels, rate, samples = 12, 0, 0, b""
    while position + 8 <= len(data):
        chunk, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        if chunk == b"fmt ":
            channels, rate = struct.unpack("<HI", data[position + 10:position + 16])
        elif chunk == b"data":
            samples = data[position + 8:position + 8 + size]
        position += 8 + size + (size & 1)
    values = struct.unpack(f"<{len(samples) // 4}f", samples)
    return rate, [values[c::channels] for c in range(channels)]


def browse(handler, path, log_path, done, timeout):
    """Serves `handler` on 127.0.0.1, opens `path` in headless Chromium (its console in
    `log_path`) and waits until `done` is set or `timeout` seconds pass; Chromium and the server
    are stopped whatever happens."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}{path}"
    profile = tempfile.mkdtemp(prefix="orvane-chromium-")
    with open(log_path, "w") as log:
        browser = subprocess.Popen(
            [shutil.which("chromium") or "chromium", "--headless=new", "--no-sandbox",
             "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--enable-logging=stderr", "--v=0",
             "--autoplay-policy=no-user-gesture-required", f"--user-data-dir={profile}",
             "--remote-debugging-port=0", url],
            stdout=log, stderr=subprocess.STDOUT)
        try:
            done.wait(timeout=timeout)
        finally:
            browser.kill()
            browser.wait()
            server.shutdown()
            shutil.rmtree(profile, ignore_errors=True)


def console_errors(log_path):
    """The page's uncaught errors and errors written to its console."""
    return [line for line in open(log_path).read().splitlines()
            if "CONSOLE" in line and ("Uncaught" in line or "Error" in line)]
