"""Seeded augmentation: distributions as settings, Augment's per-item streams and records,
replay, tensors, and sound files in and out."""

import json
import pickle
import random

import numpy
import pytest
from hypothesis import given, settings, strategies as st

import orvane_fx
from orvane_fx import Augment, choice, log_uniform, normal, uniform
from orvane_fx import augment as augment_module

from conftest import reuses_dropped_memory


def noise(shape, seed=1):
    return numpy.random.default_rng(seed).uniform(-0.5, 0.5, shape).astype(numpy.float32)


def random_chain(shuffle=True):
    return Augment([
        orvane_fx.Chorus(sweep_width_s=uniform(0.001, 0.02), frequency_hz=log_uniform(0.1, 5)),
        orvane_fx.Delay(delay_ms=choice([10, 25, 60]), feedback=normal(0.4, 0.2, 0.0, 0.9)),
        orvane_fx.Flanger(frequency_hz=uniform(0.1, 2)),
        orvane_fx.PingPongDelay(delay_ms=uniform(5, 40)),
    ], p=[0.9, 0.6, 0.5, 0.4], shuffle=shuffle)


# --- the same seed, the same items, however they are cut and run ------------------------------

def test_same_seed_same_items_across_splits_and_threads():
    aug, items = random_chain(), noise((12, 2, 3000))
    whole, records = aug(items, 16000, rng=99, return_params=True)
    threaded, threaded_records = aug(items, 16000, rng=99, return_params=True, workers=3)
    parts = [aug(items[:5], 16000, rng=99, keys=0, return_params=True),
             aug(items[5:6], 16000, rng=99, keys=[5], return_params=True),
             aug(items[6:], 16000, rng=99, keys=range(6, 12), return_params=True)]
    assert numpy.array_equal(whole, threaded) and records == threaded_records
    assert numpy.array_equal(whole, numpy.concatenate([p[0] for p in parts]))
    assert records == [r for p in parts for r in p[1]]
    # One item on its own, as (channels, frames), is the batch's item with that key.
    alone, record = aug(items[7], 16000, rng=99, keys=7, return_params=True)
    assert numpy.array_equal(alone, whole[7]) and record == records[7]
    # A Generator is drawn from item after item: cut the same, it gives the same.
    first = aug(items, 16000, rng=numpy.random.default_rng(5))
    rng = numpy.random.default_rng(5)
    assert numpy.array_equal(first, numpy.concatenate([aug(items[:4], 16000, rng=rng),
                                                       aug(items[4:], 16000, rng=rng)]))


# An item's stream is numpy's PCG64 seeded by SeedSequence(entropy, spawn_key + (key,)); the
# batch works those seeds out in one call of its own, which must give numpy's very streams.
whole_numbers = st.one_of(st.integers(0, 2 ** 32 + 5), st.integers(0, 2 ** 200))


@settings(max_examples=300, deadline=None)
@given(entropy=st.one_of(whole_numbers, st.lists(whole_numbers, min_size=1, max_size=6)),
       spawn_key=st.lists(whole_numbers, max_size=3),
       pool_size=st.integers(4, 9),
       keys=st.lists(st.one_of(st.integers(0, 40), st.integers(0, 2 ** 64 + 1)), max_size=4))
def test_item_streams_are_numpys_seed_sequence_streams(entropy, spawn_key, pool_size, keys):
    seed = numpy.random.SeedSequence(entropy, spawn_key=tuple(spawn_key), pool_size=pool_size)
    streams = list(augment_module._item_rngs(seed, keys))
    assert [g.bit_generator.state for g in streams] == \
        [augment_module._item_rng(seed, key).bit_generator.state for key in keys]


@settings(max_examples=300, deadline=None)
@given(low=st.one_of(st.integers(-10 ** 6, 10 ** 6), st.floats(-1e6, 1e6)),
       span=st.one_of(st.integers(0, 10 ** 6), st.floats(0, 1e6)), seed=st.integers(0, 2 ** 64))
