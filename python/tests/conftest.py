"""Shared helpers: the renderer binary, scratch folders and a float WAV reader."""

import os
import struct
import subprocess

import numpy
import pytest


@pytest.fixture
def forks_workers():
    """For a test that forks worker processes while its interpreter runs threads (a PyTorch
    DataLoader): skipped where AddressSanitizer is preloaded (the sanitizer build's run). That
    allocator takes no lock across fork(), so a worker forked while another thread is
    allocating can inherit its lock held and hang at its first allocation; it happened once in
    about a dozen runs. The ordinary build runs these tests."""
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("forking with threads running can hang under a preloaded AddressSanitizer")


def reuses_dropped_memory(first_call, second_call):
    """second_call()'s result, made after first_call()'s was dropped; asserts that it took the
    dropped result's memory (large results are pooled rather than handed back to the system)."""
    first = first_call()
    address = first.__array_interface__["data"][0]
    del first
    again = second_call()
    assert again.__array_interface__["data"][0] == address
    return again


@pytest.fixture
def fx():
    """Runs orvane-fx with arguments; fails the test with its output when it fails."""
    binary = os.environ.get("ORVANE_FX")
    if not binary:
        pytest.skip("ORVANE_FX does not name the orvane-fx binary")

    def run(*arguments, cwd=None):
        done = subprocess.run([binary, *map(str, arguments)], cwd=cwd, capture_output=True,
                              text=True)
        assert done.returncode == 0, done.stderr
        return done

    return run


def read_wav(path):
    """A 32-bit float WAV as a float32 array of (channels, frames)."""
    data = open(path, "rb").read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", path
    position, channels, samples = 12, None, None
    while position + 8 <= len(data):
        chunk, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        body = data[position + 8:position + 8 + size]
        if chunk == b"fmt ":
            tag, channels, _, _, _, bits = struct.unpack("<HHIIHH", body[:16])
            assert bits == 32 and tag in (3, 0xFFFE), "float WAV expected"
        elif chunk == b"data":
            samples = numpy.frombuffer(body, "<f4")
        position += 8 + size + (size & 1)
    return samples.reshape(-1, channels).T.copy()
