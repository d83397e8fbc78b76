"""PyTorch: effects, chains and Augment as a torch.nn.Module, for torchvision-style transforms
and Dataset pipelines. Imports torch (Debian's python3-torch); the rest of orvane_fx does not.

Tensors stay on the CPU: one on another device is refused with a message, not copied, as the
effects run on the CPU (recursive filters run much slower on GPUs).
"""

from __future__ import annotations

import numpy as _numpy
import torch as _torch

from . import Chain, Effect
from .augment import Augment, worker_rng

__all__ = ["Transform", "worker_rng"]


class Transform(_torch.nn.Module):
    """An effect, a Chain or an Augment applied to (frames,), (channels, frames) or
    (batch, channels, frames) tensors at one sample rate (or, for data sets of mixed rates,
    the rate given to each call).

    With an Augment, forward(audio, key=k) draws item k's stream from (seed, epoch, k): the
    same whatever the worker, the batch or the order (give each item its index in the data
    set). Without a key, each DataLoader worker draws from its own stream keyed by the seed,
    the epoch and its id (worker_rng), so no two workers repeat one; the draws then depend on
    how the loader deals items to workers. set_epoch() moves every stream on, as a sampler's
    set_epoch does; call it before iterating the loader for the epoch.
    """

    def __init__(self, effects, sample_rate=None, *, seed=None, tail_s=0.0, workers=1):
        super().__init__()
        if isinstance(effects, Effect):
            effects = Chain([effects])
        if not isinstance(effects, (Chain, Augment)):
            raise TypeError("Transform takes an effect, a Chain or an Augment, not "
                            f"{type(effects).__name__}")
        self.effects = effects
        self.sample_rate = sample_rate
        # No seed: one from the operating system, shared by the workers a loader forks from
        # here (each still has its own stream).
        self.seed = int(_numpy.random.SeedSequence().entropy) if seed is None else seed
        self.tail_s = tail_s
        self.workers = workers
        self.epoch = 0
        self._stream = None
        self._stream_owner = None

    def set_epoch(self, epoch: int) -> None:
        self.epoch = int(epoch)
        self._stream = None

    def _worker_stream(self):
        owner = (_torch.utils.data.get_worker_info() or None, self.epoch)
        owner = (getattr(owner[0], "id", None), owner[1])
        if self._stream is None or self._stream_owner != owner:
            self._stream = worker_rng(self.seed, self.epoch)
            self._stream_owner = owner
        return self._stream

    def forward(self, audio, key=None, return_params=False, sample_rate=None):
        rate = self.sample_rate if sample_rate is None else sample_rate
        if rate is None:
            raise ValueError("this Transform has no sample rate: give sample_rate= to the call")
        if not isinstance(self.effects, Augment):
            return self.effects(audio, rate, tail_s=self.tail_s)
        if key is None:
            return self.effects(audio, rate, rng=self._worker_stream(),
                                return_params=return_params, workers=self.workers)
        seed = _numpy.random.SeedSequence(self.seed, spawn_key=(self.epoch,))
        return self.effects(audio, rate, rng=seed, keys=key, return_params=return_params,
                            workers=self.workers)

    def extra_repr(self) -> str:
        return f"{self.effects!r}, sample_rate={self.sample_rate}, seed={self.seed}"