def test_uniform_draws_are_numpys_uniform(low, span, seed):
    # Drawn through random() for speed: the very doubles Generator.uniform gives.
    high = low + span
    assert augment_module._uniform(numpy.random.default_rng(seed), low, high) == \
        numpy.random.default_rng(seed).uniform(low, high)


# A fixed order whose random settings are all uniform or log-uniform numbers or uniform whole
# numbers is drawn by the renderer itself, without Python; its items must be what Python's own
# drawing gives, value for value, with integer and float bounds, any p and keys, at every
# magnitude a setting takes, and whole numbers drawn in turn with numbers between them.
@settings(max_examples=60, deadline=None)
@given(seed=st.integers(0, 2 ** 64), first_key=st.integers(0, 2 ** 40),
       p=st.lists(st.floats(0, 1), min_size=5, max_size=5),
       width=st.lists(st.floats(0, 0.02), min_size=2, max_size=2).map(sorted),
       rate=st.lists(st.floats(0.02, 10), min_size=2, max_size=2).map(sorted),
       level=st.tuples(st.integers(-120, 24), st.floats(-120, 24)).map(sorted),
       depth=st.lists(st.floats(1e-5, 0.005), min_size=2, max_size=2).map(sorted),
       delays=st.lists(st.integers(1, 1000), min_size=4, max_size=4))
def test_items_drawn_without_python_are_pythons_draws(seed, first_key, p, width, rate, level,
                                                      depth, delays):
    aug = Augment([
        orvane_fx.Flanger(sweep_width_s=uniform(*width), frequency_hz=log_uniform(*rate)),
        orvane_fx.Delay(delay_ms=uniform(*sorted(delays[:2])), feedback=uniform(0.0, 0.5)),
        orvane_fx.Chorus(level_db=uniform(*level), mix=0.5),
        orvane_fx.PingPongDelay(delay_ms=uniform(*sorted(delays[2:]))),
        orvane_fx.Vibrato(frequency_hz=uniform(*rate), sweep_width_s=log_uniform(*depth)),
    ], p=p)
    assert aug._native_plan([effect._draw_plan() for effect in aug.effects]) is not None
    items = noise((4, 2, 300))
    out, records = aug(items, 16000, rng=seed, keys=first_key, return_params=True)
    sequence = numpy.random.SeedSequence(seed)
    for k, (item, record) in enumerate(zip(items, records)):
        _, expected = aug.draw(augment_module._item_rng(sequence, first_key + k))
        assert record == {"key": first_key + k, **expected}
        assert numpy.array_equal(orvane_fx.replay(record)(item, 16000), out[k])


def test_items_of_a_batch_get_their_own_draws_and_other_seeds_other_draws():
    aug, items = random_chain(), numpy.repeat(noise((1, 2, 2000)), 8, axis=0)
    out, records = aug(items, 16000, rng=3, return_params=True)
    assert len({json.dumps(r["effects"]) for r in records}) == 8
    assert len({out[i].tobytes() for i in range(8)}) > 1
    _, others = aug(items, 16000, rng=4, return_params=True)
    assert [r["effects"] for r in others] != [r["effects"] for r in records]


def test_replay_rebuilds_each_item_bit_for_bit_from_its_json_record():
    aug, items = random_chain(), noise((10, 2, 4000), seed=2)
    out, records = aug(items, 44100, rng=2024, return_params=True, workers=2)
    assert any(not e["applied"] for r in records for e in r["effects"])
    for item, record in zip(range(10), json.loads(json.dumps(records))):
        chain = orvane_fx.replay(record)
        assert [e.type for e in chain] == [e["effect"] for e in record["effects"] if e["applied"]]
        assert numpy.array_equal(chain(items[item], 44100), out[item])


def test_global_random_states_are_left_alone():
    numpy.random.seed(11)
    random.seed(11)
    numpy_before, python_before = numpy.random.get_state(), random.getstate()
    random_chain()(noise((3, 2, 500)), 8000, rng=1)
    random_chain()(noise((3, 2, 500)), 8000, rng=numpy.random.default_rng(1))
    random_chain()(noise((3, 2, 500)), 8000)  # a fresh seed from the operating system
    after = numpy.random.get_state()
    assert all(numpy.array_equal(a, b) for a, b in zip(numpy_before[1:2], after[1:2]))
    assert numpy_before[2:] == after[2:] and random.getstate() == python_before


