"""Writes orvane_fx's type stubs from the built module, so they list exactly the settings the
library describes. Usage: generate_stubs.py PACKAGE_DIR (the folder holding the package)."""

import os
import sys

sys.path.insert(0, sys.argv[1])
import orvane_fx  # noqa: E402

PY_TYPES = {"toggle": "bool", "integer": "int", "number": "float"}

lines = [
    "# Generated from the library's description of its effects; do not edit.",
    "from os import PathLike",
    "from typing import Iterable, Optional, Sequence, Union",
    "",
    "import numpy",
    "import numpy.typing",
    "",
    "from .augment import Augment as Augment, Distribution as Distribution, choice as choice",
    "from .augment import log_uniform as log_uniform, normal as normal, replay as replay",
    "from .augment import uniform as uniform, worker_rng as worker_rng",
    "",
    "_Audio = numpy.typing.ArrayLike",
    "",
    "class Envelope:",
    "    points: list[tuple[float, float]]",
    "    def __init__(self, points: Iterable[tuple[float, float]]) -> None: ...",
    "",
    "class PerItem:",
    "    values: list",
    "    def __init__(self, values: Iterable) -> None: ...",
    "",
    "# What a setting takes: a value (a note value as \"1/8.\" for a time setting, with bpm=), a",
    "# distribution for Augment, an Envelope or one value per frame, or one value per item.",
    "_Moving = Union[Distribution, Envelope, PerItem, numpy.ndarray]",
    "",
    "class Effect:",
    "    def process(self, audio: _Audio, sample_rate: int, *, reset: bool = ...,",
    "                tail_s: Union[float, str] = ..., out: Optional[numpy.ndarray] = ...) -> numpy.ndarray: ...",
    "    def __call__(self, audio: _Audio, sample_rate: int, *, reset: bool = ...,",
    "                 tail_s: Union[float, str] = ..., out: Optional[numpy.ndarray] = ...) -> numpy.ndarray: ...",
    "    def reset(self) -> None: ...",
    "    def settings(self) -> dict: ...",
    "    def random_settings(self) -> dict[str, Distribution]: ...",
    "    def draw(self, rng: numpy.random.Generator) -> 'Effect': ...",
    "    bpm: Optional[float]",
    "    @property",
    "    def type(self) -> str: ...",
    "",
]
for info in orvane_fx.effect_types():
    cls = getattr(orvane_fx, info["type"])
    settings = cls._settings
    def kind(s):
        time = " str," if s["unit"] in ("ms", "s") else ""
        return f"Union[{PY_TYPES[s['kind']]},{time} _Moving]"
    args = ", ".join(f"{s['python_name']}: {kind(s)} = ..." for s in settings)
    lines.append(f"class {info['type']}(Effect):")
    lines.append(f'    """{cls.__doc__}"""')
    lines.append(f"    def __init__(self, *, bpm: Optional[float] = ..., {args}) -> None: ...")
    for s in settings:
        lines.append(f"    {s['python_name']}: {kind(s)}")
        lines.append(f'    """{orvane_fx._describe(s)}"""')
    lines.append("")
lines += [
    "class Gain(Effect):",
    "    def __init__(self, db: Union[float, PerItem] = ...) -> None: ...",
    "    db: Union[float, PerItem]",
    "",
    "class Chain(list[Effect]):",
    "    def __init__(self, effects: Iterable[Effect] = ..., *, bpm: Optional[float] = ...) -> None: ...",
    "    bpm: Optional[float]",
    "    def process(self, audio: _Audio, sample_rate: int, *, reset: bool = ...,",
    "                tail_s: Union[float, str] = ..., out: Optional[numpy.ndarray] = ...) -> numpy.ndarray: ...",
    "    def __call__(self, audio: _Audio, sample_rate: int, *, reset: bool = ...,",
    "                 tail_s: Union[float, str] = ..., out: Optional[numpy.ndarray] = ...) -> numpy.ndarray: ...",
    "    def reset(self) -> None: ...",
    "",
    "def render_file(input_path: Union[str, PathLike], output_path: Union[str, PathLike],",
    "                chain: Union[Effect, Sequence[Effect]], *, block: int = ...,",
    "                tail_s: Union[float, str] = ..., format: Optional[str] = ...) -> None: ...",
    "def effect_types() -> list[dict]: ...",
    "def read(path: Union[str, PathLike]) -> tuple[numpy.ndarray, int]: ...",
    "class SoundFile:",
    "    channels: int",
    "    sample_rate: int",
    "    frames: Optional[int]",
    "    def read(self, frames: int = ...) -> numpy.ndarray: ...",
    "    def blocks(self, frames: int = ...) -> Iterable[numpy.ndarray]: ...",
    "    def __iter__(self) -> Iterable[numpy.ndarray]: ...",
    "    def close(self) -> None: ...",
    "    def __enter__(self) -> 'SoundFile': ...",
    "    def __exit__(self, *exception: object) -> None: ...",
    "def open(path: Union[str, PathLike]) -> SoundFile: ...",
    "def write(path: Union[str, PathLike], audio: _Audio, sample_rate: int, *,",
    "          format: Optional[str] = ...) -> None: ...",
    "",
]
target = os.path.join(sys.argv[1], "orvane_fx", "__init__.pyi")
with open(target + ".tmp", "w") as out:
    out.write("\n".join(lines))
os.replace(target + ".tmp", target)
