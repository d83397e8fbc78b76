"""orvane_fx on numpy arrays: closed forms, the renderer's samples, state, batches, in-place
processing, pickling, threads and errors."""

import copy
import pickle
import sys
import threading
import warnings

import numpy
import pytest

import orvane_fx
from conftest import read_wav, reuses_dropped_memory

ALL = [orvane_fx.Delay, orvane_fx.PingPongDelay, orvane_fx.Chorus, orvane_fx.Flanger,
       orvane_fx.Vibrato]


def impulse(channels, frames, channel=0):
    audio = numpy.zeros((channels, frames), numpy.float32)
    audio[channel, 0] = 1.0
    return audio


def noise(shape, seed=1):
    return numpy.random.default_rng(seed).uniform(-0.5, 0.5, shape).astype(numpy.float32)


def only(signal, expected):
    """Every sample is 0 except at the given frames, which hold the given values."""
    found = {int(i): float(signal[i]) for i in numpy.nonzero(signal)[0]}
    assert found == {k: float(numpy.float32(v)) for k, v in expected.items()}


# --- closed forms ----------------------------------------------------------------------------

def test_delay_echoes_decay_by_the_feedback_level():
    out = orvane_fx.Delay()(impulse(2, 48000), 48000, tail_s=0.5)
    assert out.shape == (2, 72000) and out.dtype == numpy.float32
    echoes, level = {0: 0.7}, numpy.float32(1.0)
    for frame in range(9600, 72000, 9600):
        echoes[frame] = numpy.float32(0.0) * numpy.float32(0.7) + level * numpy.float32(0.3)
        level = numpy.float32(0.0) + numpy.float32(0.2) * level
    only(out[0], echoes)
    only(out[1], {})
    assert out[0, 9600] == numpy.float32(0.3) and out[0, 19200] == pytest.approx(0.06, rel=1e-6)


def test_ping_pong_left_and_right():
    r, w, g = numpy.float32(0.7), numpy.float32(0.3), numpy.float32(0.2)
    out = orvane_fx.PingPongDelay()(impulse(2, 30000, channel=0), 48000)
    assert out[0, 0] == r and out[0, 9600] == w and out[1, 9600] == numpy.float32(w * g)
    assert out[0, 19200] == pytest.approx(float(w * g * g), rel=1e-6)
    out = orvane_fx.PingPongDelay()(impulse(2, 30000, channel=1), 48000)
    assert out[1, 0] == r and out[1, 9600] == w and out[0, 9600] == 0.0
    assert out[0, 19200] == pytest.approx(float(w * g), rel=1e-6)


def test_flanger_at_zero_sweep_is_a_two_sample_comb():
    out = orvane_fx.Flanger(sweep_width_s=0.0)(impulse(1, 10)[0], 48000)
    expected, ring = {0: 1.0}, numpy.float32(1.0)
    for n in range(2, 10, 2):
        expected[n] = numpy.float32(0.0) + numpy.float32(0.8) * ring
        ring = numpy.float32(0.0) + numpy.float32(0.6) * ring
    only(out, expected)


# --- the renderer's samples ------------------------------------------------------------------

@pytest.mark.parametrize("effect, arguments", [
    (orvane_fx.Delay(delay_ms=350, feedback=0.4), "Delay delay=350 feedback=0.4"),
    (orvane_fx.PingPongDelay(delay_ms=7, wet_mix=0.45), "PingPongDelay delay=7 wet-mix=0.45"),
    (orvane_fx.Chorus(frequency_hz=3), "Chorus frequency=3"),
    (orvane_fx.Flanger(sweep_width_s=0.002), "Flanger sweep-width=0.002"),
    (orvane_fx.Vibrato(enabled=False), "Vibrato enabled=false"),
    (orvane_fx.Chain([orvane_fx.Delay(delay_ms=20), orvane_fx.Chorus()]),
     "Delay delay=20 Chorus"),
])
def test_same_samples_as_the_renderer(fx, tmp_path, effect, arguments):
    fx("render", "-q", "-s", "noise", "--seconds", "0.5", "-o", tmp_path / "in.wav", "Delay",
       "enabled=false")
    fx("render", "-q", "-i", tmp_path / "in.wav", "-o", tmp_path / "fx.wav", "--tail", "0.25",
       *arguments.split())
    expected = read_wav(tmp_path / "fx.wav")
    audio = read_wav(tmp_path / "in.wav")
    assert numpy.array_equal(effect(audio, 48000, tail_s=0.25), expected)
    orvane_fx.render_file(tmp_path / "in.wav", tmp_path / "py.wav", effect, block=333, tail_s=0.25)
    assert numpy.array_equal(read_wav(tmp_path / "py.wav"), expected)