def test_probability_zero_passes_through_and_one_is_the_plain_effect():
    audio = noise((4, 2, 3000))
    assert numpy.array_equal(Augment([orvane_fx.Chorus(), orvane_fx.Delay()], p=0)(audio, 48000,
                                                                                   rng=1), audio)
    plain = orvane_fx.Delay(delay_ms=35, feedback=0.5)
    always = Augment([orvane_fx.Delay(delay_ms=35, feedback=0.5)], p=1.0)
    assert numpy.array_equal(always(audio, 48000, rng=8), plain(audio, 48000))
    # p moves no other effect's values: its coin is drawn whatever it says.
    _, sometimes = Augment([orvane_fx.Chorus(frequency_hz=uniform(0.1, 5))], p=0.5)(
        audio, 48000, rng=8, return_params=True)
    _, every = Augment([orvane_fx.Chorus(frequency_hz=uniform(0.1, 5))], p=1.0)(
        audio, 48000, rng=8, return_params=True)
    assert [r["effects"][0]["settings"] for r in sometimes] == \
        [r["effects"][0]["settings"] for r in every]


def test_batches_reuse_dropped_results_and_never_a_live_one():
    # A dropped result's memory serves the next batch of about its size, with none of its
    # samples left over (a tail, a pass-through and an effect each write every element).
    # (Results from a megabyte up are pooled: smaller ones stay on the allocator's heap.)
    loud, quiet = noise((6, 2, 50000)), noise((6, 2, 40000), seed=3) * 0.01
    delay = Augment([orvane_fx.Delay(delay_ms=uniform(5, 20), feedback=0.7)], tail_s=0.02)
    again = reuses_dropped_memory(lambda: delay(loud, 16000, rng=1),
                                  lambda: delay(quiet, 16000, rng=1))
    assert numpy.array_equal(again, delay(quiet.copy(), 16000, rng=1))
    passed = Augment([orvane_fx.Chorus()], p=0, tail_s=0.02)(quiet, 16000, rng=2)
    assert numpy.array_equal(passed[..., :40000], quiet) and not passed[..., 40000:].any()
    # Arrays alive at once never share memory, whatever is dropped around them.
    alive = [delay(loud, 16000, rng=k) for k in range(4)]
    del alive[1]
    alive.append(delay(loud, 16000, rng=9))
    assert len({a.__array_interface__["data"][0] for a in alive}) == len(alive)
    assert numpy.array_equal(alive[0], delay(loud, 16000, rng=0))


def test_draws_stay_within_their_distributions():
    rng = numpy.random.default_rng(0)
    effect = orvane_fx.Delay(delay_ms=log_uniform(1, 1000), feedback=normal(0.5, 5.0, 0.1, 0.2),
                             dry_mix=uniform(0.25, 0.5), enabled=choice([False]))
    draws = [effect.draw(rng) for _ in range(300)]
    assert all(1 <= d.delay_ms <= 1000 and isinstance(d.delay_ms, int) for d in draws)
    assert all(0.1 <= d.feedback <= 0.2 + 1e-7 and 0.25 <= d.dry_mix <= 0.5 for d in draws)
    assert not any(d.enabled for d in draws)
    # A log-uniform spreads evenly over decades: about a third below 10 ms.
    assert 60 < sum(d.delay_ms < 10 for d in draws) < 140


# --- distributions as setting values ----------------------------------------------------------

