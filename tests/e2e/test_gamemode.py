"""Game mode in real runs, seen through the connection snapshot file, which is
rewritten every 3 s and every 10 s while game mode is on. Headless, a
configured game process switches it on and off, and the desktop Wine puts in
front never does; under a virtual display, a borderless window covering the
screen does the same (a copy of the test prefix with its own server)."""
import os
import shutil
import subprocess
import threading
import time
import unittest

from harness import (BUILD_DIR, DATA_DIR, PREFIX, PROGRAMS, Engine, WineTestCase, copy_program,
                     wait_for, wine_env, write_config)

NORMAL = 3.0
GAME = 10.0


def near(gap, interval):
    return interval - 0.6 <= gap <= interval + 1.5


class Rewrites:
    """The times at which a file was replaced, noted by a polling thread."""

    def __init__(self, path):
        self.path = path
        self.times = []
        self.lock = threading.Lock()
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        last = None
        while not self.done.is_set():
            try:
                st = os.stat(self.path)
                now = (st.st_ino, st.st_mtime_ns)
            except OSError:
                now = None
            if now is not None and now != last:
                with self.lock:
                    self.times.append(time.monotonic())
                last = now
            time.sleep(0.05)

    def stop(self):
        self.done.set()
        self.thread.join()

    def first_after(self, t, timeout):
        """The first rewrite later than `t`; fails after `timeout` seconds from now."""
        def find():
            with self.lock:
                later = [w for w in self.times if w > t]
            return later[0] if later else None
        found = wait_for(find, timeout, 0.05)
        assert found, "no rewrite after %.1f (rewrites: %r)" % (t, self.times)
        return found

    def gap_after(self, w):
        """Seconds from rewrite `w` to the next one."""
        return self.first_after(w, GAME + 4) - w


def check_switching(test, rewrites, begin, end):
    """Off at first; `begin()` (which returns when the game is up) turns game
    mode on within about 3 s, `end()` off again about 5 s after."""
    # Off: two gaps of 3 s.
    w = rewrites.first_after(time.monotonic(), 10)
    for _ in range(2):
        gap = rewrites.gap_after(w)
        test.assertTrue(near(gap, NORMAL), "game mode on before any game: gap %.1f s" % gap)
        w += gap

    began = time.monotonic()
    begin()
    # Three polls a second apart: a rewrite 4.5 s after the start begins a
    # long wait (the one before it may have begun one already).
    on = rewrites.first_after(began + 4.5, 4.5 + GAME + 2)
    gap = rewrites.gap_after(on)
    test.assertTrue(near(gap, GAME), "game mode not on %.1f s after the start: gap %.1f s"
                    % (on - began, gap))
    on += gap

    # Ended 3.5 s after a rewrite: the next one, 6.5 s after the end, finds
    # five misses in a row behind it.
    time.sleep(max(0.0, on + 3.5 - time.monotonic()))
    ended = time.monotonic()
    end()
    off = rewrites.first_after(ended, GAME + 4)
    test.assertTrue(near(off - on, GAME))
    gap = rewrites.gap_after(off)
    test.assertTrue(near(gap, NORMAL), "game mode still on %.1f s after the end: gap %.1f s"
                    % (off - ended, gap))


class GameProcess(WineTestCase):
    def test_a_configured_game_turns_game_mode_on_and_off(self):
        # Listed in another ASCII case than the file's name.
        write_config(game_processes=["Tarnwick-GAME.EXE"])
        copy_program("spin.exe", "C:\\users\\Public\\tarnwick-game.exe")
        game = []
        with Engine() as engine:
            rewrites = Rewrites(os.path.join(DATA_DIR, "Tarnwick.conns.json"))
            self.addCleanup(rewrites.stop)

            def begin():
                game.append(subprocess.Popen(
                    ["wine", "C:\\users\\Public\\tarnwick-game.exe"], env=wine_env(),
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

            def end():
                game[0].kill()
                game[0].wait()

            try:
                check_switching(self, rewrites, begin, end)
            finally:
                if game and game[0].poll() is None:
                    end()
            code, _ = engine.stop()
        self.assertEqual(code, 0)


class Xvfb:
    """A virtual X display on a free display number."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            self.close()
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait()


@unittest.skipUnless(shutil.which("Xvfb"), "Xvfb is not installed (scripts/bootstrap installs it)")
class FullScreenWindow(unittest.TestCase):
    """A copy of the test prefix whose server, and so whose desktop, lives in
    a virtual display."""

    def setUp(self):
        self.prefix = os.path.join(BUILD_DIR, "wine-prefix-display")
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["cp", "-a", PREFIX, self.prefix], check=True)
        self.addCleanup(shutil.rmtree, self.prefix, True)
        self.data_dir = os.path.join(self.prefix, "drive_c", "ProgramData", "Tarnwick")
        shutil.rmtree(self.data_dir, ignore_errors=True)

        self.xvfb = Xvfb()
        self.addCleanup(self.xvfb.close)
        self.env = {"WINEPREFIX": self.prefix, "DISPLAY": self.xvfb.display}
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], env=wine_env(self.env), check=True, **quiet)
        self.addCleanup(subprocess.run, ["wineserver", "-k"], env=wine_env(self.env), **quiet)
        # Wine's own background programs, and the desktop, start with the
        # first program: here, not as children holding a scenario's pipes.
        subprocess.run(["wine", "cmd.exe", "/c", "exit"], env=wine_env(self.env), timeout=120, **quiet)

    def test_a_full_screen_window_turns_game_mode_on_and_off(self):
        ready = os.path.join(self.prefix, "drive_c", "users", "Public", "fullscreen.ready")
        window = []
        with Engine(env=self.env, data_dir=self.data_dir) as engine:
            rewrites = Rewrites(os.path.join(self.data_dir, "Tarnwick.conns.json"))
            self.addCleanup(rewrites.stop)

            def begin():
                window.append(subprocess.Popen(
                    ["wine", os.path.join(PROGRAMS, "fullscreen.exe"),
                     "C:\\users\\Public\\fullscreen.ready", "120"],
                    env=wine_env(self.env), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL))
                self.assertTrue(wait_for(lambda: os.path.exists(ready), 20),
                                "the window never came to the front")

            def end():
                window[0].kill()
                window[0].wait()

            try:
                check_switching(self, rewrites, begin, end)
            finally:
                if window and window[0].poll() is None:
                    end()
            code, _ = engine.stop()
        self.assertEqual(code, 0)


if __name__ == "__main__":
    unittest.main()
