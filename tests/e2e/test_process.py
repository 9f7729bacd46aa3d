"""Process starts seen by the real engine (snapshot fallback: Wine has no
real-time kernel trace), with the command line read from each new process and
the parent taken from the same snapshot."""
import os
import shutil
import time
import unittest

from harness import (DRIVE_C, FALLBACK_TITLE, Engine, WineTestCase, alerts_titled, copy_program,
                     host_path, kill_windows_process, launch, titles, wait_for, wait_past_baseline)
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
        for leftover in ("x.scr", "child.pid"):
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
            self.assertTrue(hits[0]["detail"].startswith(
                "pid %d: \"C:\\tarnwick-e2e\\mimikatz.exe\"\n\nMITRE ATT&CK: T1003" % pid),
                hits[0]["detail"])

            copy_program("spin.exe", "C:\\users\\Public\\x.scr")
            scr = launch("C:\\users\\Public\\x.scr")
            self.started.append(scr)
            sus = wait_for(lambda: alerts_titled("Execution from suspicious location"), POLL)
            self.assertTrue(sus, "no drop-folder alert")
            self.assertEqual(sus[0]["severity"], "Medium")
            self.assertEqual(sus[0]["pid"], scr)
            self.assertEqual(sus[0]["dedup_key"], "susloc:C:\\users\\Public\\x.scr")
            # Its parent, launch.exe, ends at once: whether a snapshot still
            # holds it is a race.
            expected = ("Unsigned x.scr ran from a malware-favoured drop folder (parent %s).\n"
                        "C:\\users\\Public\\x.scr\n\nMITRE ATT&CK: T1204 (User Execution)")
            self.assertTrue(any(sus[0]["detail"].startswith(expected % parent)
                                for parent in ("", "launch.exe")), sus[0]["detail"])
        # Raised once per detector start, whatever happened since.
        self.assertEqual(len(alerts_titled(FALLBACK_TITLE)), 1)

    def test_command_lines_and_parents_reach_the_rules(self):
        child_pid_file = "C:\\users\\Public\\child.pid"
        if os.path.exists(host_path(child_pid_file)):  # left by an interrupted run
            os.remove(host_path(child_pid_file))
        encoded = "SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAKQA="
        with Engine():
            self.assertTrue(wait_past_baseline())
            # idle.exe ignores its arguments (spin.exe would take the first as a file to write).
            copy_program("idle.exe", "C:\\tarnwick-e2e\\powershell.exe")
            copy_program("idle.exe", "C:\\tarnwick-e2e\\vssadmin.exe")
            copy_program("launch.exe", "C:\\tarnwick-e2e\\WINWORD.EXE")
            ps = launch("C:\\tarnwick-e2e\\powershell.exe", "-enc", encoded)
            self.started.append(ps)
            vss = launch("C:\\tarnwick-e2e\\vssadmin.exe", "delete", "shadows", "/all", "/quiet")
            self.started.append(vss)
            # A document reader that starts PowerShell and stays open.
            word = launch("C:\\tarnwick-e2e\\WINWORD.EXE", "--stay", child_pid_file,
                          "C:\\tarnwick-e2e\\powershell.exe", "-nop", "-w", "hidden")
            self.started.append(word)
            self.assertTrue(wait_for(lambda: os.path.exists(host_path(child_pid_file)), 10))
            with open(host_path(child_pid_file)) as f:
                child = int(f.read())
            self.started.append(child)

            encoded_alerts = wait_for(lambda: [a for a in alerts_titled("Obfuscated / download PowerShell")
                                               if a["pid"] == ps], POLL)
            self.assertTrue(encoded_alerts, titles())
            self.assertEqual(encoded_alerts[0]["severity"], "High")
            self.assertEqual(encoded_alerts[0]["dedup_key"], "psenc:%d" % ps)
            self.assertTrue(encoded_alerts[0]["detail"].startswith(
                'pid %d: "C:\\tarnwick-e2e\\powershell.exe" "-enc" "%s"\n\nMITRE ATT&CK: T1059.001'
                % (ps, encoded)), encoded_alerts[0]["detail"])

            shadows = wait_for(lambda: alerts_titled("Backup / shadow-copy deletion (ransomware prep)"), POLL)
            self.assertTrue(shadows, titles())
            self.assertEqual(shadows[0]["severity"], "Critical")
            self.assertEqual(shadows[0]["pid"], vss)
            self.assertEqual(shadows[0]["dedup_key"], "norecovery:%d" % vss)
            self.assertIn('Cmdline: "C:\\tarnwick-e2e\\vssadmin.exe" "delete" "shadows" "/all" "/quiet"',
                          shadows[0]["detail"])

            spawned = wait_for(lambda: alerts_titled("Suspicious child process (possible exploit)"), POLL)
            self.assertTrue(spawned, titles())
            self.assertEqual(len(spawned), 1, spawned)
            self.assertEqual(spawned[0]["severity"], "Critical")
            self.assertEqual(spawned[0]["pid"], child)
            # The rules name the parent in lower case.
            self.assertEqual(spawned[0]["dedup_key"], "loltbin:winword.exe->powershell.exe:%d" % child)
            self.assertTrue(spawned[0]["detail"].startswith(
                'winword.exe spawned powershell.exe (pid %d). Cmdline: '
                '"C:\\tarnwick-e2e\\powershell.exe" "-nop" "-w" "hidden"\n\n' % child),
                spawned[0]["detail"])

    def test_processes_running_before_the_start_are_not_judged(self):
        copy_program("spin.exe", "C:\\tarnwick-e2e\\mimikatz.exe")
        self.started.append(launch("C:\\tarnwick-e2e\\mimikatz.exe"))
        with Engine():
            self.assertTrue(wait_for(lambda: alerts_titled(FALLBACK_TITLE), 10))
            time.sleep(POLL)
            self.assertEqual(alerts_titled("Credential dumping tool (Mimikatz)"), [])


if __name__ == "__main__":
    unittest.main()
