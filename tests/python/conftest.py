"""What every test of the Python module shares: the build's programs, PINBUS.OCX registered once
in a class registry of the session's own, and for each test a board of its own (the simulated
board's state, the port locks, the class registry a copy of the registered one), set in this
process's environment and handed to the programs and scripts a test runs."""

import os
import shutil
import subprocess
import sys

import pytest

BUILD = os.environ.get("LENSBAY_BUILD_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build")
BIN = os.path.join(BUILD, "bin")
PYTHON_DIR = os.path.join(BUILD, "python")
sys.path.insert(0, PYTHON_DIR)


@pytest.fixture(scope="session")
def registered(tmp_path_factory):
    """A class registry with PINBUS.OCX registered in it."""
    path = str(tmp_path_factory.mktemp("registry") / "registry.reg")
    env = dict(os.environ, OLE_REGISTRY=path)
    subprocess.run([os.path.join(BIN, "regsvr"), os.path.join(BIN, "PINBUS.OCX")], env=env,
                   check=True, stdout=subprocess.DEVNULL)
    return path


class Board:
    """One test's board: its environment, and the programs and scripts run on it."""

    def __init__(self, folder, registry):
        self.folder = str(folder)
        locks = os.path.join(self.folder, "locks")
        os.makedirs(locks)
        shutil.copy(registry, os.path.join(self.folder, "registry.reg"))
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("LENSBAY_", "OLE_", "PORTIO"))}
        self.env.update(PORTIO="sim", OLE_REGISTRY=os.path.join(self.folder, "registry.reg"),
                        OLE_MACHINE_REGISTRY=os.path.join(self.folder, "machine.reg"),
                        LENSBAY_SIM_STATE=os.path.join(self.folder, "sim-board"),
                        LENSBAY_LOCK_DIR=locks, PYTHONPATH=PYTHON_DIR)

    def path(self, name):
        return os.path.join(self.folder, name)

    def lensbay(self, *args, **env):
        """`lensbay ARGS` in the board's folder: (status, standard output, standard error)."""
        p = subprocess.run([os.path.join(BIN, "lensbay")] + list(args), cwd=self.folder,
                           env=dict(self.env, **env), stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=60)
        return p.returncode, p.stdout, p.stderr

    def console(self):
        """`lensbay --console` holding the port, waiting for commands on its standard input."""
        return subprocess.Popen([os.path.join(BIN, "lensbay"), "--console"], cwd=self.folder,
                                env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)

    def python(self, script, **env):
        """The script under the system's python3 in a process of its own, in the board's folder."""
        return subprocess.Popen(["/usr/bin/python3", "-c", script], cwd=self.folder,
                                env=dict(self.env, **env), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def run_python(self, script, **env):
        p = self.python(script, **env)
        out, err = p.communicate(timeout=60)
        assert p.returncode == 0, err
        return out

    def trace(self, name):
        with open(self.path(name)) as f:
            return f.read().splitlines()


@pytest.fixture
def board(tmp_path, registered, monkeypatch):
    """A board of the test's own, also in this process's environment (for lensbay.Camera here)."""
    b = Board(tmp_path, registered)
    for key in [k for k in os.environ if k.startswith(("LENSBAY_", "OLE_", "PORTIO"))]:
        monkeypatch.delenv(key)
    for key, value in b.env.items():
        monkeypatch.setenv(key, value)
    monkeypatch.chdir(b.folder)
    return b
