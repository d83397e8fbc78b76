"""orvane_fx: the Orvane audio effects on numpy arrays.

One class per effect of the library (``effect_types()`` lists them), each running the
library's own nodes, so their output is the library's, sample for sample. Every setting is a
keyword argument and a property named after the setting, with its unit appended where it has
one (``delay_ms``, ``sweep_width_s``, ``frequency_hz``). A value the effect would clamp, or
cannot hold, raises ValueError; any other value is taken as it is, and processing warns
(UserWarning) where the effect will not do what it asks, as the orvane-fx renderer does. ``Chain`` runs several effects in turn, and ``render_file`` streams a sound file
through a chain; ``read`` and ``write`` move sound files to and from arrays.

Any setting may also be a distribution (``uniform``, ``log_uniform``, ``choice``, ``normal``):
such an effect is drawn from per item by ``Augment``, which applies effects at random with
seeded, per-item streams and records what it applied (``replay`` rebuilds it). PyTorch CPU
tensors go in and come out wherever arrays do (``orvane_fx.torch`` has a transform module).

    >>> import numpy, orvane_fx
    >>> delay = orvane_fx.Delay(delay_ms=350, feedback=0.4)
    >>> wet = delay(numpy.zeros((2, 48000), numpy.float32), 48000, tail_s=1.0)
"""

from __future__ import annotations

import difflib as _difflib
import math as _math
import numbers as _numbers
import os as _os

import numpy as _numpy

from . import _core
from . import augment as _augment
from .augment import Augment, choice, log_uniform, normal, replay, uniform, worker_rng

__all__ = ["Augment", "choice", "log_uniform", "normal", "replay", "uniform", "worker_rng"]

__all__ += ["Chain", "Effect", "Envelope", "PerItem", "render_file", "read", "write", "open", "SoundFile",
            "effect_types"]  # and every effect

# Along a ramp (or an array of one value per frame) a setting is set every this many frames,
# the library's own step, as orvane-fx and the plugins do.
_RAMP_STEP = _core.RAMP_STEP


