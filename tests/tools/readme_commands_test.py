#!/usr/bin/env python3
"""The README's shell commands, run as a reader would copy them: every indented command block is
read from README.md and each command is run as written, in a scratch folder with a home of its
own, the project installed there by scripts/install (from this build) and the sound files the
commands name made first. A command that fails fails the test, with its output.

A few commands are not run here, each for the reason kept beside it below (they build a release
tree, start servers that run until stopped, or need a sound server); each of those is run by
another test or by CI itself, as the reason says.

Usage: readme_commands_test.py SOURCE_DIR BUILD_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE, BUILD = (os.path.abspath(p) for p in sys.argv[1:3])

# Commands (by how they begin) that are not run here, and why.
NOT_RUN = {
    "bash scripts/demo": "builds a release tree; its renderer's demo is run below as written",
    "bash scripts/test": "is what CI runs",
    "bash scripts/web": "serves the site until stopped; the web test builds and checks it",
    "bash scripts/install": "builds a release tree; run below on this build (--build-dir)",
    "bench/": "benchmarks, run by hand; they print ratios, not verdicts",
    "dask scheduler": "a server that runs until stopped; python_tests starts one",
    "dask worker": "a server that runs until stopped; python_tests starts one",
    "jalv ": "needs a JACK server; the plugin host tests start one",
    "/usr/bin/python3 -m venv": "python_pip_install makes the venv and installs into it",
    "venv/bin/pip install": "python_pip_install makes the venv and installs into it",
    "npm install ./orvane-audioeffects": "web_package_apps packs the tarball and installs it so",
}


def blocks(readme: str) -> list:
    """The README's indented blocks, each a list of its commands (continuation lines joined):
    a block is one shell session, so what one command exports the next one has."""
    found, fenced, previous = [], False, ""
    for line in readme.split("\n"):
        if line.startswith("```"):
            fenced = not fenced
            continue
        if fenced:
            continue
        starts = previous.strip() == "" and not (found and found[-1] is not None)
        if line.startswith("    ") and (starts or (found and found[-1] is not None)):
            if not found or found[-1] is None:
                found.append([])
            text = line[4:]
            block = found[-1]
            if block and block[-1].endswith("\\"):
                block[-1] += "\n" + text
            elif text.strip() and not text.lstrip().startswith("#"):
                block.append(text)
        elif line.strip():
            if found and found[-1] is not None:
                found.append(None)
        previous = line
    return [block for block in found if block]


def run(command: str, env: dict, cwd: str, timeout: int = 300) -> subprocess.CompletedProcess:
    return subprocess.run(["bash", "-c", "set -eo pipefail\n" + command], cwd=cwd, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=timeout, stdin=subprocess.DEVNULL)


def main() -> int:
    with open(os.path.join(SOURCE, "README.md")) as readme:
        listed = blocks(readme.read())
    scratch = tempfile.mkdtemp(prefix="orvane-readme-")
    try:
        home = os.path.join(scratch, "home")
        os.makedirs(home)
        env = {key: value for key, value in os.environ.items()
               if key not in ("PYTHONPATH", "LV2_PATH", "LADSPA_PATH", "LD_LIBRARY_PATH")}
        env.update(HOME=home, PATH=os.path.join(home, ".local", "bin") + ":" + env["PATH"],
                   MPLBACKEND="Agg")
        # The paths the README's commands name from the top of the tree.
        for name in ("examples", "scripts", "bench"):
            os.symlink(os.path.join(SOURCE, name), os.path.join(scratch, name))
        os.symlink(BUILD, os.path.join(scratch, "build"))
        setup = run(f"bash scripts/install --build-dir '{BUILD}'", env, scratch)
        if setup.returncode != 0:
            print("scripts/install --build-dir failed:\n" + setup.stdout)
            return 1
        # The sound files the commands read.
        made = run("\n".join([
            "orvane-fx render -q -s noise --seconds 1 --channels 2 -o guitar.flac Delay enabled=false",
            "cp guitar.flac in.flac",
            "orvane-fx render -q -s noise --seconds 1 --channels 1 -o voice.wav Delay enabled=false",
            "orvane-fx render -q -s noise --seconds 1 --channels 2 -o in.wav Delay enabled=false",
            "orvane-fx render -q -s noise --seconds 1 --rate 44100 --channels 1 -o take.raw "
            "Delay enabled=false",
            "mkdir -p in && for i in 1 2 3; do cp in.wav in/clip$i.wav; done",
            "printf 'input,output\\nin.wav,manifest-out.wav\\n' > tasks.csv",
        ]), env, scratch)
        if made.returncode != 0:
            print("making the inputs failed:\n" + made.stdout)
            return 1
        ran, failed = 0, []
        for block in listed:
            script = []
            for command in block:
                reason = next((why for start, why in NOT_RUN.items()
                               if command.startswith(start)), None)
                if reason:
                    print(f"not run: {command.splitlines()[0]}  ({reason})")
                    continue
                ran += 1
                script.append(f"echo '--- {command.splitlines()[0][:60]}'\n{command}")
            if not script:
                continue
            result = run("\n".join(script), env, scratch)
            print(result.stdout if result.returncode else
                  "\n".join(line for line in result.stdout.split("\n")
                            if line.startswith("--- ")))
            if result.returncode != 0:
                failed.append(result.stdout.rstrip().split("\n--- ")[-1])
        print(f"{ran} commands run, {len(failed)} blocks failed")
        for failure in failed:
            print("\nFAILED: " + failure)
        return 1 if failed or ran == 0 else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
