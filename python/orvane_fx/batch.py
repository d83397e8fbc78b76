"""Many files through chains, with the renderer's batch rules, on threads or on a Dask cluster.

    >>> from orvane_fx.batch import render_many, write_results
    >>> results = render_many([("in/a.wav", "out/a.wav", "Delay delay=350ms"),
    ...                        {"input": "in/b.flac", "output": "out/b.flac",
    ...                         "chain": Augment([...]), "seed": 7}], jobs=2)
    >>> write_results("out/batch-results.csv", results)

Every task runs as one task of `orvane-fx batch`: its output locked while it renders, skipped
when it is complete and was made from the same input with the same settings, written beside
and renamed when complete. Tasks carry paths and settings text, never audio, so they travel to
a cluster's workers as they are; a task repeated (a retry, a resumed batch, a worker lost) is
safe. `python3 -m orvane_fx.batch` takes the renderer's batch options; `orvane-fx batch
--scheduler ...` hands its command line here.
"""

from __future__ import annotations

import argparse
import csv
import io
import numbers
import os
import sys
import time

import numpy

from . import Effect, Envelope, _core
from .augment import Augment, _item_rng, _seed_sequence

__all__ = ["render_many", "write_results", "chain_words", "folder_tasks", "manifest_tasks",
           "RESULT_COLUMNS"]

RESULT_COLUMNS = ["input", "output", "status", "error", "frames", "peak_dbfs", "seconds", "seed",
                  "settings"]


def _value_text(setting: dict, value) -> str:
    if setting["kind"] == "toggle":
        return "true" if value else "false"
    return str(int(value)) if setting["kind"] == "integer" else repr(float(value))


def chain_words(chain, seed=None) -> list:
    """A chain as the command line's words: text ("Delay delay=350ms Chorus"), an effect, a
    Chain or list of effects (every setting as it holds it), or an Augment drawn with `seed`
    (as Augment draws the item with key 0 of that seed; the same seed, the same chain)."""
    if chain is None:
        return []
    if isinstance(chain, str):
        return chain.split()
    if isinstance(chain, Augment):
        if seed is None or seed == "":
            raise ValueError("a task with an Augment needs a seed")
        drawn, _ = chain.draw(_item_rng(_seed_sequence(int(seed)), 0))
        words = []
        for type_name, values in drawn:
            settings = _core.settings_of(type_name)
            words.append(type_name)
            words += [f"{s['id']}={_value_text(s, v)}" for s, v in zip(settings, values)]
        return words
    effects = [chain] if isinstance(chain, Effect) else list(chain)
    words = []
    for effect in effects:
        if not isinstance(effect, Effect):
            raise TypeError(f"a chain holds effects, not {type(effect).__name__} {effect!r}")
        if effect.random_settings():
            raise ValueError(f"{effect!r} has settings to draw: put it in an Augment and give "
                             "the task a seed")
        if effect.__dict__.get("_per_item"):
            raise ValueError(f"{effect!r}: a task renders one file; PerItem values are for a "
                             "batch array")
        words.append(effect.type)
        words += getattr(effect, "_fixed_words", [])  # a Gain's switched-off Delay
        for s in effect._settings:
            value = getattr(effect, s["python_name"])
            if isinstance(value, Envelope):  # the command line's envelope: V@T,...
                words.append(f"{s['id']}=" + ",".join(f"{v!r}@{t!r}s" for t, v in value.points))
            elif isinstance(value, numpy.ndarray):
                raise ValueError(f"{effect!r}: a batch task takes envelopes, not one value per "
                                 "frame")
            else:
                words.append(f"{s['id']}={_value_text(s, value)}")
    return words


def folder_tasks(input_dir, output_dir, *, recursive=False, ext="", chain=None) -> list:
    """A task per sound file of a folder, as orvane-fx batch -i/-o finds them: the same names
    and layout under output_dir (ext, ".flac" say, replacing the extension), sorted."""
    return _core.tasks_from_folder(os.fspath(input_dir), os.fspath(output_dir), recursive, ext,
                                   chain_words(chain))


def manifest_tasks(path, *, chain=None) -> list:
    """The tasks of a CSV manifest (input,output[,chain][,seed]), as orvane-fx batch reads it."""
    return _core.tasks_from_manifest(os.fspath(path), chain_words(chain))


