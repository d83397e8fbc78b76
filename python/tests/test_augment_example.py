"""The augmentation example: a two-worker DataLoader over a folder, run twice."""

import json
import os
import subprocess
import sys

import numpy
import pytest

import orvane_fx

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "augment_dataset.py")


def test_example_reruns_give_the_same_files_and_records(tmp_path, forks_workers):
    pytest.importorskip("torch")
    inputs = tmp_path / "in"
    inputs.mkdir()
    rng = numpy.random.default_rng(0)
    for index, (rate, channels) in enumerate([(16000, 1), (22050, 2), (48000, 2), (16000, 2),
                                              (44100, 1)]):
        audio = rng.uniform(-0.5, 0.5, (channels, rate // 4)).astype(numpy.float32)
        orvane_fx.write(inputs / f"clip{index}.{'flac' if index == 3 else 'wav'}", audio, rate,
                        format="pcm16" if index == 3 else None)
    (inputs / "readme.txt").write_text("not audio")
    package_dir = os.path.dirname(os.path.dirname(os.path.abspath(orvane_fx.__file__)))
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join(
        filter(None, [package_dir, environment.get("PYTHONPATH")]))

    def run(out, workers):
        done = subprocess.run([sys.executable, EXAMPLE, inputs, out, "--seed", "31",
                               "--workers", str(workers)],
                              capture_output=True, text=True, timeout=300, env=environment)
        assert done.returncode == 0, done.stderr
        assert "augmented 5 clip(s)" in done.stdout
        return {p.name: p.read_bytes() for p in sorted(out.iterdir())}

    first, second, alone = run(tmp_path / "a", 2), run(tmp_path / "b", 2), run(tmp_path / "c", 0)
    assert first == second == alone
    records = [json.loads(line) for line in first["records.jsonl"].decode().splitlines()]
    assert [r["file"] for r in records] == [f"clip{i}.wav" for i in range(5)]
    for record in records:
        source, rate = orvane_fx.read(next(inputs.glob(record["file"][:-4] + ".*")))
        written, _ = orvane_fx.read(tmp_path / "a" / record["file"])
        assert numpy.array_equal(orvane_fx.replay(record)(source, rate), written)
