"""Measures the engine at rest: the real tarnwick.exe under Wine, idle with the
default configuration, beside a do-nothing program in the same prefix.

CPU comes from the host's view of the Wine processes (/proc): Wine runs each
Windows thread as a host thread and passes SetThreadDescription names on to
it, so every named engine thread is shown by name. The wineserver's share is
its CPU while the engine runs, less its CPU over an equal time before the
engine started (the do-nothing program and Wine's own processes alone).
Private bytes are the system's figure read from inside the prefix (the same
reader as the soak); resident and anonymous memory come from the host.

Run through scripts/cost, which builds the programs and boots the prefix.
Exit code 1 when a figure could not be measured.
"""
import collections
import os
import shutil
import subprocess
import sys
import time

import harness
from harness import DRIVE_C, PREFIX, PROGRAMS, TARNWICK, Engine, run

TICKS = os.sysconf("SC_CLK_TCK")
DO_NOTHING = "C:\\cost-bin\\donothing.exe"
# The detectors take their baselines and the self-protection watch runs its
# first cycle within this time; what follows is the engine at rest.
SETTLE_SECONDS = 12
BASELINE_SECONDS = 20


class CannotMeasure(Exception):
    pass


def read(path, mode="r"):
    try:
        with open(path, mode) as f:
            return f.read()
    except OSError:
        return None


def host_pid(exe_name):
    """The host pid of this prefix's Wine process running EXE_NAME (the one with
    the most threads)."""
    best = None
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        cmdline = read("/proc/%s/cmdline" % entry, "rb")
        if not cmdline:
            continue
        argv0 = cmdline.split(b"\0")[0].decode("utf-8", "replace").strip()
        if argv0.replace("\\", "/").rsplit("/", 1)[-1].lower() != exe_name:
            continue
        # Other prefixes on this machine may run the same program.
        environ = (read("/proc/%s/environ" % entry, "rb") or b"").split(b"\0")
        if ("WINEPREFIX=" + PREFIX).encode() not in environ:
            continue
        threads = len(os.listdir("/proc/%s/task" % entry)) if os.path.isdir("/proc/%s/task" % entry) else 0
        if best is None or threads > best[1]:
            best = (int(entry), threads)
    return best[0] if best else None


def wineserver_pid():
    """The prefix's server: its working folder is named after the prefix's device and inode."""
    st = os.stat(PREFIX)
    tag = "server-%x-%x" % (st.st_dev, st.st_ino)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            cwd = os.readlink("/proc/%s/cwd" % entry)
        except OSError:
            continue
        if os.path.basename(cwd) != tag:
            continue
        # Clients started as "wineserver -w" or "-k" sit in the same folder.
        argv = (read("/proc/%s/cmdline" % entry, "rb") or b"").split(b"\0")
        if (read("/proc/%s/comm" % entry) or "").startswith("wineserver") and \
                b"-w" not in argv and b"-k" not in argv:
            return int(entry)
    return None