# --- state, batches, dtypes and memory --------------------------------------------------------

@pytest.mark.parametrize("cls", ALL)
def test_chunks_with_reset_false_equal_the_whole(cls):
    audio = noise((2, 20000))
    whole = cls()(audio, 44100)
    effect = cls()
    parts = [effect(audio[:, start:start + size], 44100, reset=(start == 0))
             for start, size in [(0, 1), (1, 64), (65, 9935), (10000, 0), (10000, 10000)]]
    assert numpy.array_equal(numpy.concatenate(parts, axis=1), whole)
    # reset=True (the default) starts again from silence.
    assert numpy.array_equal(effect(audio, 44100), whole)


@pytest.mark.parametrize("cls", ALL)
def test_a_batch_equals_its_items_one_by_one(cls):
    # Items longer than a delay line (48000 samples), so that what one item leaves in the
    # lines would reach the next if its node were not as new.
    batch = noise((3, 2, 50000), seed=4)
    effect = cls()
    out = effect(batch, 48000, tail_s=0.01)
    assert out.shape == (3, 2, 50480)
    for item in range(3):
        assert numpy.array_equal(out[item], cls()(batch[item], 48000, tail_s=0.01))
    with pytest.raises(ValueError, match="batch"):
        effect(batch, 48000, reset=False)


def test_a_mono_input_to_ping_pong_is_copied_to_both_channels_with_a_warning(tmp_path):
    mono = noise(3000)
    stereo = orvane_fx.PingPongDelay()(numpy.stack([mono, mono]), 48000)
    for audio in (mono, mono[numpy.newaxis]):
        with pytest.warns(UserWarning, match="mono and the chain needs 2 channels"):
            assert numpy.array_equal(orvane_fx.PingPongDelay()(audio, 48000), stereo)
    with pytest.warns(UserWarning, match="mono"):
        batch = orvane_fx.PingPongDelay()(numpy.stack([mono[numpy.newaxis]] * 2), 48000)
    assert batch.shape == (2, 2, 3000) and numpy.array_equal(batch[1], stereo)
    with pytest.warns(UserWarning, match="mono"):
        ringing = orvane_fx.Chain([orvane_fx.PingPongDelay()])(mono, 48000, tail_s="auto")
    assert ringing.shape[0] == 2 and ringing.shape[1] > 3000
    # A file too, as orvane-fx renders it.
    orvane_fx.write(tmp_path / "mono.wav", mono, 48000)
    with pytest.warns(UserWarning, match="mono.wav is mono"):
        orvane_fx.render_file(tmp_path / "mono.wav", tmp_path / "out.wav", orvane_fx.PingPongDelay())
    assert numpy.array_equal(orvane_fx.read(tmp_path / "out.wav")[0], stereo)
    # Other effects keep a mono array mono, without a word.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert orvane_fx.Delay()(mono, 48000).shape == (3000,)


def test_gain_in_a_chain_is_a_level_after_the_effect_before_it(tmp_path):
    audio = noise((2, 3000))
    gain = orvane_fx.Gain(-6)
    assert repr(gain) == "Gain(db=-6.0)" and gain.settings() == {"db": -6.0}
    assert numpy.array_equal(gain(audio, 48000), audio * numpy.float32(10 ** (-6 / 20)))
    chain = orvane_fx.Chain([orvane_fx.Chorus(), orvane_fx.Gain(-4.5)])
    assert numpy.array_equal(chain(audio, 48000), orvane_fx.Chorus(level_db=-4.5)(audio, 48000))
    assert pickle.loads(pickle.dumps(chain)) == chain
    with pytest.raises(AttributeError, match="its settings are db"):
        gain.gain = 3
    with pytest.raises(ValueError, match="outside"):
        orvane_fx.Gain(40)
    with pytest.raises(TypeError, match="level_db= on an effect"):
        orvane_fx.Augment([orvane_fx.Gain(-3)])


