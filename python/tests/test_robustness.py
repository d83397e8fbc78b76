"""Whatever a program does with the module, the interpreter survives and the error says what
was wrong: odd chains, threads sharing an effect, objects made by hand, bad arguments, Ctrl-C."""

import os
import pickle
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy
import pytest
from hypothesis import given, settings, strategies as st

import orvane_fx


class MyDelay(orvane_fx.Delay):
    """A subclass in a module, as users write them."""


# --- chains --------------------------------------------------------------------------------------

@pytest.mark.parametrize("channels", [1, 2, 3, 100])
def test_an_empty_chain_copies_audio_of_any_channel_count(channels):
    audio = numpy.random.default_rng(1).standard_normal((channels, 64)).astype(numpy.float32)
    assert numpy.array_equal(orvane_fx.Chain([])(audio, 48000), audio)


def test_anything_but_an_effect_in_a_chain_is_a_type_error_naming_it():
    chain = orvane_fx.Chain([orvane_fx.Delay()])
    with pytest.raises(TypeError, match="not NoneType"):
        chain += [None]
    list.append(chain, None)  # past the Chain's own checks
    with pytest.raises(TypeError, match="item 1 of the chain is None"):
        chain(numpy.zeros(10, numpy.float32), 48000)
    with pytest.raises(TypeError, match="item 0 of the chain is None"):
        orvane_fx._core.process_chain([None], numpy.zeros(10, numpy.float32), 48000, True, 0.0,
                                      None)
    with pytest.raises(TypeError, match="item 0 of the chain is None"):
        orvane_fx._core.render_file("x.wav", "y.wav", [None], 512, 0.0, "")
    with pytest.raises(TypeError):
        orvane_fx.render_file("x.wav", "y.wav", [orvane_fx.Delay(), 3])


# --- threads -------------------------------------------------------------------------------------

@pytest.mark.parametrize("knob", ["set", "reset", "get"])
def test_a_control_thread_may_touch_an_effect_while_another_processes(knob):
    effect = orvane_fx.Chorus()
    stop = threading.Event()

    def turn():
        while not stop.is_set():
            if knob == "set":
                effect.sweep_width_s = 0.01
            elif knob == "reset":
                effect.reset()
            else:
                effect.settings()

    thread = threading.Thread(target=turn)
    thread.start()
    try:
        for _ in range(2000):
            effect(numpy.zeros((1, 4), numpy.float32), 48000)
            effect(numpy.zeros((1, 4), numpy.float32), 48000, reset=False)
    finally:
        stop.set()
        thread.join()
    assert effect.sweep_width_s in (0.01, 0.025)


def test_a_setting_changed_between_calls_takes_effect_at_the_next_block():
    effect = orvane_fx.Delay(delay_ms=1, dry_mix=0.0, wet_mix=1.0, feedback=0.0)
    impulse = numpy.zeros(200, numpy.float32)
    impulse[0] = 1.0
    first = effect(impulse, 48000)
    assert numpy.flatnonzero(first).tolist() == [48]
    effect.delay_ms = 2
    assert numpy.flatnonzero(effect(impulse, 48000)).tolist() == [96]


def test_two_calls_processing_one_effect_at_once_are_refused():
    effect = orvane_fx.Delay()
    long_audio = numpy.zeros((2, 48000 * 120), numpy.float32)
    errors = []

    def other():
        time.sleep(0.01)
        try:
            effect(numpy.zeros(16, numpy.float32), 48000)
        except RuntimeError as error:
            errors.append(str(error))

    thread = threading.Thread(target=other)
    thread.start()
    effect(long_audio, 48000)
    thread.join()
    assert not errors or "processing in another thread" in errors[0]


# --- objects made other ways ---------------------------------------------------------------------

def test_subclasses_pickle_and_objects_made_by_new_work():
    restored = pickle.loads(pickle.dumps(MyDelay(delay_ms=3)))
    assert type(restored) is MyDelay and restored.delay_ms == 3
    by_hand = orvane_fx.Delay.__new__(orvane_fx.Delay)
    assert by_hand(numpy.ones(4, numpy.float32), 48000).tolist() == pytest.approx([0.7] * 4)


# --- arguments -----------------------------------------------------------------------------------

def test_arguments_of_the_wrong_kind_are_type_errors():
    delay = orvane_fx.Delay()
    with pytest.raises(TypeError, match="feedback takes a number, not str"):
        delay.feedback = "0.5"
    with pytest.raises(TypeError, match="delay_ms takes a number, not bool"):
        delay.delay_ms = True
    with pytest.raises(TypeError, match="enabled takes True or False, not int 1"):
        delay.enabled = 1
    delay.enabled = numpy.bool_(False)
    assert delay.enabled is False
    delay.feedback = numpy.float32(0.25)
    assert delay.feedback == 0.25
    with pytest.raises(TypeError, match="sample_rate must be a number, not bool"):
        delay(numpy.zeros(4, numpy.float32), True)
    with pytest.raises(TypeError, match="sample_rate must be a number, not str"):
        delay(numpy.zeros(4, numpy.float32), "48000")
    with pytest.raises(TypeError, match="tail_s must be a number"):
        delay(numpy.zeros(4, numpy.float32), 48000, tail_s="1")