def _plain_task(task) -> dict:
    """A task as a dict of text: input, output, chain (words) and seed."""
    if isinstance(task, dict):
        fields = dict(task)
    elif isinstance(task, (tuple, list)) and 2 <= len(task) <= 4:
        fields = dict(zip(["input", "output", "chain", "seed"], task))
    else:
        raise TypeError("a task is a dict with input and output (and chain, seed), or a tuple "
                        f"(input, output[, chain[, seed]]), not {task!r}")
    unknown = set(fields) - {"input", "output", "chain", "seed"}
    if unknown:
        raise ValueError(f"a task has input, output, chain and seed; not {sorted(unknown)}")
    if "input" not in fields or "output" not in fields:
        raise ValueError(f"a task needs an input and an output: {task!r}")
    seed = fields.get("seed")
    seed = "" if seed is None else str(seed)
    if seed and not (isinstance(fields.get("seed"), numbers.Integral) or seed.isdigit()):
        raise ValueError(f"a seed is a whole number, 0 or more, not {seed!r}")
    chain = fields.get("chain")
    if isinstance(chain, (list, tuple)) and chain and all(isinstance(w, str) for w in chain):
        words = list(chain)  # the command line's words already
    else:
        words = chain_words(chain, seed or None)
    return {"input": os.fspath(fields["input"]), "output": os.fspath(fields["output"]),
            "chain": words, "seed": seed}


def _run_task(task: dict, tail_s: float, format: str, block: int, force: bool) -> dict:
    # On whichever thread or worker process: only paths and text come and go.
    return _core.run_task(task["input"], task["output"], task["chain"], tail_s, format, block,
                          force, task["seed"])


def _clock(seconds: float) -> str:
    seconds = int(round(seconds))
    return (f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}" if seconds >= 3600
            else f"{seconds // 60}:{seconds % 60:02d}")


class _Progress:
    def __init__(self, total: int, shown: bool, stream=None):
        self.total, self.shown, self.stream = total, shown, stream or sys.stderr
        self.done = self.failed = 0
        self.started = self.last = time.monotonic()

    def step(self, result: dict):
        self.done += 1
        self.failed += result["status"] == "failed"
        now = time.monotonic()
        if self.shown and (now - self.last >= 0.5 or self.done == self.total):
            self.last = now
            rate = self.done / max(now - self.started, 1e-9)
            left = _clock((self.total - self.done) / rate) if rate > 0 else "?"
            self.stream.write(f"\rorvane_fx: {self.done} of {self.total} files, {rate:.1f} "
                              f"files/s, {left} left, {self.failed} failed  ")
            if self.done == self.total:
                self.stream.write("\n")
            self.stream.flush()


def _client(scheduler: str):
    try:
        import distributed
    except ImportError as error:
        raise RuntimeError("a scheduler needs Dask's distributed (Debian's python3-distributed)"
                           ) from error
    if scheduler.startswith("local:"):
        count = scheduler[len("local:"):]
        if not count.isdigit() or int(count) < 1:
            raise ValueError(f"scheduler {scheduler!r}: local:N takes a number of workers, 1 or more")
        cluster = distributed.LocalCluster(n_workers=int(count), threads_per_worker=1,
                                           processes=True, dashboard_address=None)
        return distributed.Client(cluster), cluster
    return distributed.Client(scheduler), None


def render_many(tasks, jobs=None, scheduler=None, resume=True, progress=True, *, tail_s=0.0,
                format=None, block=512, fail_fast=False) -> list:
    """Renders every task and returns one result per task, in the tasks' order: a dict of
    input, output, status ("done", "skipped" or "failed"), error, frames, peak_dbfs,
    seconds, seed and settings (every setting used, the tail and the format).

    tasks: dicts with input, output, chain and seed, or tuples in that order; a chain is the
    command line's text, an effect, a Chain or an Augment (drawn with the task's seed).
    jobs: tasks at once on this machine's threads (default: one per core). scheduler: a Dask
    scheduler's address (tcp://host:8786), a distributed.Client, or "local:N" for a
    LocalCluster of N processes; the tasks then run on its workers. resume=False renders
    outputs that are complete and current again. tail_s: seconds after each input, or "auto"
    (until the echoes die away, as orvane-fx does by default; here the default is 0, keeping
    each file's length). A failed task does not stop the others, unless fail_fast.
    """
    plain = [_plain_task(task) for task in tasks]
    options = (tail_s if tail_s == "auto" else float(tail_s), "" if format is None else str(format),
               int(block), not resume)
    shown = progress is True or (progress == "auto" and sys.stderr.isatty())
    meter = _Progress(len(plain), bool(shown))
    results = [None] * len(plain)
    if scheduler is None:
        from concurrent.futures import FIRST_COMPLETED, ThreadPoolExecutor, wait
        with ThreadPoolExecutor(jobs or os.cpu_count() or 1) as pool:
            pending = {pool.submit(_run_task, task, *options): i for i, task in enumerate(plain)}
            while pending:
                finished, _ = wait(pending, return_when=FIRST_COMPLETED)
                for future in finished:
                    index = pending.pop(future)
                    results[index] = future.result()
                    meter.step(results[index])
                    if fail_fast and results[index]["status"] == "failed":
                        for other in pending:
                            other.cancel()
                if fail_fast and any(r and r["status"] == "failed" for r in results):
                    break
    else:
        import distributed
        client, cluster = (scheduler, None) if isinstance(scheduler, distributed.Client) \
            else _client(scheduler)
        try:
            futures = client.map(_run_task, plain, *[[o] * len(plain) for o in options],
                                 pure=False, retries=2)
            index_of = {future.key: i for i, future in enumerate(futures)}
            for future in distributed.as_completed(futures):
                index = index_of[future.key]
                results[index] = future.result()
                meter.step(results[index])
                if fail_fast and results[index]["status"] == "failed":
                    client.cancel(futures)
                    break
        finally:
            if client is not scheduler:
                client.close()
            if cluster is not None:
                cluster.close()
    for index, result in enumerate(results):
        if result is None:
            task = plain[index]
            results[index] = {"input": task["input"], "output": task["output"],
                              "status": "failed", "error": "not run: fail_fast stopped the batch",
                              "frames": None, "peak_dbfs": None, "seconds": 0.0,
                              "seed": task["seed"], "settings": ""}
    return results


