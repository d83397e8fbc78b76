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

    rows = list(csv.DictReader(open(outputs / "settings.csv")))
    assert {row["file"] for row in rows} == {"noise.wav", "sine.wav", "impulse.wav", "demo.wav"}
    for name in ["noise.wav", "sine.wav", "impulse.wav", "demo.wav"]:
        settings = {}
        for row in rows:
            if row["file"] == name:
                settings.setdefault(row["effect"], {})[row["setting"]] = eval(row["value"])
        assert list(settings) == ["Flanger", "Delay"]
        chain = orvane_fx.Chain([orvane_fx.Flanger(**settings["Flanger"]),
                                 orvane_fx.Delay(**settings["Delay"])])
        rate = 44100 + ["noise", "sine", "impulse", "demo"].index(name[:-4])
        expected = chain(read_wav(inputs / name), rate, tail_s=0.1)
        assert numpy.array_equal(read_wav(outputs / name), expected), name
    assert not (outputs / "notes.txt").exists()