class Effect(_core.EffectBase):
    """An effect of the library: the base of every effect class."""

    _type = ""
    _settings: list = []

    # The library's effect is made with the object, so that no path (unpickling machinery,
    # cls.__new__ by hand) leaves one without it.
    def __new__(cls, *args, **kwargs):
        self = super().__new__(cls)
        _core.EffectBase.__init__(self, cls._type)
        return self

    def __init__(self, *, bpm=None, **settings):
        # The tempo first, so that note values among the settings have it.
        if bpm is not None:
            self.bpm = bpm
        for name, value in settings.items():
            if name not in self._names:
                raise TypeError(f"{type(self).__name__}() has no setting {name!r}; "
                                f"{_did_you_mean(name, self._names)}its settings are "
                                f"{', '.join(self._names)}")
            setattr(self, name, value)

    # A misspelt setting is an error, not a new attribute that does nothing (d.delay = 350
    # would leave the delay as it was). Subclasses made outside this module keep Python's
    # usual freedom.
    @property
    def bpm(self):
        """The tempo, in beats per minute, that lets time settings take note values ("1/8." is
        a dotted eighth); None (the default) takes none."""
        return self.__dict__.get("_bpm")

    @bpm.setter
    def bpm(self, value):
        if value is not None and (isinstance(value, bool) or not isinstance(value, _numbers.Real)
                                  or not 0 < float(value) <= 1000):
            raise ValueError(f"bpm must be a tempo above 0, up to 1000, or None; not {value!r}")
        self.__dict__["_bpm"] = None if value is None else float(value)
        # Note values follow the tempo.
        for name, text in list(self.__dict__.get("_notes", {}).items()):
            setattr(self, name, text)
        _mark_random(self)

    def __setattr__(self, name, value):
        if (type(self).__module__ == __name__ and not name.startswith("_")
                and name not in self._names and not hasattr(type(self), name)):
            raise AttributeError(f"{type(self).__name__} has no setting {name!r}; "
                                 f"{_did_you_mean(name, self._names)}its settings are "
                                 f"{', '.join(self._names)}")
        super().__setattr__(name, value)

    def __getattr__(self, name):  # only for names found nowhere else
        if name.startswith("_"):
            raise AttributeError(name)
        raise AttributeError(f"{type(self).__name__} has no setting or attribute {name!r}; "
                             f"{_did_you_mean(name, self._names)}its settings are "
                             f"{', '.join(self._names)}")

    def random_settings(self) -> dict:
        """The settings that are distributions, by name (empty for a plain effect)."""
        return dict(self.__dict__.get("_random", {}))

    def draw(self, rng):
        """A plain effect of this type: each distribution drawn from `rng` (a numpy Generator)
        in the order of the settings, the other settings as they are here."""
        return type(self)(**dict(zip(self._names, self._draw_values(rng))))

    # The values of every setting, in order, each distribution drawn from rng: numbers as the
    # effect would hold them (a float32 written as its shortest decimal), so that they read,
    # record and set again to the same value. `plan` (from _draw_plan) saves reading the fixed
    # settings again for every item.
    def _draw_values(self, rng, plan=None) -> list:
        fixed, to_draw = plan or self._draw_plan()
        values = list(fixed)
        for index, setting, distribution in to_draw:
            value = distribution.draw(rng, setting)
            values[index] = float(str(_numpy.float32(value))) if setting["kind"] == "number" \
                else value
        return values

    def _draw_plan(self) -> tuple:
        """(every setting's value, with None for those to draw; (index, setting, distribution)
        for each of those)."""
        random = self.__dict__.get("_random", {})
        fixed = [None if name in random else getattr(self, name) for name in self._names]
        to_draw = [(i, s, random[s["python_name"]]) for i, s in enumerate(self._settings)
                   if s["python_name"] in random]
        return fixed, to_draw

    def settings(self) -> dict:
        """The current settings, by name."""
        return {name: getattr(self, name) for name in self._names}

    def __repr__(self):
        values = ", ".join(f"{name}={value!r}" for name, value in self.settings().items())
        return f"{type(self).__name__}({values})"

    def __eq__(self, other):
        if type(self) is not type(other):
            return False
        mine, theirs = self.settings(), other.settings()
        # A setting given one value per frame holds an array, which compares element-wise.
        return all(_numpy.array_equal(mine[name], theirs[name])
                   if isinstance(mine[name], _numpy.ndarray) else mine[name] == theirs[name]
                   for name in mine)

    __hash__ = None

    # Settings travel; the processing state starts fresh. The class travels by reference, so a
    # subclass defined in a module pickles too.
    def __reduce__(self):
        if self.bpm is None:
            return (_restore, (type(self), self.settings()))
        return (_restore, (type(self), self.settings(), self.bpm))


def _did_you_mean(typed: str, known) -> str:
    """"did you mean 'delay_ms'? " for the closest known name (a name the typed one begins, such
    as delay for delay_ms, first), or ""."""
    starts = [k for k in known if k.startswith(typed + "_")]
    close = starts or _difflib.get_close_matches(typed, known, n=1, cutoff=0.6)
    return f"did you mean {close[0]!r}? " if close else ""


def _restore(cls, settings, bpm=None):
    if isinstance(cls, str):  # pickles made before classes travelled by reference
        cls = globals()[cls]
    if bpm is None:
        return cls(**settings)
    # The tempo before the settings, which may hold note values.
    effect = cls()
    effect.bpm = bpm
    for name, value in settings.items():
        setattr(effect, name, value)
    return effect


class Envelope:
    """A setting that moves over a call: (time in seconds, value) points, linear between them,
    the first value before the first point and the last held after the last; two points at one
    time make a step. The effect's arithmetic is untouched: each block is cut at the points and
    every 32 frames along a ramp, and the value at each piece's first frame is set there, so the
    samples equal a render made by hand in those pieces (and orvane-fx's KEY=V@T,... envelopes).

        >>> Delay(feedback=Envelope([(0, 0.2), (2, 0.8)]))

    A numpy array of one value per frame moves a setting too, set every 32 frames."""

    def __init__(self, points):
        self.points = [(float(t), float(v)) for t, v in points]
        if not self.points:
            raise ValueError("an Envelope needs at least one (time, value) point")
        times = [t for t, _ in self.points]
        if any(not t >= 0 for t in times) or times != sorted(times):
            raise ValueError("an Envelope's times are seconds, 0 or more, in order")

    def __repr__(self):
        return f"Envelope({self.points!r})"

    def __eq__(self, other):
        return isinstance(other, Envelope) and self.points == other.points

    __hash__ = None


