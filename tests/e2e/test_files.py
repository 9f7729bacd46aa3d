"""File activity in the real engine: a burst of encrypted-looking files, the
same while a game keeps game mode on, and a configuration whose only watched
folder is missing."""
import glob
import os
import shutil
import subprocess
import time
import unittest

from harness import (DATA_DIR, DRIVE_C, PROGRAMS, Engine, WineTestCase, alerts_titled,
                     copy_program, run, stats, titles, wait_for, wine_env, write_config)

FOLDER = "C:\\tarnwick-files"
HOST_FOLDER = os.path.join(DRIVE_C, "tarnwick-files")
TITLE = "Possible ransomware activity"
MITRE = "\n\nMITRE ATT&CK: T1486 (Data Encrypted for Impact)  \u00b7  CVSS 9.4 (Critical)"


def write_files(folder, count, ext):
    r = run(os.path.join(PROGRAMS, "writefiles.exe"), folder, str(count), ext)
    assert r.returncode == 0, "writefiles.exe failed with %d" % r.returncode


def ransomware_alerts():
    return alerts_titled(TITLE)


def wait_for_game_mode(timeout=30):
    """True once the connection snapshot, rewritten every 3 s and every 10 s
    in game mode, has gone 6 s without a rewrite."""
    path = os.path.join(DATA_DIR, "Tarnwick.conns.json")
    last, since = None, time.monotonic()
    end = since + timeout
    while time.monotonic() < end:
        try:
            st = os.stat(path)
            now = (st.st_ino, st.st_mtime_ns)
        except OSError:
            now = None
        if now != last:
            last, since = now, time.monotonic()
        elif last is not None and time.monotonic() - since > 6:
            return True
        time.sleep(0.05)
    return False


class FileActivity(WineTestCase):
    def setUp(self):
        super().setUp()
        shutil.rmtree(HOST_FOLDER, ignore_errors=True)
        os.makedirs(HOST_FOLDER)

    def tearDown(self):
        shutil.rmtree(HOST_FOLDER, ignore_errors=True)
        for path in glob.glob(os.path.join(DRIVE_C, "users", "*", "Documents", "file*.locked")):
            os.remove(path)

    def test_burst_of_locked_files_is_reported_and_nothing_is_suspended(self):
        write_config(watch_dirs=[FOLDER], ransomware_burst_count=10, auto_response_enabled=True)
        with Engine():
            # The watcher's first read may start a moment after the engine
            # announces itself: write again until the burst is seen.
            for _ in range(3):
                write_files(FOLDER, 30, ".locked")
                if wait_for(ransomware_alerts, 5):
                    break
            alerts = ransomware_alerts()
            self.assertEqual(len(alerts), 1, titles())
            alert = alerts[0]
            # The response, if any, would be logged right behind the alert.
            time.sleep(1)
            after = titles()
        self.assertEqual(alert["source"], "Files")
        self.assertEqual(alert["severity"], "Critical")
        self.assertEqual(alert["dedup_key"], "ransom:" + FOLDER)
        detail = alert["detail"]
        self.assertRegex(detail, r"^\d+ file changes in 10s under C:\\tarnwick-files\. "
                                 r"Many files now end in \.locked \(\d+\) \u2014 likely encryption\.")
        self.assertTrue(detail.endswith(MITRE), detail)
        # Wine reports every process's write counter as 0, so the probe finds
        # no culprit: no pid, nothing to suspend.
        self.assertNotIn("Likely culprit", detail)
        self.assertIsNone(alert["pid"])
        self.assertIsNone(alert["remediation"])
        self.assertFalse([t for t in after if t.startswith(("Threat blocked", "Auto-response"))], after)
        self.assertEqual(stats()["actions"], 0)

    def test_burst_while_a_game_runs_is_still_reported(self):
        write_config(watch_dirs=[FOLDER], ransomware_burst_count=10,
                     game_processes=["tarnwick-game.exe"])
        copy_program("spin.exe", "C:\\users\\Public\\tarnwick-game.exe")
        game = subprocess.Popen(["wine", "C:\\users\\Public\\tarnwick-game.exe"], env=wine_env(),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            with Engine():
                self.assertTrue(wait_for_game_mode(), "game mode never came on")
                for _ in range(3):
                    write_files(FOLDER, 30, ".locked")
                    if wait_for(ransomware_alerts, 5):
                        break
                alerts = ransomware_alerts()
                self.assertEqual(game.poll(), None, "the game ended during the test")
        finally:
            game.kill()
            game.wait()
        self.assertEqual(len(alerts), 1, titles())
        self.assertIn("Many files now end in .locked", alerts[0]["detail"])

    def test_only_missing_folder_configured_watches_nothing(self):
        write_config(watch_dirs=[FOLDER + "\\missing"], ransomware_burst_count=10)
        with Engine() as engine:
            self.assertTrue(wait_for(lambda: "No watch directories" in titles(), 10), titles())
            # Had the detector fallen back to a profile folder, this would alert.
            write_files("%USERPROFILE%\\Documents", 30, ".locked")
            time.sleep(3)
            now = titles()
        self.assertEqual(now.count("No watch directories"), 1, now)
        self.assertNotIn(TITLE, now)
        alert = alerts_titled("No watch directories")[0]
        self.assertEqual(alert["source"], "Files")
        self.assertEqual(alert["severity"], "Low")
        self.assertEqual(alert["detail"], "Ransomware watch found no folders to monitor.")
        # The detector ends at once and its supervisor starts it again.
        self.assertIn(b"[supervisor] detector 'files' exited; restarting in 1s", engine.stderr)


if __name__ == "__main__":
    unittest.main()