def test_other_dtypes_are_converted_and_mono_may_be_one_dimensional():
    audio64 = noise((2, 3000)).astype(numpy.float64)
    effect = orvane_fx.Chorus()
    assert numpy.array_equal(effect(audio64, 48000), effect(audio64.astype(numpy.float32), 48000))
    # Whole numbers are not taken as they are (32767 times too loud): the message says how.
    pcm = (noise((1, 3000)) * 30000).astype(numpy.int16)
    with pytest.raises(TypeError, match=r"int16.*divide by 32768.*orvane_fx.read"):
        effect(pcm, 48000)
    with pytest.raises(TypeError, match="whole numbers"):
        orvane_fx.Augment([effect])(pcm.astype(numpy.int32), 48000, rng=1)
    with pytest.raises(TypeError, match="real numbers as floats"):
        effect(numpy.ones(10, bool), 48000)
    mono = noise(3000)
    out = orvane_fx.Vibrato()(mono, 48000)
    assert out.shape == (3000,)
    assert numpy.array_equal(out, orvane_fx.Vibrato()(mono[numpy.newaxis], 48000)[0])
    non_contiguous = noise((2, 6000))[:, ::2]
    assert numpy.array_equal(effect(non_contiguous, 48000),
                             effect(numpy.ascontiguousarray(non_contiguous), 48000))


@pytest.mark.parametrize("cls", ALL)
def test_in_place_writes_into_the_callers_array(cls):
    audio = noise((2, 4096))
    expected = cls()(audio, 48000)
    pointer = audio.__array_interface__["data"][0]
    result = cls()(audio, 48000, out=audio)
    assert result is audio
    assert audio.__array_interface__["data"][0] == pointer
    assert numpy.array_equal(audio, expected)


def test_out_may_be_another_array_of_the_output_shape():
    audio = noise((2, 1000))
    out = numpy.empty((2, 1480), numpy.float32)
    result = orvane_fx.Delay(delay_ms=5)(audio, 48000, tail_s=0.01, out=out)
    assert result is out
    assert numpy.array_equal(out, orvane_fx.Delay(delay_ms=5)(audio, 48000, tail_s=0.01))


# --- settings, pickling, chains ----------------------------------------------------------------

def test_a_dropped_results_memory_serves_the_next_call_with_nothing_left_over():
    # Large results reuse the memory of the last one dropped (no page faults each call), so
    # every element must be written again: by the effect, a bypass, or the tail's silence.
    loud, quiet = noise((4, 2, 40000)), noise((4, 2, 36000), seed=3) * 0.01
    delay = orvane_fx.Delay(delay_ms=5, feedback=0.7)
    again = reuses_dropped_memory(lambda: delay(loud, 48000, tail_s=0.05),
                                  lambda: delay(quiet, 48000, tail_s=0.05))
    assert numpy.array_equal(again, delay(quiet.copy(), 48000, tail_s=0.05))
    del again
    bypassed = orvane_fx.Chorus(enabled=False)(quiet, 48000, tail_s=0.05)
    assert numpy.array_equal(bypassed[..., :36000], quiet) and not bypassed[..., 36000:].any()
    del bypassed
    assert numpy.array_equal(orvane_fx.Chain([])(quiet, 48000), quiet)