class PerItem:
    """One value of a setting per item of a batch: item k of a (batch, channels, frames) call
    is processed with values[k], every other setting as the effect holds it, as if through its
    own plain effect (items start fresh either way, so the samples are those of one call per
    item). Each value is anything the setting takes alone (a number, a note value with bpm=,
    an Envelope), checked when given.

        >>> Delay(feedback=PerItem(numpy.linspace(0.1, 0.6, 64)))(batch, 48000)

    A bare 1-D array already means one value per frame, so values per item are wrapped: the
    two can never be mistaken for each other when a batch has as many items as frames."""

    def __init__(self, values):
        if isinstance(values, (str, bytes, Envelope, _augment.Distribution)):
            raise TypeError(f"PerItem takes a sequence of values, one per item, not {values!r}")
        self.values = [v.item() if isinstance(v, _numpy.generic) else v for v in values]
        if not self.values:
            raise ValueError("PerItem needs at least one value")

    def __len__(self):
        return len(self.values)

    def __repr__(self):
        return f"PerItem({self.values!r})"

    def __eq__(self, other):
        return isinstance(other, PerItem) and all(
            _numpy.array_equal(a, b) if isinstance(a, _numpy.ndarray) else a == b
            for a, b in zip(self.values, other.values)) and len(self) == len(other)

    __hash__ = None


def _plain_copy(effect, overrides: dict):
    """A new effect of the same class and tempo holding the same settings, but those named in
    `overrides`, set from their values there (its processing state starts fresh)."""
    copy = type(effect)()
    copy.bpm = effect.bpm
    for name in effect._names:
        setattr(copy, name, overrides[name] if name in overrides else getattr(effect, name))
    return copy


def _process_per_item(effects, audio, sample_rate, reset, tail_s, out):
    """A chain holding PerItem settings, item by item (called by the library's process)."""
    array, was_tensor = _core.as_array(audio, "audio")
    counts = {len(v) for e in effects for v in e.__dict__.get("_per_item", {}).values()}
    if array.ndim != 3:
        raise ValueError(f"PerItem values are for a batch of (batch, channels, frames); this "
                         f"audio has {array.ndim} dimensions")
    if counts != {array.shape[0]}:
        raise ValueError(f"PerItem values for {' and '.join(map(str, sorted(counts)))} items; "
                         f"the batch has {array.shape[0]}")
    if not reset and array.shape[0] > 1:
        raise ValueError("reset=False continues one stream; a batch's items always start "
                         "fresh, so process a batch with reset=True")
    items = []
    for k in range(array.shape[0]):
        chain = [_plain_copy(e, {n: v.values[k] for n, v in e.__dict__.get("_per_item", {}).items()})
                 for e in effects]
        items.append(_core.process_chain(chain, array[k], sample_rate, True, tail_s, None))
    frames = max(item.shape[-1] for item in items)
    result = _numpy.zeros((len(items), array.shape[1], frames), _numpy.float32)
    for k, item in enumerate(items):  # an automatic tail pads each item to the longest
        result[k, :, :item.shape[-1]] = item
    if out is not None:
        target, _ = _core.as_array(out, "out")
        if target.shape != result.shape or target.dtype != _numpy.float32:
            raise ValueError(f"out must be float32 of shape {result.shape}")
        target[...] = result
        return out
    return _core.as_tensor(result) if was_tensor else result


def _note_value(effect, setting: dict, text: str):
    """A note value ("1/8.") of a time setting as a number in its unit, at the effect's tempo;
    None while the effect has no tempo."""
    if setting["unit"] not in ("ms", "s"):
        raise TypeError(f"{setting['python_name']} takes a number, not str {text!r}")
    # Checked at any tempo, so that a misspelt note is refused at once, tempo or not.
    milliseconds = _core.note_value_ms(text, 120.0 if effect.bpm is None else effect.bpm)
    if milliseconds < 0:
        raise ValueError(f"{setting['python_name']} = {text!r} is not a note value; give 1/4, "
                         "1/8, 1/16 (any N/D up to 1/64), with a dot for dotted (1/8.) or t "
                         "for a triplet (1/8t)")
    if effect.bpm is None:
        return None  # held until the effect (or its chain) has a tempo
    value = milliseconds * 0.001 if setting["unit"] == "s" else milliseconds
    # A whole-number setting takes the nearest, halves away from zero as the library and
    # orvane-fx round (Python's round() would take 1/16 at 240 BPM, 62.5 ms, to 62, not 63).
    if setting["kind"] == "integer":
        whole = _math.floor(value)
        return float(whole + 1 if value - whole >= 0.5 else whole)
    return value


