"""orvane-fx batch and render_many: every file like a single render, failures listed, resumable
after SIGKILL, locked against a second batch, and on a Dask cluster that loses a worker."""

import csv
import os
import random
import signal
import subprocess
import threading
import time

import numpy
import pytest

import orvane_fx
from orvane_fx.batch import render_many, write_results

CHAIN = ["Delay", "delay=20ms", "feedback=0.5", "Chorus", "sweep-width=3ms"]


def make_inputs(folder, count, seconds=0.05, seed=0):
    """Sound files of mixed types, rates and channel counts; returns their names."""
    rng = numpy.random.default_rng(seed)
    names = []
    for index in range(count):
        rate = [8000, 16000, 22050, 44100, 48000][index % 5]
        channels = 1 + index % 2
        extension, format = [(".wav", None), (".flac", "pcm16"), (".aiff", "pcm24"),
                             (".wav", "pcm16")][index % 4]
        name = f"{'sub/' if index % 7 == 0 else ''}clip{index:03d}{extension}"
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        audio = rng.uniform(-0.5, 0.5, (channels, int(rate * seconds))).astype(numpy.float32)
        orvane_fx.write(path, audio, rate, format=format)
        names.append(name)
    return names


def results_of(path):
    return {row["input"]: row for row in csv.DictReader(open(path))}


def binary():
    found = os.environ.get("ORVANE_FX")
    if not found:
        pytest.skip("ORVANE_FX does not name the orvane-fx binary")
    return found


def leftovers(folder):
    return [p for p in folder.rglob(".*") if ".partial" in p.name or p.name.endswith(".orvane-lock")]


def test_a_folder_renders_as_single_renders_and_lists_its_failures(fx, tmp_path):
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    names = make_inputs(inputs, 200)
    (inputs / "broken.wav").write_bytes(b"RIFF\x10\x00\x00\x00WAVEfmt broken")
    (inputs / "unreadable.flac").symlink_to(tmp_path / "nowhere.flac")
    (inputs / "notes.txt").write_text("not a sound file")
    done = subprocess.run([binary(), "batch", "-i", inputs, "-o", outputs, "-r", "-j", "2",
                           *CHAIN], capture_output=True, text=True, timeout=600)
    assert done.returncode == 1, done.stderr
    assert "2 of 202 files failed" in done.stderr
    rows = results_of(outputs / "batch-results.csv")
    assert len(rows) == 202
    assert rows[str(inputs / "broken.wav")]["status"] == "failed"
    assert "no such file" in rows[str(inputs / "unreadable.flac")]["error"]
    for name in names:
        row = rows[str(inputs / name)]
        assert row["status"] == "done" and row["settings"].startswith("Delay enabled=true")
        single = tmp_path / "single" / name
        single.parent.mkdir(parents=True, exist_ok=True)
        fx("render", "-q", "-i", inputs / name, "-o", single, *CHAIN)
        mine, rate = orvane_fx.read(outputs / name)
        theirs, their_rate = orvane_fx.read(single)
        assert rate == their_rate and numpy.array_equal(mine, theirs), name
    assert leftovers(outputs) == []