def test_settings_are_keywords_and_properties_under_the_renderers_policy():
    delay = orvane_fx.Delay(delay_ms=350, dry_mix=0.5)
    assert delay.delay_ms == 350 and delay.dry_mix == 0.5 and delay.enabled is True
    assert repr(delay) == ("Delay(enabled=True, dry_mix=0.5, wet_mix=0.3, delay_ms=350, "
                           "feedback=0.2, mix=1.0, level_db=0.0)")
    # What the node clamps is refused, with the bounds as they were written.
    ping_pong = orvane_fx.PingPongDelay()
    with pytest.raises(ValueError, match=r"feedback = 0.99000001 is outside the bounds 0 to 0.99$"):
        ping_pong.feedback = 0.99000001
    with pytest.raises(ValueError, match=r"delay_ms = 1500 is outside the bounds 1 to 1000 ms"):
        ping_pong.delay_ms = 1500
    with pytest.raises(ValueError, match=r"delay_ms = 999.9999999999999 is not a whole number"):
        delay.delay_ms = 999.9999999999999
    with pytest.raises(ValueError, match="not a finite number"):
        orvane_fx.Chorus(sweep_width_s=float("nan"))
    # What the node stores as it is is taken, and processing warns of what it will do.
    long_echo = orvane_fx.Delay(delay_ms=1500, feedback=1.0)
    assert long_echo.delay_ms == 1500 and long_echo.feedback == 1.0
    with pytest.warns(UserWarning, match="48000-sample delay line cannot hold"):
        long_echo(numpy.zeros(8, numpy.float32), 48000)
    with pytest.warns(UserWarning, match="the echoes never decay"):
        long_echo(numpy.zeros(8, numpy.float32), 48000)
    with pytest.raises(TypeError, match="has no setting 'delay'.*delay_ms"):
        orvane_fx.Delay(delay=3)
    with pytest.raises(TypeError, match="True or False"):
        delay.enabled = 1
    assert delay.delay_ms == 350, "a refused value changes nothing"
    assert "delay_ms" in orvane_fx.Delay.__doc__ and "0 to 1000 ms" in orvane_fx.Delay.__doc__
    assert orvane_fx.Flanger.sweep_width_s.__doc__.startswith("Sweep Width")


@pytest.mark.parametrize("cls", ALL)
def test_pickle_and_deepcopy_carry_settings_but_start_fresh(cls):
    effect = cls(enabled=False)
    audio = noise((2, 2000))
    effect(audio, 48000)
    for twin in (pickle.loads(pickle.dumps(effect)), copy.deepcopy(effect)):
        assert type(twin) is cls and twin == effect and twin is not effect
        twin.enabled = True
        assert numpy.array_equal(twin(audio, 48000, reset=False), cls()(audio, 48000))
    chain = orvane_fx.Chain([orvane_fx.Delay(delay_ms=9), cls()])
    again = pickle.loads(pickle.dumps(chain))
    assert isinstance(again, orvane_fx.Chain) and list(again) == list(chain)


def test_chain_is_a_list_of_effects():
    chain = orvane_fx.Chain()
    chain.append(orvane_fx.Delay(delay_ms=3))
    chain.insert(0, orvane_fx.Vibrato())
    chain.append(orvane_fx.Flanger())
    chain.remove(chain[2])
    assert [type(e).__name__ for e in chain] == ["Vibrato", "Delay"]
    audio = noise((2, 3000))
    expected = orvane_fx.Delay(delay_ms=3)(orvane_fx.Vibrato()(audio, 48000), 48000)
    assert numpy.array_equal(chain(audio, 48000), expected)
    with pytest.raises(TypeError):
        chain.append("Delay")
    with pytest.raises(RuntimeError, match="appears twice"):
        orvane_fx.Chain([chain[0], chain[0]])(audio, 48000)


# --- threads -----------------------------------------------------------------------------------

def test_the_gil_is_released_while_samples_are_processed():
    """A second Python thread counts while a long array is processed, sleeping briefly between
    steps so that the main thread can always take the GIL back. The switch interval is set far
    above any call's length, so that the interpreter forces no switch, and a call that held the
    GIL would leave the counter no step between the two reads, in every attempt (checked with a
    builtin that holds it). One that releases it lets the counter run,
    but only if the scheduler wakes the counter while the call lasts, which a loaded machine may
    not do at once; so the call is tried a few times and one step is enough."""
    audio = noise((2, 48000 * 20))
    effect = orvane_fx.Chorus()
    started, done, steps = threading.Event(), threading.Event(), [0]

    def count():
        started.set()
        while not done.wait(0.0002):
            steps[0] += 1

    interval = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    counter = threading.Thread(target=count)
    seen = []
    try:
        counter.start()
        started.wait()
        for _ in range(5):
            before = steps[0]
            effect(audio, 48000)
            seen.append(steps[0] - before)
            if seen[-1] > 0:
                break
    finally:
        done.set()
        counter.join()
        sys.setswitchinterval(interval)
    assert seen[-1] > 0, f"the counter made no step during any of {len(seen)} calls"


# --- errors ------------------------------------------------------------------------------------

