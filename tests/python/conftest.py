"""The tarvo package under test comes from PYTHONPATH (BUILD/python in a CMake build tree) or
from an installed copy; the command it is compared with is TARVO_BIN, or the tarvo program
beside BUILD/python."""

import os
import subprocess
from pathlib import Path

import pytest

import tarvo

REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"


def _command():
    if os.environ.get("TARVO_BIN"):
        return Path(os.environ["TARVO_BIN"])
    beside = Path(tarvo.__file__).resolve().parents[2] / "tarvo"
    return beside if beside.is_file() else None


@pytest.fixture(scope="session")
def run_command(tmp_path_factory):
    """Runs `tarvo ARGS...` (quiet, output in a fresh folder); returns the folder and what
    the command printed on stdout."""
    program = _command()
    if program is None:
        pytest.skip("no tarvo program to compare with (set TARVO_BIN)")

    def run(*args):
        out = tmp_path_factory.mktemp("command")
        done = subprocess.run([str(program), *args, "-q", "-o", str(out)], check=False,
                              capture_output=True, text=True)
        return out, done.stdout

    return run