@pytest.mark.parametrize("effect, setting, value, words", [
    (orvane_fx.Chorus, "sweep_width_s", uniform(0.02, 0.001), "above the high bound"),
    (orvane_fx.Chorus, "frequency_hz", log_uniform(-1, 5), "above 0"),
    (orvane_fx.Delay, "delay_ms", choice([]), "at least one value"),
    (orvane_fx.Delay, "feedback", uniform(0.1, 3), "outside the range"),
    (orvane_fx.Delay, "delay_ms", choice([10, 2.5]), "not a whole number"),
    (orvane_fx.Flanger, "frequency_hz", normal(1, 0), "standard deviation"),
    (orvane_fx.Delay, "enabled", uniform(0, 1), "toggle"),
    (orvane_fx.Delay, "delay_ms", choice(["1/8."]), "tempo"),
])
def test_bad_distributions_are_refused_naming_the_setting(effect, setting, value, words):
    with pytest.raises(ValueError, match=f"{effect.__name__}.{setting} = .*{words}"):
        effect(**{setting: value})


def test_an_effect_with_settings_to_draw_does_not_process_but_travels():
    effect = orvane_fx.Vibrato(frequency_hz=uniform(1, 8))
    assert effect.random_settings() == {"frequency_hz": uniform(1, 8)}
    with pytest.raises(ValueError, match="still to be drawn .*Augment"):
        effect(noise((2, 100)), 48000)
    with pytest.raises(ValueError, match="still to be drawn"):
        orvane_fx.Chain([orvane_fx.Delay(), effect])(noise((2, 100)), 48000)
    assert pickle.loads(pickle.dumps(effect)) == effect
    effect.frequency_hz = 5.5  # a number makes it plain again
    assert effect.random_settings() == {} and effect(noise((2, 100)), 48000).shape == (2, 100)


def test_augment_refuses_what_it_cannot_use():
    with pytest.raises(TypeError, match="takes effects"):
        Augment([orvane_fx.Delay(), "Chorus"])
    with pytest.raises(ValueError, match="probability"):
        Augment([orvane_fx.Delay()], p=1.5)
    with pytest.raises(ValueError, match="2 probabilities for 1 effects"):
        Augment([orvane_fx.Delay()], p=[0.5, 0.5])
    with pytest.raises(ValueError, match="3 keys for 2 items"):
        Augment([orvane_fx.Delay()])(noise((2, 2, 10)), 48000, rng=1, keys=[1, 2, 3])
    with pytest.raises(TypeError, match="rng must be"):
        Augment([orvane_fx.Delay()])(noise((2, 10)), 48000, rng="seed")


# --- PyTorch tensors ------------------------------------------------------------------------

def test_tensors_in_tensors_out_sharing_memory():
    torch = pytest.importorskip("torch")
    audio = noise((2, 2, 3000))
    tensor = torch.from_numpy(audio.copy())
    for processor in (orvane_fx.Chorus(), orvane_fx.Chain([orvane_fx.Delay(),
                                                           orvane_fx.Flanger()])):
        out = processor(tensor, 48000)
        assert isinstance(out, torch.Tensor) and out.dtype == torch.float32
        assert numpy.array_equal(out.numpy(), processor(audio, 48000))
    # In place: the tensor's own memory is processed and the same tensor comes back.
    expected = orvane_fx.Delay()(audio[0], 48000)
    target = tensor[0].clone()
    assert orvane_fx.Delay()(target, 48000, out=target) is target
    assert numpy.array_equal(target.numpy(), expected)
    # A tensor that needs its gradient is read through detach(); doubles are converted.
    grad = torch.tensor(audio[0], requires_grad=True)
    assert numpy.array_equal(orvane_fx.Delay()(grad, 48000).numpy(), expected)
    aug = random_chain()
    assert numpy.array_equal(aug(tensor, 16000, rng=5).numpy(), aug(audio, 16000, rng=5))


def test_tensors_elsewhere_than_the_cpu_are_refused():
    torch = pytest.importorskip("torch")
    meta = torch.zeros((2, 64), device="meta")
    for call in (lambda: orvane_fx.Delay()(meta, 48000),
                 lambda: random_chain()(meta, 48000, rng=1)):
        with pytest.raises(ValueError, match="on meta.*run on the CPU.*cpu\\(\\)"):
            call()


