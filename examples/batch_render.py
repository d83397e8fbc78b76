#!/usr/bin/env python3
"""Renders every audio file of a folder through a chain of effects with random settings per
file, on a Dask cluster, and writes one output per input plus a CSV of the settings used.

    python3 examples/batch_render.py INPUT_DIR OUTPUT_DIR [--chain Delay,Chorus] [--seed 7]
                                     [--scheduler tcp://host:8786] [--workers 2] [--tail 1.0]

Without --scheduler a LocalCluster of --workers processes is started on this machine. The
settings of each file come from a generator seeded with --seed and the file's name, so a run can
be repeated exactly, and on any number of workers. Each file is streamed through the chain with
orvane_fx.render_file: memory does not grow with a file's length.
"""

import argparse
import csv
import hashlib
import os
import random
import sys

import orvane_fx

AUDIO_EXTENSIONS = {".wav", ".flac", ".aiff", ".aif", ".ogg", ".au"}


def random_settings(effect_type: str, rng: random.Random) -> dict:
    """A value inside every setting's range (the bypass stays on)."""
    cls = getattr(orvane_fx, effect_type)
    chosen = {}
    for setting in cls._settings:
        if setting["is_bypass"]:
            continue
        value = rng.uniform(setting["minimum"], setting["maximum"])
        chosen[setting["python_name"]] = round(value) if setting["kind"] == "integer" else value
    return chosen


def file_rng(seed: int, name: str) -> random.Random:
    digest = hashlib.sha256(f"{seed}:{name}".encode()).digest()
    return random.Random(int.from_bytes(digest[:8], "little"))


def plan(input_dir: str, chain_types: list, seed: int) -> list:
    """(input file name, [(effect type, settings), ...]) for every audio file, sorted."""
    jobs = []
    for name in sorted(os.listdir(input_dir)):
        if os.path.splitext(name)[1].lower() not in AUDIO_EXTENSIONS:
            continue
        rng = file_rng(seed, name)
        jobs.append((name, [(t, random_settings(t, rng)) for t in chain_types]))
    return jobs


def render_one(input_path: str, output_path: str, effects: list, tail_s: float) -> str:
    """Runs on a worker: builds the chain there and streams the file through it."""
    import orvane_fx as fx  # the worker's own import

    chain = fx.Chain(getattr(fx, effect_type)(**settings) for effect_type, settings in effects)
    fx.render_file(input_path, output_path, chain, tail_s=tail_s)
    return output_path


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input_dir")
    parser.add_argument("output_dir")
    parser.add_argument("--chain", default="Delay,Chorus",
                        help="effects in order, comma-separated (default: Delay,Chorus)")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes")
    parser.add_argument("--tail", type=float, default=0.0, help="seconds of echo tail per file")
    args = parser.parse_args(argv)

    chain_types = [t.strip() for t in args.chain.split(",") if t.strip()]
    known = [info["type"] for info in orvane_fx.effect_types()]
    unknown = [t for t in chain_types if t not in known]
    if unknown or not chain_types:
        parser.error(f"unknown effect(s) {', '.join(unknown) or '(none given)'}; "
                     f"the effects are {', '.join(known)}")
    jobs = plan(args.input_dir, chain_types, args.seed)
    if not jobs:
        print(f"no audio files in {args.input_dir}", file=sys.stderr)
        return 1
    os.makedirs(args.output_dir, exist_ok=True)

    from dask.distributed import Client, LocalCluster

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = [
            client.submit(render_one, os.path.abspath(os.path.join(args.input_dir, name)),
                          os.path.abspath(os.path.join(args.output_dir, name)), effects,
                          args.tail, pure=False)
            for name, effects in jobs
        ]
        client.gather(futures)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    with open(os.path.join(args.output_dir, "settings.csv"), "w", newline="") as table:
        writer = csv.writer(table)
        writer.writerow(["file", "effect", "setting", "value"])
        for name, effects in jobs:
            for effect_type, settings in effects:
                for setting, value in settings.items():
                    writer.writerow([name, effect_type, setting, repr(value)])
    print(f"rendered {len(jobs)} file(s) into {args.output_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