def test_bad_input_raises_clear_errors():
    delay = orvane_fx.Delay()
    with pytest.raises(ValueError, match="has 4 dimensions"):
        delay(numpy.zeros((1, 1, 2, 10), numpy.float32), 48000)
    with pytest.raises(ValueError, match="0 dimensions"):
        delay(numpy.float32(1.0), 48000)
    with pytest.raises(ValueError, match="no channels"):
        delay(numpy.zeros((0, 10), numpy.float32), 48000)
    with pytest.raises(ValueError, match="Delay takes 1 to 2 channels; the audio has 3"):
        delay(numpy.zeros((3, 10), numpy.float32), 48000)
    with pytest.raises(ValueError, match="PingPongDelay takes exactly 2 channels; the audio has 3"):
        orvane_fx.PingPongDelay()(numpy.zeros((3, 10), numpy.float32), 48000)
    with pytest.raises(ValueError, match="sample_rate"):
        delay(numpy.zeros((2, 10), numpy.float32), 0)
    with pytest.raises(ValueError, match="sample_rate"):
        delay(numpy.zeros((2, 10), numpy.float32), 44100.5)
    with pytest.raises(ValueError, match="tail_s"):
        delay(numpy.zeros((2, 10), numpy.float32), 48000, tail_s=-1)
    with pytest.raises(TypeError, match="real numbers"):
        delay(numpy.zeros((2, 10), numpy.complex64), 48000)
    audio = numpy.zeros((2, 10), numpy.float32)
    with pytest.raises(ValueError, match="C-contiguous"):
        delay(audio, 48000, out=numpy.zeros((10, 2), numpy.float32).T)
    read_only = numpy.zeros((2, 10), numpy.float32)
    read_only.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        delay(audio, 48000, out=read_only)
    with pytest.raises(TypeError, match="float32"):
        delay(audio, 48000, out=numpy.zeros((2, 10)))
    with pytest.raises(ValueError, match="shape"):
        delay(audio, 48000, tail_s=0.001, out=audio)
    big = numpy.zeros(20, numpy.float32)
    with pytest.raises(ValueError, match="overlaps"):
        delay(big[:10], 48000, out=big[5:15])


def test_render_file_reports_what_went_wrong_and_writes_nothing(tmp_path):
    with pytest.raises((ValueError, OSError), match="missing.wav"):
        orvane_fx.render_file(tmp_path / "missing.wav", tmp_path / "out.wav", orvane_fx.Delay())
    assert not (tmp_path / "out.wav").exists()


def test_a_misspelt_setting_is_an_error_with_the_closest_name():
    delay = orvane_fx.Delay()
    with pytest.raises(AttributeError, match=r"no setting 'delay'; did you mean 'delay_ms'\?"):
        delay.delay = 350
    with pytest.raises(AttributeError, match=r"did you mean 'feedback'\?.*its settings are"):
        delay.feedbak = 0.3
    with pytest.raises(AttributeError, match=r"did you mean 'delay_ms'\?"):
        delay.delay
    with pytest.raises(TypeError, match=r"did you mean 'sweep_width_s'\?"):
        orvane_fx.Chorus(sweep_width=0.01)
    assert delay.settings()["delay_ms"] == 200

    class Mine(orvane_fx.Delay):  # a user's subclass keeps Python's freedom
        pass

    mine = Mine()
    mine.label = "slapback"
    assert mine.label == "slapback"


def test_an_automatic_tail_rings_out_as_the_renderer_does(fx, tmp_path):
    fx("render", "-q", "-s", "impulse", "-o", tmp_path / "ir.wav", "Delay", "delay=350ms",
       "feedback=0.5")
    expected, _ = orvane_fx.read(tmp_path / "ir.wav")
    impulse = numpy.zeros((2, 48000), numpy.float32)
    impulse[0, 0] = 1.0
    delay = orvane_fx.Delay(delay_ms=350, feedback=0.5)
    assert numpy.array_equal(delay(impulse, 48000, tail_s="auto"), expected)
    # A batch: each item rings out as long as it needs, padded with silence to the longest.
    both = delay(numpy.stack([impulse, impulse * 0]), 48000, tail_s="auto")
    assert numpy.array_equal(both[0], expected) and not both[1].any()
    # Nothing after the input: the array keeps its length.
    assert orvane_fx.Chorus(enabled=False)(noise((2, 300)), 48000, tail_s="auto").shape == (2, 300)
    with pytest.raises(ValueError, match="out= needs a length"):
        delay(impulse, 48000, tail_s="auto", out=impulse)
    with pytest.raises(TypeError, match='"auto"'):
        delay(impulse, 48000, tail_s="long")