def test_transform_in_a_two_worker_dataloader_repeats_itself(forks_workers):
    torch = pytest.importorskip("torch")
    from orvane_fx.torch import Transform

    items = noise((6, 2, 2000), seed=4)

    class Clips(torch.utils.data.Dataset):
        def __init__(self, transform):
            self.transform = transform

        def __len__(self):
            return len(items)

        def __getitem__(self, index):
            out, record = self.transform(torch.from_numpy(items[index]), key=index,
                                         return_params=True)
            return index, out, json.dumps(record)

    def run(workers):
        loader = torch.utils.data.DataLoader(Clips(Transform(random_chain(), 16000, seed=77)),
                                             batch_size=None, num_workers=workers)
        return {index: (out.numpy().copy(), record) for index, out, record in loader}

    two, again, one = run(2), run(2), run(0)
    assert two.keys() == set(range(6))
    for index in range(6):
        assert numpy.array_equal(two[index][0], again[index][0]) and two[index][1] == again[index][1]
        assert numpy.array_equal(two[index][0], one[index][0]) and two[index][1] == one[index][1]
        replayed = orvane_fx.replay(json.loads(two[index][1]))(items[index], 16000)
        assert numpy.array_equal(replayed, two[index][0])


def test_worker_streams_differ_by_worker_and_epoch(forks_workers):
    torch = pytest.importorskip("torch")

    class Draws(torch.utils.data.Dataset):
        def __init__(self, epoch):
            self.epoch = epoch

        def __len__(self):
            return 2

        def __getitem__(self, index):
            return orvane_fx.worker_rng(5, self.epoch).integers(1 << 62)

    def draws(epoch):
        return [int(d) for d in torch.utils.data.DataLoader(Draws(epoch), batch_size=None,
                                                            num_workers=2)]

    first = draws(0)
    assert first[0] != first[1] and draws(0) == first and set(draws(1)).isdisjoint(first)


# --- sound files -----------------------------------------------------------------------------

@pytest.mark.parametrize("name, format, tolerance", [
    ("a.wav", None, 0.0), ("a.flac", "pcm16", 2.0 ** -15), ("a.aiff", "pcm24", 2.0 ** -23),
    ("a.ogg", None, 0.05),
])
def test_write_then_read_gives_the_audio_back(tmp_path, name, format, tolerance):
    # Tones, which Vorbis keeps close; whole-number formats round to their step.
    time = numpy.arange(4800) / 24000
    audio = numpy.stack([0.5 * numpy.sin(2 * numpy.pi * 440 * time),
                         0.25 * numpy.sin(2 * numpy.pi * 660 * time)]).astype(numpy.float32)
    orvane_fx.write(tmp_path / name, audio, 24000, format=format)
    back, rate = orvane_fx.read(tmp_path / name)
    assert rate == 24000 and back.shape == audio.shape and back.dtype == numpy.float32
    assert numpy.max(numpy.abs(back - audio)) <= tolerance


def test_file_errors_say_what_is_wrong_and_keep_what_was_there(tmp_path):
    with pytest.raises(ValueError, match="missing.wav"):
        orvane_fx.read(tmp_path / "missing.wav")
    (tmp_path / "junk.wav").write_bytes(b"RIFF1234WAVEjunk")
    with pytest.raises(ValueError):
        orvane_fx.read(tmp_path / "junk.wav")
    kept = tmp_path / "kept.wav"
    orvane_fx.write(kept, noise((1, 100)), 8000)
    before = kept.read_bytes()
    with pytest.raises(ValueError, match="pcm8"):
        orvane_fx.write(kept, noise((1, 100)), 8000, format="pcm8")
    with pytest.raises(ValueError, match="channels"):
        orvane_fx.write(kept, numpy.zeros((0, 100), numpy.float32), 8000)
    assert kept.read_bytes() == before and sorted(p.name for p in tmp_path.iterdir()) == \
        ["junk.wav", "kept.wav"]
    # A mono (frames,) array is one channel; the same audio writes the same bytes.
    orvane_fx.write(tmp_path / "m.wav", noise(100), 8000)
    orvane_fx.write(tmp_path / "n.wav", noise(100), 8000)
    assert orvane_fx.read(tmp_path / "m.wav")[0].shape == (1, 100)
    assert (tmp_path / "m.wav").read_bytes() == (tmp_path / "n.wav").read_bytes()