def write_results(path, results) -> None:
    """The results as CSV (the columns of orvane-fx batch's), written beside and renamed."""
    text = io.StringIO()
    writer = csv.DictWriter(text, RESULT_COLUMNS, extrasaction="ignore", lineterminator="\n")
    writer.writeheader()
    for result in results:
        row = dict(result)
        peak = row.get("peak_dbfs")
        row["peak_dbfs"] = "" if peak is None else ("-inf" if peak == float("-inf")
                                                    else f"{peak:.2f}")
        row["seconds"] = f"{row.get('seconds') or 0:.3f}"
        row["frames"] = "" if row.get("frames") is None else row["frames"]
        writer.writerow(row)
    path = os.fspath(path)
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    temporary = os.path.join(folder, f".{os.path.basename(path)}.partial-{os.getpid()}")
    with open(temporary, "w", newline="") as out:
        out.write(text.getvalue())
        out.flush()
        os.fsync(out.fileno())
    os.replace(temporary, path)


def main(argv=None) -> int:
    """orvane-fx batch's options, run by render_many (on Dask with --scheduler)."""
    parser = argparse.ArgumentParser(prog="orvane-fx batch", description=__doc__.split("\n")[0])
    parser.add_argument("-i", "--input")
    parser.add_argument("-o", "--output")
    parser.add_argument("--manifest")
    parser.add_argument("-r", "--recursive", action="store_true")
    parser.add_argument("--ext", default="")
    parser.add_argument("-j", "--jobs", type=int)
    parser.add_argument("--tail", default="auto")
    parser.add_argument("--format")
    parser.add_argument("-b", "--block", type=int, default=512)
    parser.add_argument("--results")
    parser.add_argument("--force", action="store_true")
    parser.add_argument("--fail-fast", action="store_true")
    parser.add_argument("-q", "--quiet", action="store_true")
    parser.add_argument("--scheduler")
    parser.add_argument("chain", nargs="*")
    args = parser.parse_args(argv)
    try:
        if args.manifest:
            if args.input or args.output:
                raise ValueError("give -i (a folder) or --manifest, not both; a manifest names "
                                 "each output")
            tasks = _core.tasks_from_manifest(args.manifest, args.chain)
        else:
            if not args.input or not args.output:
                raise ValueError("batch needs -i FOLDER and -o FOLDER (or --manifest tasks.csv)")
            tasks = _core.tasks_from_folder(args.input, args.output, args.recursive, args.ext,
                                            args.chain)
        results_path = args.results or os.path.join(
            args.output or os.path.dirname(args.manifest), "batch-results.csv")
        tail = args.tail if args.tail == "auto" else float(args.tail)
        started = time.monotonic()
        results = render_many(tasks, jobs=args.jobs, scheduler=args.scheduler,
                              resume=not args.force,
                              progress=False if args.quiet else "auto", tail_s=tail,
                              format=args.format, block=args.block, fail_fast=args.fail_fast)
    except (ValueError, RuntimeError, OSError) as error:
        print(f"orvane-fx: error: {error}", file=sys.stderr)
        return 2
    write_results(results_path, results)
    counts = {status: sum(r["status"] == status for r in results)
              for status in ("done", "skipped", "failed")}
    if not args.quiet:
        print(f"orvane-fx batch: {len(results)} files: {counts['done']} done, {counts['skipped']} "
              f"skipped (complete and current), {counts['failed']} failed in "
              f"{_clock(time.monotonic() - started)}; results in {results_path}", file=sys.stderr)
    if counts["failed"]:
        print(f"orvane-fx: error: {counts['failed']} of {len(results)} files failed; see "
              f"{results_path}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