def _setting_property(index: int, setting: dict, stage_index=None) -> property:
    kind = setting["kind"]
    convert = {"toggle": bool, "integer": int, "number": float}[kind]
    name = setting["python_name"]

    def get(self):
        random = self.__dict__.get("_random")
        if random and name in random:
            return random[name]
        moving = self.__dict__.get("_moving")
        if moving and name in moving:
            return moving[name]
        per_item = self.__dict__.get("_per_item")
        if per_item and name in per_item:
            return per_item[name]
        notes = self.__dict__.get("_notes")
        if notes and name in notes and self.bpm is None:
            return notes[name]  # a note value still waiting for a tempo
        if stage_index is not None:
            return self._get_stage(stage_index)
        return convert(self._get(index))

    def set(self, value):
        # A note value is kept as written, so that a new tempo moves the setting with it.
        notes = self.__dict__.setdefault("_notes", {})
        if notes.pop(name, None) is not None:
            _mark_random(self)
        per_item = self.__dict__.setdefault("_per_item", {})
        if isinstance(value, PerItem):
            scratch = _plain_copy(self, {})
            for k, item in enumerate(value.values):
                try:
                    setattr(scratch, name, item)
                except (TypeError, ValueError) as error:
                    raise type(error)(f"PerItem value {k} of {type(self).__name__}.{name}: "
                                      f"{error}") from None
            per_item[name] = value
            self._set_per_item(True)
            return
        if per_item.pop(name, None) is not None:
            self._set_per_item(bool(per_item))
        random = self.__dict__.setdefault("_random", {})
        if isinstance(value, _augment.Distribution):
            why = value.problem(setting, lambda v: _draw_refusal(self._type, index, setting, v))
            if why:
                raise ValueError(f"{type(self).__name__}.{name} = {value!r}: {why}")
            random[name] = value
            _mark_random(self)
            return
        moving = self.__dict__.setdefault("_moving", {})
        if isinstance(value, Envelope) or (isinstance(value, _numpy.ndarray) and value.ndim == 1):
            if stage_index is not None:
                raise ValueError(f"{type(self).__name__}.{name}: mix and level take one value; "
                                 "an effect's own settings take envelopes")
            if isinstance(value, Envelope):
                self._set_moving(index, value.points, False)
            else:
                if value.dtype.kind not in "fiu" or value.size == 0:
                    raise TypeError(f"{name} takes one number per frame in a 1-D array of "
                                    f"numbers, not {value.dtype} of {value.size}")
                self._set_moving(index, [(float(f), float(v)) for f, v in
                                         zip(range(0, value.size, _RAMP_STEP),
                                             value[::_RAMP_STEP])], True)
            moving[name] = value
            random.pop(name, None)
            _mark_random(self)
            return
        if isinstance(value, str):
            text, value = value, _note_value(self, setting, value)
            notes[name] = text
            if value is None:
                _mark_random(self)
                return
        is_bool = isinstance(value, (bool, _numpy.bool_))
        if kind == "toggle":
            if not is_bool:
                raise TypeError(f"{setting['python_name']} takes True or False, not "
                                f"{type(value).__name__} {value!r}")
            number = 1.0 if value else 0.0
        else:
            if is_bool or not isinstance(value, _numbers.Real):
                raise TypeError(f"{setting['python_name']} takes a number, not "
                                f"{type(value).__name__} {value!r}")
            number = float(value)
        if stage_index is not None:
            self._set_stage(stage_index, number)
        else:
            self._set(index, number)
        moving.pop(name, None)
        if random.pop(name, None) is not None:
            _mark_random(self)

    return property(get, set, doc=_describe(setting))


# Draws keep to the setting's published range, stricter than a single value (which the library
# takes with a warning where it does not clamp): a data set should not be augmented with
# settings the effect itself warns of.
def _draw_refusal(type_name: str, index: int, setting: dict, value: float) -> str:
    why = "" if setting["stage"] else _core.refusal(type_name, index, value)
    if why or setting["minimum"] <= value <= setting["maximum"]:
        return why
    unit = f" {setting['unit']}" if setting["unit"] else ""
    return (f"outside the range {_number(setting['minimum'])} to "
            f"{_number(setting['maximum'])}{unit}")


