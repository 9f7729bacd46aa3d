"""Process starts seen by the real engine (snapshot fallback: Wine has no
real-time kernel trace)."""
import os
import shutil
import time
import unittest

from harness import (DRIVE_C, FALLBACK_TITLE, Engine, WineTestCase, alerts_titled, copy_program,
                     kill_windows_process, launch, wait_for)
# One 3 s polling period, plus the time a start takes under Wine.
POLL = 8


class ProcessDetection(WineTestCase):
    def setUp(self):
        super().setUp()
        self.started = []
        self.work = os.path.join(DRIVE_C, "tarnwick-e2e")
        shutil.rmtree(self.work, ignore_errors=True)

    def tearDown(self):
        for pid in self.started:
            kill_windows_process(pid)
        shutil.rmtree(self.work, ignore_errors=True)
        for leftover in ("x.scr",):
            path = os.path.join(DRIVE_C, "users", "Public", leftover)
            if os.path.exists(path):
                os.remove(path)

    def test_fallback_alert_then_launches_are_judged(self):
        with Engine():
            self.assertTrue(wait_for(lambda: alerts_titled(FALLBACK_TITLE), 10))
            fallback = alerts_titled(FALLBACK_TITLE)[0]
            self.assertEqual(fallback["source"], "System")
            self.assertEqual(fallback["severity"], "Low")
            self.assertEqual(fallback["detail"],
                             "Reason: OpenTraceW failed (error 5). "
                             "Run as Administrator for real-time process detection.")
            self.assertIsNone(fallback["pid"])
            # The baseline snapshot follows the alert; start after it.
            time.sleep(1)

            copy_program("spin.exe", "C:\\tarnwick-e2e\\mimikatz.exe")
            pid = launch("C:\\tarnwick-e2e\\mimikatz.exe")
            self.started.append(pid)
            hits = wait_for(lambda: alerts_titled("Credential dumping tool (Mimikatz)"), POLL)
            self.assertTrue(hits, "no credential dumping alert")
            self.assertEqual(hits[0]["severity"], "Critical")
            self.assertEqual(hits[0]["source"], "Process")
            self.assertEqual(hits[0]["pid"], pid)
            self.assertEqual(hits[0]["dedup_key"], "creddump:%d" % pid)
            # The snapshot fallback sees no command line.
            self.assertTrue(hits[0]["detail"].startswith("pid %d: \n\nMITRE ATT&CK: T1003" % pid),
                            hits[0]["detail"])

            copy_program("spin.exe", "C:\\users\\Public\\x.scr")
            scr = launch("C:\\users\\Public\\x.scr")
            self.started.append(scr)
            sus = wait_for(lambda: alerts_titled("Execution from suspicious location"), POLL)
            self.assertTrue(sus, "no drop-folder alert")
            self.assertEqual(sus[0]["severity"], "Medium")
            self.assertEqual(sus[0]["pid"], scr)
            self.assertEqual(sus[0]["dedup_key"], "susloc:C:\\users\\Public\\x.scr")
            self.assertTrue(sus[0]["detail"].startswith(
                "Unsigned x.scr ran from a malware-favoured drop folder (parent ).\n"
                "C:\\users\\Public\\x.scr\n\nMITRE ATT&CK: T1204 (User Execution)"), sus[0]["detail"])
        # Raised once per detector start, whatever happened since.
        self.assertEqual(len(alerts_titled(FALLBACK_TITLE)), 1)

    def test_processes_running_before_the_start_are_not_judged(self):
        copy_program("spin.exe", "C:\\tarnwick-e2e\\mimikatz.exe")
        self.started.append(launch("C:\\tarnwick-e2e\\mimikatz.exe"))
        with Engine():
            self.assertTrue(wait_for(lambda: alerts_titled(FALLBACK_TITLE), 10))
            time.sleep(POLL)
            self.assertEqual(alerts_titled("Credential dumping tool (Mimikatz)"), [])


if __name__ == "__main__":
    unittest.main()