def test_paths_and_blocks_the_renderer_would_misread_are_refused(tmp_path):
    source = tmp_path / "in.wav"
    with pytest.raises(ValueError, match="input_path has an embedded null character"):
        orvane_fx.render_file(str(source) + "\0x", tmp_path / "out.wav", orvane_fx.Delay())
    with pytest.raises(ValueError, match="block must be a whole number of frames from 1 to 1048576"):
        orvane_fx.render_file(source, tmp_path / "out.wav", orvane_fx.Delay(), block=2**28)
    assert not (tmp_path / "out.wav").exists()


# --- Ctrl-C --------------------------------------------------------------------------------------

@pytest.mark.parametrize("call", ["process", "render_file"])
def test_ctrl_c_stops_a_long_call_promptly(tmp_path, call, fx):
    source = tmp_path / "long.wav"
    # Seconds of work for a chain of twenty swept effects, interrupted a fraction in.
    fx("render", "-q", "-s", "noise", "--seconds", "200", "-o", source, "Delay", "enabled=false")
    script = textwrap.dedent(f"""
        import numpy, sys, time, orvane_fx
        chain = orvane_fx.Chain([cls() for cls in [orvane_fx.Chorus, orvane_fx.Flanger] * 10])
        audio = numpy.zeros((2, 48000 * 200), numpy.float32)
        print("ready", flush=True)
        start = time.monotonic()
        try:
            if {call!r} == "process":
                chain(audio, 48000)
            else:
                orvane_fx.render_file({str(source)!r}, {str(tmp_path / 'out.wav')!r}, chain)
        except KeyboardInterrupt:
            print("interrupted after", round(time.monotonic() - start, 2), flush=True)
            sys.exit(3)
    """)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True,
                             env=dict(os.environ))
    assert child.stdout.readline().strip() == "ready"
    time.sleep(0.3)
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=60)
    assert child.returncode == 3, out
    assert time.monotonic() - sent < 2.0, "Ctrl-C waited for the whole call"
    assert not (tmp_path / "out.wav").exists(), "an interrupted render leaves nothing"


# --- whatever a program sends ---------------------------------------------------------------------

_EFFECTS = [getattr(orvane_fx, info["type"]) for info in orvane_fx.effect_types()]
_values = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.integers(-2**40, 2**40),
                    st.booleans(), st.none(), st.text(max_size=3))


@st.composite
def _effects(draw):
    cls = draw(st.sampled_from(_EFFECTS))
    effect = cls()
    for name in draw(st.lists(st.sampled_from(cls._names), max_size=4)):
        try:
            setattr(effect, name, draw(_values))
        except (TypeError, ValueError):
            pass  # refused, with the reason: the effect keeps what it had
    return effect


MINIMUM_CHANNELS = {t["type"]: t["minimum_channels"] for t in orvane_fx.effect_types()}


@settings(max_examples=300, deadline=None)
@given(chain=st.lists(_effects(), max_size=3),
       shape=st.lists(st.integers(0, 5), min_size=1, max_size=3),
       dtype=st.sampled_from([numpy.float32, numpy.float64, numpy.int16, numpy.bool_]),
       strided=st.booleans(), rate=st.one_of(st.integers(-5, 400000), st.floats()),
       reset=st.booleans(), tail=st.one_of(st.floats(-1, 0.01), st.just(float("nan"))))
def test_any_chain_shape_dtype_layout_and_rate_ends_in_a_result_or_a_clear_error(
        chain, shape, dtype, strided, rate, reset, tail):
    audio = numpy.ones([n * (2 if strided and i == len(shape) - 1 else 1)
                        for i, n in enumerate(shape)], dtype=dtype)
    if strided:
        audio = audio[..., ::2]
    try:
        out = orvane_fx.Chain(chain)(audio, rate, reset=reset, tail_s=tail)
    except (TypeError, ValueError):
        return
    # A mono input to a chain that needs two channels (PingPongDelay) comes out with two.
    needs = max([MINIMUM_CHANNELS[e.type] for e in chain], default=1)
    mono = audio.ndim == 1 or audio.shape[-2] == 1
    channels = audio.shape[:-2] + (needs,) if mono and needs > 1 else audio.shape[:-1]
    assert out.dtype == numpy.float32 and out.shape[:-1] == channels