# An effect with settings still to draw cannot process; the library's side says why when asked.
def _mark_random(effect):
    random = effect.__dict__.get("_random", {})
    why = ""
    if random:
        drawn = ", ".join(f"{n} = {d!r}" for n, d in random.items())
        why = (f"{type(effect).__name__} has settings still to be drawn ({drawn}): put it in "
               f"orvane_fx.Augment, or take a plain effect with draw(rng)")
    notes = effect.__dict__.get("_notes", {})
    if not why and notes and effect.bpm is None:
        name, text = next(iter(notes.items()))
        why = (f"{type(effect).__name__}.{name} = {text!r}: a note value needs a tempo; give "
               f"the effect or its Chain bpm= (bpm=120)")
    effect._set_unprocessable(why)


def _describe(setting: dict) -> str:
    unit = f" {setting['unit']}" if setting["unit"] else ""
    if setting["kind"] == "toggle":
        span = f"True or False, default {bool(setting['default'])}"
    else:
        span = (f"{_number(setting['minimum'])} to {_number(setting['maximum'])}{unit}, "
                f"default {_number(setting['default'])}{unit}")
    return f"{setting['name']}: {setting['description']} ({span})"


def _number(value: float) -> str:
    return f"{value:.7g}"


def _make_effect(info: dict) -> type:
    settings = _core.settings_of(info["type"])
    names = [s["python_name"] for s in settings]
    lines = [f"{info['name']}: {info['description']}", "",
             f"Takes audio of {_channels(info)}.", "", "Settings (keyword arguments and properties):"]
    lines += [f"    {s['python_name']}: {_describe(s)}" for s in settings]
    attributes = {"_type": info["type"], "_settings": settings, "_names": names,
                  "__doc__": "\n".join(lines), "__module__": __name__}
    stages = [s for s in settings if s["stage"]]
    for index, setting in enumerate(settings):
        stage_index = stages.index(setting) if setting["stage"] else None
        attributes[setting["python_name"]] = _setting_property(index, setting, stage_index)
    return type(info["type"], (Effect,), attributes)


def _channels(info: dict) -> str:
    low, high = info["minimum_channels"], info["maximum_channels"]
    return f"exactly {low} channels" if low == high else f"{low} to {high} channels"


def effect_types() -> list:
    """The effects, in the library's order, with their names, descriptions and channel counts."""
    return _core.effect_types()


for _info in _core.effect_types():
    globals()[_info["type"]] = _make_effect(_info)
    __all__.append(_info["type"])
del _info


def _gain_class() -> type:
    """Gain(db): a gain in decibels for a chain, as orvane-fx's --gain. Its input passes
    unchanged through a switched-off Delay (a switched-off effect gives its input sample for
    sample) and is scaled by that effect's output level, so a Gain is exactly level_db= on the
    effect before it, and runs wherever an effect runs: chains, render_file, batches."""
    base = _make_effect(next(i for i in _core.effect_types() if i["type"] == "Delay"))
    settings = base._settings
    enabled = next(i for i, s in enumerate(settings) if s["python_name"] == "enabled")
    level = next(i for i, s in enumerate(settings) if s["python_name"] == "level_db")
    stage = [s for s in settings if s["stage"]].index(settings[level])
    db = dict(settings[level], python_name="db")

    def __init__(self, db=0.0):
        self._set(enabled, 0.0)
        self.db = db

    return type("Gain", (Effect,), {
        "_type": "Delay", "_settings": [db], "_names": ["db"], "__module__": __name__,
        "_fixed_words": ["enabled=false"],
        "__doc__": _gain_class.__doc__ + "\n\n    db: " + _describe(db),
        "__init__": __init__, "db": _setting_property(level, db, stage)})


Gain = _gain_class()
__all__.append("Gain")


def _effect_class(type_name: str) -> type:
    cls = globals().get(type_name)
    if not (isinstance(cls, type) and issubclass(cls, Effect)):
        raise ValueError(f"unknown effect type {type_name!r}")
    return cls