def stat_seconds(path):
    """User plus system CPU seconds from a /proc stat file; None when it is gone."""
    text = read(path)
    if text is None:
        return None
    fields = text[text.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def task_seconds(pid, tid):
    # schedstat counts nanoseconds where the kernel keeps it; stat counts ticks.
    text = read("/proc/%d/task/%d/schedstat" % (pid, tid))
    if text:
        return int(text.split()[0]) / 1e9
    return stat_seconds("/proc/%d/task/%d/stat" % (pid, tid))


def threads(pid):
    """{tid: (name, CPU seconds)} of the process's live threads."""
    result = {}
    try:
        tids = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return result
    for tid in map(int, tids):
        name = read("/proc/%d/task/%d/comm" % (pid, tid))
        seconds = task_seconds(pid, tid)
        if name is not None and seconds is not None:
            result[tid] = (name.strip(), seconds)
    return result


def cpu(pid, what):
    seconds = stat_seconds("/proc/%d/stat" % pid)
    if seconds is None:
        raise CannotMeasure("the %s (host pid %d) ended while it was measured" % (what, pid))
    return seconds


def status_kb(pid, field):
    text = read("/proc/%d/status" % pid)
    for line in (text or "").splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
    raise CannotMeasure("no %s for process %d" % (field, pid))


def private_bytes(exe_name):
    r = run(os.path.join(PROGRAMS, "procstat.exe"), exe_name, timeout=60)
    if r.returncode != 0:
        raise CannotMeasure("procstat.exe could not read %s" % exe_name)
    return int(r.stdout.decode().split()[1])


def largest_private_mappings(pid, count=8):
    """The mappings holding the most private resident memory, as (bytes, name)."""
    text = read("/proc/%d/smaps" % pid) or ""
    totals = collections.Counter()
    name = ""
    for line in text.splitlines():
        head = line.split()
        if head and "-" in head[0] and ":" not in head[0]:
            name = head[5] if len(head) > 5 else "[anonymous]"
        elif head and head[0] in ("Private_Clean:", "Private_Dirty:"):
            totals[name] += int(head[1]) * 1024
    return [(size, n) for n, size in totals.most_common(count)]


def pct(seconds, window):
    return 100.0 * seconds / window


def mb(n):
    return "%8.1f MB" % (n / 1048576)


def measure(seconds):
    harness.reset_data_dir()
    harness.copy_program("idle.exe", DO_NOTHING)
    server = wineserver_pid()
    if server is None:
        raise CannotMeasure("the prefix's wineserver was not found")
    idle_proc = harness.start(harness.host_path(DO_NOTHING))
    try:
        idle = harness.wait_for(lambda: host_pid("donothing.exe"), timeout=30)
        if idle is None:
            raise CannotMeasure("the do-nothing program did not start")
        time.sleep(2)
        # The server's work without the engine: the do-nothing program and
        # Wine's own processes.
        alone_window = min(seconds, BASELINE_SECONDS)
        s0 = cpu(server, "wineserver")
        time.sleep(alone_window)
        server_alone = cpu(server, "wineserver") - s0

        with Engine() as engine:
            pid = harness.wait_for(lambda: host_pid("tarnwick.exe"), timeout=30)
            if pid is None:
                raise CannotMeasure("the engine's host process was not found")
            time.sleep(SETTLE_SECONDS)
            t0 = time.monotonic()
            e0, s0, i0, th0 = cpu(pid, "engine"), cpu(server, "wineserver"), cpu(idle, "do-nothing program"), threads(pid)
            time.sleep(seconds)
            e1, s1, i1, th1 = cpu(pid, "engine"), cpu(server, "wineserver"), cpu(idle, "do-nothing program"), threads(pid)
            window = time.monotonic() - t0
            if engine.proc.poll() is not None:
                raise CannotMeasure("the engine ended early")
            memory = {
                "engine": (private_bytes("tarnwick.exe"), status_kb(pid, "VmRSS"),
                           status_kb(pid, "RssAnon")),
                "idle": (private_bytes("donothing.exe"), status_kb(idle, "VmRSS"),
                         status_kb(idle, "RssAnon")),
            }
            mappings = largest_private_mappings(pid)
            thread_count = len(th1)
            code, _ = engine.stop()
            if code != 0:
                raise CannotMeasure("the engine ended with exit code %d" % code)
    finally:
        idle_proc.kill()
        idle_proc.communicate()
        run("taskkill", "/F", "/IM", "donothing.exe")

    by_name = collections.OrderedDict()
    for tid, (name, used) in sorted(th1.items()):
        before = th0.get(tid, (name, 0.0))[1]
        count, total = by_name.get(name, (0, 0.0))
        by_name[name] = (count + 1, total + used - before)

    print("idle for %.0f s after %d s of settling, default configuration" % (window, SETTLE_SECONDS))
    print()
    print("CPU, % of one core")
    print("  %-34s %7.2f" % ("engine", pct(e1 - e0, window)))
    for name, (count, used) in sorted(by_name.items(), key=lambda kv: -kv[1][1]):
        label = name if count == 1 else "%s (%d threads)" % (name, count)
        print("    %-32s %7.2f" % (label, pct(used, window)))
    print("  %-34s %7.2f" % ("wineserver, engine running", pct(s1 - s0, window)))
    print("  %-34s %7.2f" % ("wineserver, before the engine", pct(server_alone, alone_window)))
    caused = pct(s1 - s0, window) - pct(server_alone, alone_window)
    print("  %-34s %7.2f" % ("wineserver work the engine causes", caused))
    print("  %-34s %7.2f" % ("engine plus its wineserver work", pct(e1 - e0, window) + caused))
    print("  %-34s %7.2f" % ("do-nothing program", pct(i1 - i0, window)))
    print()
    print("memory                 %11s %11s %11s" % ("engine", "do-nothing", "difference"))
    labels = ["private bytes", "resident", "resident, anonymous"]
    for i, label in enumerate(labels):
        e, d = memory["engine"][i], memory["idle"][i]
        print("  %-20s %s %s %s" % (label, mb(e), mb(d), mb(e - d)))
    print("  engine threads: %d" % thread_count)
    print()
    print("engine's largest private mappings")
    for size, name in mappings:
        print("  %s  %s" % (mb(size), name))


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 60
    if seconds <= 0:
        raise SystemExit("cost: SECONDS must be positive")
    try:
        measure(seconds)
    except (CannotMeasure, AssertionError, subprocess.TimeoutExpired) as e:
        print("cost: cannot measure: %s" % e, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(os.path.join(DRIVE_C, "cost-bin"), ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
