"""The Dask example on a LocalCluster of two worker processes, checked file by file against a
render in this process."""

import csv
import os
import subprocess
import sys

import numpy
import pytest

import orvane_fx
from conftest import read_wav

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "batch_render.py")


def test_batch_render_on_a_two_worker_local_cluster(fx, tmp_path):
    pytest.importorskip("dask.distributed")
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    inputs.mkdir()
    for index, signal in enumerate(["noise", "sine", "impulse", "demo"]):
        fx("render", "-q", "-s", signal, "--seconds", "0.3", "--rate", 44100 + index,
           "-o", inputs / f"{signal}.wav", "Delay", "enabled=false")
    (inputs / "notes.txt").write_text("not audio")
    # The workers import orvane_fx from where this process found it.
    package_dir = os.path.dirname(os.path.dirname(os.path.abspath(orvane_fx.__file__)))
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join(
        filter(None, [package_dir, environment.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, EXAMPLE, inputs, outputs, "--chain",
                           "Flanger,Delay", "--seed", "11", "--workers", "2", "--tail", "0.1"],
                          capture_output=True, text=True, timeout=240, env=environment)
    assert done.returncode == 0, done.stderr
    assert "rendered 4 file(s)" in done.stdout

    rows = {os.path.basename(row["input"]): row
            for row in csv.DictReader(open(outputs / "batch-results.csv"))}
    assert set(rows) == {"noise.wav", "sine.wav", "impulse.wav", "demo.wav"}
    for name, row in rows.items():
        # "Flanger enabled=true sweep-width=0.0123 ... -> Delay ...; tail 4410 frames; ..."
        effects = []
        for part in row["settings"].split("; ")[0].split(" -> "):
            type_name, *pairs = part.split()
            ids = {s["id"]: s for s in orvane_fx._core.settings_of(type_name)}
            values = {}
            for pair in pairs:
                key, text = pair.split("=")
                kind = ids[key]["kind"]
                values[ids[key]["python_name"]] = (text == "true" if kind == "toggle" else
                                                   int(text) if kind == "integer" else float(text))
            effects.append(getattr(orvane_fx, type_name)(**values))
        assert [e.type for e in effects] == ["Flanger", "Delay"]
        rate = 44100 + ["noise", "sine", "impulse", "demo"].index(name[:-4])
        expected = orvane_fx.Chain(effects)(read_wav(inputs / name), rate, tail_s=0.1)
        assert numpy.array_equal(read_wav(outputs / name), expected), name
    assert not (outputs / "notes.txt").exists()
    # Run again: every file is complete and current, so none is made again.
    again = subprocess.run([sys.executable, EXAMPLE, inputs, outputs, "--chain",
                            "Flanger,Delay", "--seed", "11", "--workers", "2", "--tail", "0.1"],
                           capture_output=True, text=True, timeout=240, env=environment)
    assert again.returncode == 0, again.stderr
    assert {row["status"] for row in csv.DictReader(open(outputs / "batch-results.csv"))} == \
        {"skipped"}