class Chain(list):
    """Effects run one after the other, as a list: index, append, insert, remove, iterate.

    process() and calling the chain take the same arguments as an effect's.
    """

    def __init__(self, effects=(), *, bpm=None):
        super().__init__(effects)
        for effect in self:
            _check_effect(effect)
        if bpm is not None:
            self.bpm = bpm

    @property
    def bpm(self):
        """The tempo given to the chain (None if none): setting it gives every effect in the
        chain that tempo, so their note values ("1/8.") follow it."""
        return self.__dict__.get("_bpm")

    @bpm.setter
    def bpm(self, value):
        for effect in self:
            effect.bpm = value
        self.__dict__["_bpm"] = value

    def append(self, effect):
        super().append(_check_effect(effect))

    def insert(self, index, effect):
        super().insert(index, _check_effect(effect))

    def extend(self, effects):
        super().extend([_check_effect(effect) for effect in effects])

    def __iadd__(self, effects):
        self.extend(effects)
        return self

    def __setitem__(self, index, value):
        if isinstance(index, slice):
            value = [_check_effect(effect) for effect in value]
        else:
            _check_effect(value)
        super().__setitem__(index, value)

    def process(self, audio, sample_rate, *, reset=True, tail_s=0.0, out=None):
        return _core.process_chain(list(self), audio, sample_rate, reset, tail_s, out)

    __call__ = process
    process.__doc__ = _core.EffectBase.process.__doc__

    def reset(self):
        """Clears every effect's state."""
        for effect in self:
            effect.reset()

    def __repr__(self):
        return f"Chain({list.__repr__(self)})"

    def __reduce__(self):
        return (Chain, (list(self),))

    def copy(self):
        return Chain(self)


def _check_effect(effect):
    if not isinstance(effect, Effect):
        raise TypeError(f"a Chain holds effects, not {type(effect).__name__} {effect!r}")
    return effect


def render_file(input_path, output_path, chain, *, block=512, tail_s=0.0, format=None):
    """Streams a sound file through an effect or a chain into another file.

    Uses the renderer's own file code: any file libsndfile reads comes in, the output's
    extension picks its type, and the output appears only once it is complete (a failed render
    leaves an existing file as it was). The output keeps the input's sample format (16-bit in,
    16-bit out) where its type can hold it, as orvane-fx does, unless format ("pcm16",
    "pcm24", "pcm32" or "float") says otherwise. Memory does not grow with the file's length.
    """
    effects = list(chain) if isinstance(chain, (list, tuple)) else [chain]
    for effect in effects:
        _check_effect(effect)
        if effect.__dict__.get("_per_item"):
            raise ValueError(f"{effect!r}: a file is one item; PerItem values are for a batch")
    _core.render_file(_os.fspath(input_path), _os.fspath(output_path), effects, block, tail_s,
                      "" if format is None else format)


def read(path):
    """A sound file as (audio, sample_rate): float32 audio of (channels, frames), whatever the
    file's sample format, through the renderer's reader (any file libsndfile reads). A file
    that cannot be read, or is damaged part way, raises ValueError saying what is wrong."""
    return _core.read(_os.fspath(path))


def write(path, audio, sample_rate, *, format=None):
    """Writes (frames,) or (channels, frames) audio as the renderer writes: the extension picks
    the container, format ("pcm16", "pcm24", "pcm32" or "float"; default 32-bit float where
    the container holds it) the samples, and the file appears only once it is complete (a
    failure leaves an existing file as it was)."""
    _core.write(_os.fspath(path), audio, sample_rate, "" if format is None else format)


class SoundFile:
    """A sound file read in blocks (orvane_fx.open): channels, sample_rate, frames (None where
    the file does not say), read(frames) -> float32 (channels, frames), fewer at the end and
    none after it; iterating gives blocks of 65536 frames. A context manager."""

    def __init__(self, path):
        self._stream = _core.SoundFileStream(_os.fspath(path))
        self.channels = self._stream.channels
        self.sample_rate = self._stream.sample_rate
        self.frames = self._stream.frames

    def read(self, frames: int = 65536):
        return self._stream.read(frames)

    def blocks(self, frames: int = 65536):
        while True:
            block = self._stream.read(frames)
            if block.shape[1] == 0:
                return
            yield block

    __iter__ = blocks

    def close(self):
        self._stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


def open(path) -> SoundFile:  # noqa: A001 (orvane_fx.open, as a sound file library names it)
    """Opens a sound file for reading in blocks, through the renderer's reader."""
    return SoundFile(path)
