#!/usr/bin/env python3
"""Augments a folder of sound files for training, the way a PyTorch pipeline does: a Dataset
reads each file, a Transform applies random effects to it, and a DataLoader runs two worker
processes. Nothing is trained; each augmented clip is written out, with a JSON line per clip
saying exactly what was applied.

    python3 examples/augment_dataset.py INPUT_DIR OUTPUT_DIR [--seed 1234] [--workers 2]
                                        [--epoch 0]

Each clip's draws come from the seed, the epoch and the clip's index, never from a global
random state: a rerun writes the same files and the same records, whatever the number of
workers, and orvane_fx.replay(record) rebuilds the chain that made a clip.
"""

import argparse
import json
import os
import sys

import torch

import orvane_fx
from orvane_fx import Augment, choice, log_uniform, normal, uniform
from orvane_fx.torch import Transform

AUDIO_EXTENSIONS = {".wav", ".flac", ".aiff", ".aif", ".ogg", ".au"}


def augmentation() -> Augment:
    """Room-ish echoes and modulation, each applied to some of the clips, in a random order."""
    return Augment([
        orvane_fx.Chorus(sweep_width_s=uniform(0.002, 0.02), frequency_hz=log_uniform(0.1, 3)),
        orvane_fx.Flanger(sweep_width_s=uniform(0.001, 0.005), frequency_hz=log_uniform(0.1, 1)),
        orvane_fx.Delay(delay_ms=choice([40, 80, 120, 250]), feedback=normal(0.3, 0.15, 0.0, 0.7),
                        wet_mix=uniform(0.1, 0.4)),
    ], p=[0.5, 0.3, 0.4], shuffle=True)


class AudioFolder(torch.utils.data.Dataset):
    """Every sound file of a folder, sorted by name, augmented by `transform`."""

    def __init__(self, folder: str, transform: Transform):
        self.paths = sorted(os.path.join(folder, name) for name in os.listdir(folder)
                            if os.path.splitext(name)[1].lower() in AUDIO_EXTENSIONS)
        self.transform = transform

    def __len__(self):
        return len(self.paths)

    def __getitem__(self, index):
        audio, rate = orvane_fx.read(self.paths[index])
        # The clip's index is its key: its draws do not depend on which worker reads it.
        augmented, record = self.transform(torch.from_numpy(audio), key=index,
                                           return_params=True, sample_rate=rate)
        return index, augmented, rate, record


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input_dir")
    parser.add_argument("output_dir")
    parser.add_argument("--seed", type=int, default=1234)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--epoch", type=int, default=0)
    args = parser.parse_args()

    transform = Transform(augmentation(), seed=args.seed)
    transform.set_epoch(args.epoch)
    dataset = AudioFolder(args.input_dir, transform)
    if len(dataset) == 0:
        print(f"no sound files in {args.input_dir}", file=sys.stderr)
        return 2
    os.makedirs(args.output_dir, exist_ok=True)
    # batch_size=None: clips of different lengths and rates are not stacked.
    loader = torch.utils.data.DataLoader(dataset, batch_size=None, num_workers=args.workers)
    records = {}
    for index, augmented, rate, record in loader:
        name = os.path.splitext(os.path.basename(dataset.paths[index]))[0] + ".wav"
        orvane_fx.write(os.path.join(args.output_dir, name), augmented, rate)
        records[index] = {"file": name, "epoch": args.epoch, "seed": args.seed, **record}
    # Written in the folder's order, whichever worker finished first.
    with open(os.path.join(args.output_dir, "records.jsonl"), "w") as out:
        for index in sorted(records):
            out.write(json.dumps(records[index], sort_keys=True) + "\n")
    print(f"augmented {len(records)} clip(s) into {args.output_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
