#!/usr/bin/env python3
"""Renders every sound file of a folder through a chain of effects with random settings per
file, on a Dask cluster, with orvane_fx.batch.render_many: one output per input and a
batch-results.csv with every setting used.

    python3 examples/batch_render.py INPUT_DIR OUTPUT_DIR [--chain Delay,Chorus] [--seed 7]
                                     [--scheduler tcp://host:8786] [--workers 2] [--tail 1.0]

Without --scheduler a LocalCluster of --workers processes is started on this machine. Each
file's settings are drawn from a seed made of --seed and the file's name, so a run can be
repeated exactly, on any number of workers; a run stopped part way and started again skips the
files already made.
"""

import argparse
import hashlib
import os
import sys

import orvane_fx
from orvane_fx import Augment, uniform
from orvane_fx.batch import folder_tasks, render_many, write_results


def anywhere_in_range(effect_type: str):
    """The effect with each of its own settings but its switch drawn from the whole of its
    range (the mix and level every effect has stay as they are)."""
    cls = getattr(orvane_fx, effect_type)
    return cls(**{s["python_name"]: uniform(s["minimum"], s["maximum"])
                  for s in cls._settings if not s["is_bypass"] and not s["stage"]})


def file_seed(seed: int, name: str) -> int:
    return int.from_bytes(hashlib.sha256(f"{seed}:{name}".encode()).digest()[:8], "little")


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

    known = [info["type"] for info in orvane_fx.effect_types()]
    chain_types = [t.strip() for t in args.chain.split(",") if t.strip()]
    if not chain_types or any(t not in known for t in chain_types):
        parser.error(f"--chain {args.chain}: the effects are {', '.join(known)}")
    augment = Augment([anywhere_in_range(t) for t in chain_types])

    tasks = [{**task, "chain": augment,
              "seed": file_seed(args.seed, os.path.basename(task["input"]))}
             for task in folder_tasks(args.input_dir, args.output_dir)]
    if not tasks:
        print(f"no sound files in {args.input_dir}", file=sys.stderr)
        return 1
    results = render_many(tasks, scheduler=args.scheduler or f"local:{args.workers}",
                          tail_s=args.tail, progress="auto")
    write_results(os.path.join(args.output_dir, "batch-results.csv"), results)
    failed = [r for r in results if r["status"] == "failed"]
    for result in failed:
        print(f"{result['input']}: {result['error']}", file=sys.stderr)
    print(f"rendered {len(results) - len(failed)} file(s) into {args.output_dir}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