def test_a_file_read_in_blocks_is_the_file(tmp_path):
    audio = noise((2, 150000), seed=3)
    orvane_fx.write(tmp_path / "long.wav", audio, 44100)
    with orvane_fx.open(tmp_path / "long.wav") as sound:
        assert (sound.channels, sound.sample_rate, sound.frames) == (2, 44100, 150000)
        first = sound.read(1000)
        rest = list(sound.blocks(65536))
    assert [b.shape[1] for b in rest] == [65536, 65536, 17928]
    assert numpy.array_equal(numpy.concatenate([first, *rest], axis=1), audio)
    with pytest.raises(ValueError, match="closed"):
        sound.read(10)
    with pytest.raises(ValueError, match="no such file"):
        orvane_fx.open(tmp_path / "missing.flac")


def test_render_file_keeps_the_input_format_unless_told(tmp_path):
    orvane_fx.write(tmp_path / "in16.wav", noise((2, 4800)), 48000, format="pcm16")
    orvane_fx.render_file(tmp_path / "in16.wav", tmp_path / "kept.wav", orvane_fx.Delay())
    orvane_fx.render_file(tmp_path / "in16.wav", tmp_path / "float.wav", orvane_fx.Delay(),
                          format="float")
    # A 16-bit WAV of 4800 stereo frames holds 19200 bytes of samples; float twice that.
    assert (tmp_path / "kept.wav").stat().st_size < 19200 + 200
    assert (tmp_path / "float.wav").stat().st_size >= 38400
    kept, _ = orvane_fx.read(tmp_path / "kept.wav")
    exact, _ = orvane_fx.read(tmp_path / "float.wav")
    assert numpy.max(numpy.abs(kept - exact)) <= 2 ** -15


def test_every_effect_has_a_mix_and_a_level_as_the_renderer_does(fx, tmp_path):
    audio = noise((2, 4000), seed=7)
    chorus = orvane_fx.Chorus()
    assert numpy.array_equal(orvane_fx.Chorus(mix=1.0, level_db=0.0)(audio, 48000),
                             chorus(audio, 48000))
    orvane_fx.write(tmp_path / "in.wav", audio, 48000)
    fx("render", "-q", "--tail", "0", "-i", tmp_path / "in.wav", "-o", tmp_path / "cli.wav",
       "Chorus", "mix=0.3", "level=-4.5dB", "Delay", "mix=0.8")
    mine = orvane_fx.Chain([orvane_fx.Chorus(mix=0.3, level_db=-4.5), orvane_fx.Delay(mix=0.8)])
    assert numpy.array_equal(mine(audio, 48000), orvane_fx.read(tmp_path / "cli.wav")[0])
    orvane_fx.render_file(tmp_path / "in.wav", tmp_path / "file.wav", mine)
    assert numpy.array_equal(orvane_fx.read(tmp_path / "file.wav")[0], mine(audio, 48000))
    with pytest.raises(ValueError, match="mix = 1.5 is outside 0 to 1"):
        chorus.mix = 1.5
    with pytest.raises(ValueError, match="level_db"):
        orvane_fx.Delay(level_db=40)
    # Drawn like any setting, recorded, and replayed bit for bit.
    augment = Augment([orvane_fx.Flanger(mix=uniform(0.2, 0.8), level_db=uniform(-12, 0))])
    out, records = augment(noise((3, 2, 2000)), 16000, rng=4, return_params=True)
    assert 0.2 <= records[0]["effects"][0]["settings"]["mix"] <= 0.8
    for item, record in enumerate(records):
        assert numpy.array_equal(orvane_fx.replay(record)(noise((3, 2, 2000))[item], 16000),
                                 out[item])
