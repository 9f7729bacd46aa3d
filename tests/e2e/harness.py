"""Drives the real tarnwick.exe in the test run's Wine prefix.

CTest sets WINEPREFIX (booted once per run, its server kept alive) and
TARNWICK_BUILD_DIR (the Windows build folder). Every scenario starts from an
empty data directory and removes what it installed.
"""
import json
import os
import shutil
import signal
import subprocess
import time
import unittest

BUILD_DIR = os.environ.get("TARNWICK_BUILD_DIR", "")
PREFIX = os.environ.get("WINEPREFIX", "")
TARNWICK = os.path.join(BUILD_DIR, "tarnwick.exe")
PROGRAMS = os.path.join(BUILD_DIR, "e2e-programs")
DRIVE_C = os.path.join(PREFIX, "drive_c")
DATA_DIR = os.path.join(DRIVE_C, "ProgramData", "Tarnwick")
LOG = os.path.join(DATA_DIR, "Tarnwick.log.jsonl")
STATS = os.path.join(DATA_DIR, "Tarnwick.stats.json")
CONFIG = os.path.join(DATA_DIR, "Tarnwick.config.json")
# Wine gives services ProgramData=C:\users\Public, unlike Windows.
FALLBACK_TITLE = "Process ETW unavailable \u2014 using snapshot fallback"
SERVICE_DATA_DIR = os.path.join(DRIVE_C, "users", "Public", "Tarnwick")


def wine_env(extra=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = PREFIX
    env["WINEDEBUG"] = "-all"
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    if extra:
        env.update(extra)
    return env


def run(exe, *args, timeout=60, env=None):
    """Runs a Windows program to its end; returns the CompletedProcess (text)."""
    return subprocess.run(["wine", exe, *args], capture_output=True, timeout=timeout,
                          env=wine_env(env), stdin=subprocess.DEVNULL)


def reg(*args):
    """Runs reg.exe in the prefix; True when it succeeded."""
    return run("reg", *args).returncode == 0


def start(exe, *args, env=None):
    """Starts a Windows program in the background."""
    return subprocess.Popen(["wine", exe, *args], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                            env=wine_env(env))


def host_path(windows_path):
    """C:\\x\\y inside the prefix as a host path."""
    assert windows_path[1:3] == ":\\", windows_path
    return os.path.join(DRIVE_C, *windows_path[3:].split("\\"))


def wait_for(predicate, timeout=20.0, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def log_alerts(data_dir=DATA_DIR):
    data = read_bytes(os.path.join(data_dir, "Tarnwick.log.jsonl"))
    if not data:
        return []
    text = data.decode("utf-8")
    assert text.endswith("\n"), "the log ends with a whole line"
    return [json.loads(line) for line in text.splitlines()]


def stats(data_dir=DATA_DIR):
    data = read_bytes(os.path.join(data_dir, "Tarnwick.stats.json"))
    return json.loads(data) if data else None


def titles(data_dir=DATA_DIR):
    return [a["title"] for a in log_alerts(data_dir)]


def alerts_titled(title, data_dir=DATA_DIR):
    return [a for a in log_alerts(data_dir) if a["title"] == title]


def reset_data_dir():
    shutil.rmtree(DATA_DIR, ignore_errors=True)
    shutil.rmtree(SERVICE_DATA_DIR, ignore_errors=True)


def wine_process_args():
    """Command lines of the prefix's running Windows programs, from the host's view."""
    out = subprocess.run(["ps", "-eo", "args"], capture_output=True, text=True).stdout
    return [line for line in out.splitlines() if ".exe" in line]


class Engine:
    """A foreground 'tarnwick.exe run' (of `exe`, the build's by default), stopped
    with Ctrl+C (SIGINT to the wine process)."""

    def __init__(self, *args, env=None, data_dir=DATA_DIR, exe=TARNWICK):
        self.data_dir = data_dir
        self.starts_before = titles(data_dir).count("Tarnwick is patrolling")
        self.proc = start(exe, "run", *args, env=env)
        self.stdout = b""
        self.stderr = b""

    def wait_started(self, timeout=30):
        ok = wait_for(lambda: titles(self.data_dir).count("Tarnwick is patrolling")
                      > self.starts_before, timeout)
        if not ok:
            self.stop()
            raise AssertionError("engine did not start: %r" % (self.stderr,))

    def stop(self, timeout=15):
        """Sends Ctrl+C; returns (exit code, seconds until it ended)."""
        if self.proc.poll() is None:
            t0 = time.monotonic()
            self.proc.send_signal(signal.SIGINT)
            try:
                self.stdout, self.stderr = self.proc.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.stdout, self.stderr = self.proc.communicate()
                raise AssertionError("engine did not stop within %ss" % timeout)
            return self.proc.returncode, time.monotonic() - t0
        self.stdout, self.stderr = self.proc.communicate()
        return self.proc.returncode, 0.0

    def __enter__(self):
        self.wait_started()
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.stop()


class WineTestCase(unittest.TestCase):
    def setUp(self):
        if not PREFIX or not os.path.isdir(PREFIX):
            self.fail("WINEPREFIX must name the booted test prefix (run through CTest)")
        reset_data_dir()


def launch(windows_exe, *args):
    """Starts a program inside the prefix; returns its Windows pid."""
    pid_file = os.path.join(DRIVE_C, "users", "Public", "launched.pid")
    if os.path.exists(pid_file):
        os.remove(pid_file)
    # The started program may keep Wine's standard handles: capture nothing,
    # or the wait would last as long as the program.
    r = subprocess.run(["wine", os.path.join(PROGRAMS, "launch.exe"), "C:\\users\\Public\\launched.pid",
                        windows_exe, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=wine_env(), timeout=60)
    assert r.returncode == 0, "launch.exe failed with %d" % r.returncode
    with open(pid_file) as f:
        return int(f.read())


def kill_windows_process(pid):
    subprocess.run(["wine", "taskkill", "/F", "/PID", str(pid)], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=wine_env(), timeout=60)


def write_config(**values):
    """A configuration holding only the given keys (the rest take defaults)."""
    os.makedirs(DATA_DIR, exist_ok=True)
    with open(CONFIG, "w") as f:
        json.dump(values, f)


def copy_program(name, windows_dest):
    """Copies one of the test programs to a place inside the prefix."""
    dest = host_path(windows_dest)
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    shutil.copyfile(os.path.join(PROGRAMS, name), dest)
    return dest


def wait_past_baseline(timeout=10):
    """Waits for the process detector's fallback alert, then for the baseline
    snapshot that follows it, so that programs started next count as new."""
    ok = wait_for(lambda: FALLBACK_TITLE in titles(), timeout)
    time.sleep(1)
    return ok
