"""Runs the real tarnwick.exe under Wine for a number of minutes with
synthetic activity, samples the engine's private memory and handle count
every minute from inside the prefix, and prints the growth per hour.

Activity, repeated about every ten seconds: a new process (a renamed test
program, started and ended), an autostart value added and removed, a burst
of ".locked" files in a watched folder (written, then deleted), and loopback
connections opened and closed throughout.

Run through scripts/soak, which builds the programs and boots the prefix.
"""
import os
import shutil
import sys
import time

import harness
from harness import (DRIVE_C, PROGRAMS, Engine, kill_windows_process, launch, log_alerts, reg, run,
                     start, write_config)

FOLDER = "C:\\soak-files"
HOST_FOLDER = os.path.join(DRIVE_C, "soak-files")
RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
NAMES = ["notepad2.exe", "updater.exe", "helper.exe", "backup.exe"]


def sample():
    r = run(os.path.join(PROGRAMS, "procstat.exe"), "tarnwick.exe", timeout=60)
    if r.returncode != 0:
        return None
    pid, private, handles = r.stdout.decode().split()
    return int(pid), int(private), int(handles)


def activity(cycle):
    name = NAMES[cycle % len(NAMES)]
    exe = "C:\\soak-bin\\" + name
    harness.copy_program("spin.exe", exe)
    pid = launch(exe)
    reg("add", RUN_KEY, "/v", "SoakEntry%d" % (cycle % 5), "/d", "C:\\soak-bin\\x.exe", "/f")
    r = run(os.path.join(PROGRAMS, "writefiles.exe"), FOLDER, "30", ".locked")
    assert r.returncode == 0, "writefiles.exe failed with %d" % r.returncode
    time.sleep(2)
    kill_windows_process(pid)
    reg("delete", RUN_KEY, "/v", "SoakEntry%d" % (cycle % 5), "/f")
    for entry in os.listdir(HOST_FOLDER):
        os.remove(os.path.join(HOST_FOLDER, entry))


def per_hour(samples, index):
    """Least-squares slope of one column over time, per hour."""
    xs = [s[0] for s in samples]
    ys = [s[index] for s in samples]
    n = len(xs)
    mx, my = sum(xs) / n, sum(ys) / n
    var = sum((x - mx) ** 2 for x in xs)
    if var == 0:
        return 0.0
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / var * 3600


def main():
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 30
    harness.reset_data_dir()
    shutil.rmtree(HOST_FOLDER, ignore_errors=True)
    os.makedirs(HOST_FOLDER)
    # Responses stay off: nothing the activity starts is suspended, and the
    # autostart values are removed by the soak itself.
    write_config(watch_dirs=[FOLDER], ransomware_burst_count=10)
    churn = None
    samples = []  # (seconds since start, private bytes, handles)
    with Engine() as engine:
        churn = start(os.path.join(PROGRAMS, "netchurn.exe"), str(int(minutes * 60) + 120))
        t0 = time.monotonic()
        next_sample = t0
        cycle = 0
        print("%8s %14s %8s" % ("minute", "private bytes", "handles"), flush=True)
        while time.monotonic() - t0 < minutes * 60:
            if time.monotonic() >= next_sample:
                s = sample()
                if s is None:
                    raise SystemExit("soak: the engine is not running any more")
                elapsed = time.monotonic() - t0
                samples.append((elapsed, s[1], s[2]))
                print("%8.1f %14d %8d" % (elapsed / 60, s[1], s[2]), flush=True)
                next_sample += 60
            activity(cycle)
            cycle += 1
            time.sleep(max(0.0, 10 - 2))
        code, seconds = engine.stop()
    churn.kill()
    churn.communicate()
    alerts = log_alerts()
    # Growth is judged after the first two minutes, once every detector has
    # taken its baseline and every buffer has reached its working size.
    steady = [s for s in samples if s[0] >= 120] or samples
    print()
    print("cycles of activity: %d, alerts logged: %d, engine exit code %d after %.1f s"
          % (cycle, len(alerts), code, seconds))
    print("private bytes: first %d, last %d, growth %+.0f bytes per hour"
          % (samples[0][1], samples[-1][1], per_hour(steady, 1)))
    print("handles: first %d, last %d, growth %+.1f per hour"
          % (samples[0][2], samples[-1][2], per_hour(steady, 2)))
    shutil.rmtree(HOST_FOLDER, ignore_errors=True)
    shutil.rmtree(os.path.join(DRIVE_C, "soak-bin"), ignore_errors=True)


if __name__ == "__main__":
    main()