# --- settings that move ------------------------------------------------------------------------

def test_an_envelope_moves_a_setting_as_orvane_fx_does_and_streams_on(fx, tmp_path):
    audio = noise((2, 72000))
    delay = orvane_fx.Delay(feedback=orvane_fx.Envelope([(0, 0.2), (1.0, 0.8)]),
                            delay_ms=orvane_fx.Envelope([(0, 200), (0.75, 400), (0.75, 150)]))
    whole = delay(audio, 48000)
    orvane_fx.write(tmp_path / "in.wav", audio, 48000)
    fx("render", "-q", "--tail", "0", "-i", tmp_path / "in.wav", "-o", tmp_path / "cli.wav",
       "Delay", "feedback=0.2@0,0.8@1s", "delay=200ms@0,400ms@0.75s,150@750ms")
    assert numpy.array_equal(whole, orvane_fx.read(tmp_path / "cli.wav")[0])
    # Streamed in blocks, the envelope's time runs on from call to call.
    delay.reset()
    blocks = [delay(audio[:, s:s + 5000], 48000, reset=False) for s in range(0, 72000, 5000)]
    assert numpy.array_equal(numpy.concatenate(blocks, axis=1), whole)
    orvane_fx.render_file(tmp_path / "in.wav", tmp_path / "file.wav", delay)
    assert numpy.array_equal(orvane_fx.read(tmp_path / "file.wav")[0], whole)
    assert pickle.loads(pickle.dumps(delay)) == delay
    assert repr(delay.feedback) == "Envelope([(0.0, 0.2), (1.0, 0.8)])"
    delay.feedback = 0.5  # a number again: the envelope is gone
    assert delay.feedback == 0.5 and numpy.array_equal(
        delay(audio, 48000), orvane_fx.Delay(feedback=0.5,
                                             delay_ms=delay.delay_ms)(audio, 48000))


def test_one_value_per_frame_is_set_every_32_frames_as_by_hand():
    audio = noise((1, 9000))
    wet = numpy.linspace(0.0, 1.0, 9000)
    moved = orvane_fx.Delay(wet_mix=wet, delay_ms=5)(audio, 48000)
    by_hand = orvane_fx.Delay(delay_ms=5)
    pieces = []
    for start in range(0, 9000, 32):
        by_hand.wet_mix = float(wet[start])
        pieces.append(by_hand(audio[:, start:start + 32], 48000, reset=False))
    assert numpy.array_equal(moved, numpy.concatenate(pieces, axis=1))


def test_per_item_values_give_each_item_of_a_batch_its_own_setting(tmp_path):
    batch = noise((4, 2, 6000))
    feedback = numpy.array([0.1, 0.3, 0.5, 0.7], numpy.float32)
    chain = orvane_fx.Chain([orvane_fx.Delay(delay_ms=orvane_fx.PerItem(["1/16", "1/8", "1/8.",
                                                                          "1/4"]),
                                             feedback=orvane_fx.PerItem(feedback), bpm=240),
                             orvane_fx.Gain(orvane_fx.PerItem([-6, 0, 3, -1]))])
    for tail in (0.05, "auto"):
        wet = chain(batch, 48000, tail_s=tail)
        for k, (ms, db) in enumerate(((63, -6), (125, 0), (188, 3), (250, -1))):
            alone = orvane_fx.Chain([orvane_fx.Delay(delay_ms=ms, feedback=float(feedback[k])),
                                     orvane_fx.Gain(db)])(batch[k], 48000, tail_s=tail)
            assert numpy.array_equal(wet[k, :, :alone.shape[-1]], alone)
            assert not wet[k, :, alone.shape[-1]:].any()  # an automatic tail pads with silence
    out = numpy.empty_like(batch)
    assert chain(batch, 48000, out=out) is out and numpy.array_equal(out, chain(batch, 48000))
    delay = chain[0]
    assert pickle.loads(pickle.dumps(delay)) == delay
    assert delay.feedback == orvane_fx.PerItem(feedback)
    with pytest.raises(ValueError, match="PerItem values for 4 items; the batch has 3"):
        delay(batch[:3], 48000)
    with pytest.raises(ValueError, match="for a batch of"):
        delay(batch[0], 48000)
    with pytest.raises(ValueError, match="PerItem value 1 of Delay.delay_ms: .*not a note value"):
        orvane_fx.Delay(bpm=120, delay_ms=orvane_fx.PerItem(["1/8", "1/7"]))
    with pytest.raises(TypeError, match="one per item"):
        orvane_fx.PerItem("1/8")
    with pytest.raises(TypeError, match="PerItem values"):
        orvane_fx.Augment([delay])
    orvane_fx.write(tmp_path / "in.wav", batch[0], 48000)
    with pytest.raises(ValueError, match="a file is one item"):
        orvane_fx.render_file(tmp_path / "in.wav", tmp_path / "out.wav", delay)
    # A number again: the values per item are gone and any audio goes.
    delay.feedback = 0.4
    delay.delay_ms = 100
    assert delay(batch[0], 48000).shape == (2, 6000)