def test_killed_batches_resume_and_never_redo_a_finished_file(tmp_path):
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    names = make_inputs(inputs, 80, seconds=6.0, seed=1)
    def into(folder):
        return [binary(), "batch", "-q", "-i", inputs, "-o", folder, "-r", "-j", "2", "--tail",
                "0.5", *CHAIN]
    command = into(outputs)
    # The kills come at fractions of what the whole batch takes on this machine (timed into a
    # folder of its own), five of them adding up to at most half of it: fixed moments let a
    # fast machine finish the batch within the first two or three.
    started = time.perf_counter()
    subprocess.run(into(tmp_path / "timed"), check=True)
    whole = time.perf_counter() - started
    finished = {}  # output → (inode, mtime) of every output seen complete after a kill
    moments, cut_short = random.Random(7), 0
    for _ in range(5):
        batch = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(whole * moments.uniform(0.03, 0.1))
        batch.send_signal(signal.SIGKILL)
        batch.wait()
        cut_short += not all((outputs / name).exists() for name in names)
        for name in names:
            path = outputs / name
            if path.exists():
                about = path.stat()
                finished.setdefault(name, (about.st_ino, about.st_mtime_ns))
    assert cut_short >= 3  # the kills came while files were being rendered
    done = subprocess.run(command, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    rows = results_of(outputs / "batch-results.csv")
    assert {row["status"] for row in rows.values()} <= {"done", "skipped"}
    for name, seen in finished.items():
        about = (outputs / name).stat()
        assert (about.st_ino, about.st_mtime_ns) == seen, f"{name} was rendered again"
        assert rows[str(inputs / name)]["status"] == "skipped"
    for name in names[::8]:
        reference = orvane_fx.Chain([orvane_fx.Delay(delay_ms=20, feedback=0.5),
                                     orvane_fx.Chorus(sweep_width_s=0.003)])
        source, rate = orvane_fx.read(inputs / name)
        written, _ = orvane_fx.read(outputs / name)
        expected = reference(source, rate, tail_s=0.5)
        if name.endswith(".wav") and int(name[-7:-4]) % 4 == 0:  # float WAV: every bit
            assert numpy.array_equal(written, expected), name
        else:  # whole-number formats: their rounding
            assert numpy.max(numpy.abs(written - numpy.clip(expected, -1, 1))) < 2 ** -14, name
    assert leftovers(outputs) == []


def test_two_batches_on_one_folder_render_each_file_once(tmp_path):
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    names = make_inputs(inputs, 30, seconds=0.5, seed=2)
    runs = [subprocess.Popen([binary(), "batch", "-q", "-i", inputs, "-o", outputs, "-r",
                              "--results", tmp_path / f"results{n}.csv", *CHAIN])
            for n in range(2)]
    assert [run.wait(timeout=600) for run in runs] == [0, 0]
    first, second = results_of(tmp_path / "results0.csv"), results_of(tmp_path / "results1.csv")
    for name in names:
        key = str(inputs / name)
        assert sorted([first[key]["status"], second[key]["status"]]) == ["done", "skipped"], name
    assert leftovers(outputs) == []


def test_outputs_are_made_again_when_their_input_or_settings_change(fx, tmp_path):
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    make_inputs(inputs, 3, seed=3)

    def statuses(*extra):
        subprocess.run([binary(), "batch", "-q", "-i", inputs, "-o", outputs, "-r", *extra],
                       check=True, timeout=120)
        return [row["status"] for row in results_of(outputs / "batch-results.csv").values()]

    assert statuses("Delay") == ["done"] * 3
    assert statuses("Delay") == ["skipped"] * 3
    assert statuses("Delay", "delay=201") == ["done"] * 3
    assert statuses("--tail", "0.1", "Delay", "delay=201") == ["done"] * 3
    assert statuses("--force", "--tail", "0.1", "Delay", "delay=201") == ["done"] * 3
    os.utime(inputs / "clip001.flac")
    assert statuses("--tail", "0.1", "Delay", "delay=201") == ["done", "skipped", "skipped"]


def test_a_manifest_gives_each_task_its_chain(tmp_path):
    inputs = tmp_path / "in"
    names = make_inputs(inputs, 3, seed=4)
    manifest = tmp_path / "tasks.csv"
    manifest.write_text("input,output,chain,seed\n"
                        f"in/{names[0]},out/a.wav,\"Delay delay=30ms\",\n"
                        f"in/{names[1]},out/b.flac,,7\n"
                        f"{inputs / names[2]},out/c.wav,Vibrato frequency=2Hz,\n")
    done = subprocess.run([binary(), "batch", "-q", "--manifest", manifest, "Flanger"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    rows = list(csv.DictReader(open(tmp_path / "batch-results.csv")))
    assert [r["settings"].split()[0] for r in rows] == ["Delay", "Flanger", "Vibrato"]
    assert "delay=30 " in rows[0]["settings"] and rows[1]["seed"] == "7"
    (tmp_path / "bad.csv").write_text("input,output\nin/x.wav\n")
    bad = subprocess.run([binary(), "batch", "--manifest", tmp_path / "bad.csv", "Delay"],
                         capture_output=True, text=True)
    assert bad.returncode == 2 and "bad.csv:2: a task needs an input and an output" in bad.stderr


def test_render_many_follows_the_same_rules_and_takes_augment_tasks(tmp_path):
    inputs = tmp_path / "in"
    names = make_inputs(inputs, 6, seed=5)
    augment = orvane_fx.Augment([orvane_fx.Chorus(frequency_hz=orvane_fx.uniform(0.5, 4))])
    tasks = [(inputs / n, tmp_path / "out" / f"{i}.wav", augment, i) for i, n in enumerate(names)]
    tasks.append({"input": inputs / names[0], "output": tmp_path / "out" / "plain.wav",
                  "chain": orvane_fx.Delay(delay_ms=40)})
    tasks.append((tmp_path / "missing.wav", tmp_path / "out" / "missing.wav", "Delay"))
    results = render_many(tasks, jobs=2, progress=False, format="float")
    assert [r["status"] for r in results] == ["done"] * 7 + ["failed"]
    for index, name in enumerate(names):
        source, rate = orvane_fx.read(inputs / name)
        written, _ = orvane_fx.read(tmp_path / "out" / f"{index}.wav")
        assert numpy.array_equal(written, augment(source, rate, rng=index))
    again = render_many(tasks, jobs=2, progress=False, format="float")
    assert [r["status"] for r in again] == ["skipped"] * 7 + ["failed"]
    write_results(tmp_path / "results.csv", again)
    rows = list(csv.DictReader(open(tmp_path / "results.csv")))
    assert rows[0]["seed"] == "0" and rows[-1]["error"].startswith("cannot read")
    with pytest.raises(ValueError, match="needs a seed"):
        render_many([(inputs / names[0], tmp_path / "x.wav", augment)])


def test_a_dask_cluster_that_loses_a_worker_still_finishes(tmp_path):
    distributed = pytest.importorskip("distributed")
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    names = make_inputs(inputs, 40, seconds=1.0, seed=6)
    tasks = [(inputs / n, outputs / n, CHAIN) for n in names]
    package = os.path.dirname(os.path.dirname(os.path.abspath(orvane_fx.__file__)))
    os.environ["PYTHONPATH"] = os.pathsep.join(
        filter(None, [package, os.environ.get("PYTHONPATH")]))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        victim = next(iter(client.run(os.getpid).values()))
        killed = []

        def kill_once_under_way():  # a worker lost in the middle of the batch
            while len(list(outputs.rglob("*.*"))) < 5:
                time.sleep(0.005)
            os.kill(victim, signal.SIGKILL)
            killed.append(len([n for n in names if (outputs / n).exists()]))

        killer = threading.Thread(target=kill_once_under_way)
        killer.start()
        results = render_many(tasks, scheduler=client, progress=False)
        killer.join()
    assert killed and killed[0] < len(names)
    assert {r["status"] for r in results} <= {"done", "skipped"}
    reference = orvane_fx.Chain([orvane_fx.Delay(delay_ms=20, feedback=0.5),
                                 orvane_fx.Chorus(sweep_width_s=0.003)])
    for name in names[::5]:
        if name.endswith(".wav") and int(name[-7:-4]) % 4 == 0:
            source, rate = orvane_fx.read(inputs / name)
            assert numpy.array_equal(orvane_fx.read(outputs / name)[0], reference(source, rate))
    assert leftovers(outputs) == []


def test_the_command_with_a_scheduler_runs_on_dask(tmp_path):
    pytest.importorskip("distributed")
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    names = make_inputs(inputs, 6, seed=8)
    (inputs / "broken.wav").write_bytes(b"not audio")
    done = subprocess.run([binary(), "batch", "-q", "-i", inputs, "-o", outputs, "-r",
                           "--scheduler", "local:2", *CHAIN],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 1 and "1 of 7 files failed" in done.stderr, done.stderr
    rows = results_of(outputs / "batch-results.csv")
    assert [rows[str(inputs / n)]["status"] for n in names] == ["done"] * 6
    local = subprocess.run([binary(), "batch", "-q", "-i", inputs, "-o", outputs, "-r", *CHAIN],
                           capture_output=True, text=True, timeout=300)
    assert local.returncode == 1
    assert [results_of(outputs / "batch-results.csv")[str(inputs / n)]["status"]
            for n in names] == ["skipped"] * 6


def test_a_running_scheduler_and_worker_take_the_command(tmp_path):
    pytest.importorskip("distributed")
    import re
    import shutil
    import sys

    dask = shutil.which("dask")
    if dask is None:
        pytest.skip("no dask command")
    inputs, outputs = tmp_path / "in", tmp_path / "out"
    names = make_inputs(inputs, 4, seed=9)
    package = os.path.dirname(os.path.dirname(os.path.abspath(orvane_fx.__file__)))
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(
        filter(None, [package, os.environ.get("PYTHONPATH")])))
    scheduler = subprocess.Popen([sys.executable, dask, "scheduler", "--host", "127.0.0.1",
                                  "--port", "0", "--no-dashboard"],
                                 stderr=subprocess.PIPE, text=True, env=environment)
    worker = None
    try:
        address = None
        for line in scheduler.stderr:
            found = re.search(r"Scheduler at:\s+(tcp://\S+)", line)
            if found:
                address = found.group(1)
                break
        assert address, "the scheduler did not say where it listens"
        # Its log goes on being read, so that a full pipe never stops it.
        threading.Thread(target=scheduler.stderr.read, daemon=True).start()
        worker = subprocess.Popen([sys.executable, dask, "worker", address, "--nthreads", "1",
                                   "--no-dashboard"], stderr=subprocess.DEVNULL, env=environment)
        done = subprocess.run([binary(), "batch", "-q", "-i", inputs, "-o", outputs, "-r",
                               "--scheduler", address, *CHAIN],
                              capture_output=True, text=True, timeout=300, env=environment)
        assert done.returncode == 0, done.stderr
        rows = results_of(outputs / "batch-results.csv")
        assert [rows[str(inputs / n)]["status"] for n in names] == ["done"] * 4
    finally:
        for process in (worker, scheduler):
            if process is not None:
                process.terminate()
                process.wait(timeout=30)