def test_note_values_take_the_effects_tempo_and_bad_movements_are_refused(tmp_path):
    audio = noise((2, 20000))
    for note, bpm, milliseconds in (("1/8.", 120, 375), ("1/8t", 120, 167), ("1/4", 120, 500),
                                    ("1/16", 240, 63)):  # 62.5 ms: halves round up, as orvane-fx
        synced = orvane_fx.Delay(bpm=bpm, delay_ms=note)
        assert synced.delay_ms == milliseconds
        assert numpy.array_equal(synced(audio, 48000),
                                 orvane_fx.Delay(delay_ms=milliseconds)(audio, 48000))
    assert orvane_fx.Chorus(bpm=120, sweep_width_s="1/64").sweep_width_s == 0.03125
    # Without a tempo a note value waits for one: from the effect or its chain, and it follows
    # a new tempo.
    waiting = orvane_fx.Delay(delay_ms="1/8.")
    assert waiting.delay_ms == "1/8."
    with pytest.raises(ValueError, match="needs a tempo; give the effect or its Chain bpm="):
        waiting(audio, 48000)
    chain = orvane_fx.Chain([waiting, orvane_fx.Chorus(sweep_width_s="1/64")], bpm=120)
    assert waiting.delay_ms == 375 and chain[1].sweep_width_s == 0.03125
    assert numpy.array_equal(waiting(audio, 48000), orvane_fx.Delay(delay_ms=375)(audio, 48000))
    chain.bpm = 100
    assert waiting.delay_ms == 450
    waiting.delay_ms = 300  # a number: the tempo no longer moves it
    chain.bpm = 120
    assert waiting.delay_ms == 300
    with pytest.raises(ValueError, match="not a note value"):
        orvane_fx.Delay(bpm=120, delay_ms="1/7")
    with pytest.raises(TypeError, match="takes a number"):
        orvane_fx.Delay(bpm=120, feedback="1/4")
    with pytest.raises(ValueError, match="bpm must be"):
        orvane_fx.Delay(bpm=0)
    with pytest.raises(ValueError, match="in order"):
        orvane_fx.Envelope([(1, 0.2), (0.5, 0.3)])
    with pytest.raises(ValueError, match="a switch takes True or False"):
        orvane_fx.Delay(enabled=orvane_fx.Envelope([(0, 1), (1, 0)]))
    with pytest.raises(ValueError, match="mix and level take one value"):
        orvane_fx.Chorus(mix=orvane_fx.Envelope([(0, 0.1)]))
    with pytest.raises(ValueError, match="Delay.delay_ms: 250.5 is"):
        orvane_fx.Delay(delay_ms=orvane_fx.Envelope([(0, 200), (1, 250.5)]))
    with pytest.raises(TypeError, match="Augment draws numbers"):
        orvane_fx.Augment([orvane_fx.Delay(feedback=orvane_fx.Envelope([(0, 0.1)]))])
    orvane_fx.write(tmp_path / "in.wav", audio, 48000)
    with pytest.raises(ValueError, match="not one value per frame"):
        orvane_fx.render_file(tmp_path / "in.wav", tmp_path / "out.wav",
                              orvane_fx.Delay(feedback=numpy.full(100, 0.3)))
