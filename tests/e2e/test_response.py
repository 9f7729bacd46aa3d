"""Automatic responses of the real engine to a process alert."""
import json
import os
import shutil
import time
import unittest

from harness import (DATA_DIR, DRIVE_C, Engine, WineTestCase, alerts_titled, copy_program,
                     kill_windows_process, launch, read_bytes, stats, titles, wait_for,
                     wait_past_baseline, wine_process_args, write_config)

DETECTION = "Credential dumping tool (Mimikatz)"
WORK = os.path.join(DRIVE_C, "tarnwick-e2e")
PROGRESS = os.path.join(WORK, "progress.txt")


def progress():
    data = read_bytes(PROGRESS)
    return int(data) if data else -1


def mimikatz_running():
    return any("mimikatz.exe" in a for a in wine_process_args())


class AutoResponse(WineTestCase):
    def setUp(self):
        super().setUp()
        shutil.rmtree(WORK, ignore_errors=True)
        self.pid = None

    def tearDown(self):
        if self.pid:
            kill_windows_process(self.pid)
        shutil.rmtree(WORK, ignore_errors=True)

    def start_mimikatz(self):
        self.assertTrue(wait_past_baseline())
        copy_program("spin.exe", "C:\\tarnwick-e2e\\mimikatz.exe")
        self.pid = launch("C:\\tarnwick-e2e\\mimikatz.exe", "C:\\tarnwick-e2e\\progress.txt")
        self.assertTrue(wait_for(lambda: progress() >= 0, 10))

    def test_critical_process_is_suspended(self):
        write_config(auto_response_enabled=True)
        with Engine():
            self.start_mimikatz()
            report = "Threat blocked: process suspended"
            self.assertTrue(wait_for(lambda: report in titles(), 10), titles())
            order = titles()
            self.assertLess(order.index(DETECTION), order.index(report))
            alert = alerts_titled(report)[0]
            self.assertEqual(alert["severity"], "High")
            self.assertEqual(alert["source"], "System")
            self.assertTrue(alert["detail"].startswith(
                "Process: mimikatz.exe (PID %d)\nPath: C:\\tarnwick-e2e\\mimikatz.exe\n"
                "Detection: %s\n" % (self.pid, DETECTION)), alert["detail"])
            self.assertTrue(alert["detail"].endswith(
                "\nAction: process SUSPENDED (frozen, reversible). Resume or kill it from the dashboard."))
            # Frozen: its counter no longer moves, though the process is still there.
            time.sleep(0.5)
            frozen = progress()
            time.sleep(1.0)
            self.assertEqual(progress(), frozen)
            self.assertTrue(mimikatz_running())
            # The snapshot is rewritten right after the action.
            self.assertEqual(stats()["actions"], 1)
            self.assertEqual(stats()["quarantined"], 0)

    def test_critical_process_is_terminated_and_quarantined(self):
        write_config(auto_response_enabled=True, auto_kill_on_critical=True, auto_quarantine=True)
        original = os.path.join(WORK, "mimikatz.exe")
        with Engine():
            self.start_mimikatz()
            size = os.path.getsize(original)
            report = "Threat blocked: terminated & quarantined"
            self.assertTrue(wait_for(lambda: report in titles(), 10), titles())
            self.assertTrue(wait_for(lambda: not mimikatz_running(), 10))
            self.pid = None
            self.assertFalse(os.path.exists(original))

            detail = alerts_titled(report)[0]["detail"]
            marker = "moved to quarantine (id "
            ident = detail[detail.index(marker) + len(marker):].split(")")[0]
            self.assertRegex(ident, r"^q\d+_\d+$")
            folder = os.path.join(DATA_DIR, "quarantine")
            self.assertEqual(sorted(os.listdir(folder)), [ident + ".bin", ident + ".json"])
            self.assertEqual(os.path.getsize(os.path.join(folder, ident + ".bin")), size)
            record_text = read_bytes(os.path.join(folder, ident + ".json"))
            self.assertFalse(record_text.endswith(b"\n"))
            record = json.loads(record_text)
            self.assertEqual(list(record), ["id", "original_path", "reason", "ts_unix", "size"])
            self.assertEqual(record["id"], ident)
            self.assertEqual(record["original_path"], "C:\\tarnwick-e2e\\mimikatz.exe")
            self.assertEqual(record["reason"], DETECTION)
            self.assertEqual(record["size"], size)
            self.assertEqual(stats()["actions"], 1)
            self.assertEqual(stats()["quarantined"], 1)

    def test_quarantine_folder_reached_through_a_link_is_refused(self):
        # A folder named "quarantine" that leads elsewhere (a junction on
        # Windows; a symbolic link, which Wine reports as a reparse point).
        write_config(auto_response_enabled=True, auto_kill_on_critical=True, auto_quarantine=True)
        trap = os.path.join(WORK, "trap")
        os.makedirs(trap)
        os.symlink(trap, os.path.join(DATA_DIR, "quarantine"))
        original = os.path.join(WORK, "mimikatz.exe")
        with Engine():
            self.start_mimikatz()
            report = "Threat blocked: process terminated"
            self.assertTrue(wait_for(lambda: report in titles(), 10), titles())
            self.assertTrue(wait_for(lambda: not mimikatz_running(), 10))
            self.pid = None
            self.assertTrue(os.path.exists(original))
            self.assertEqual(os.listdir(trap), [])
            self.assertEqual(stats()["quarantined"], 0)


class Push(WineTestCase):
    # Where Windows keeps its own curl. A second recording copy on the search
    # path must stay unused: the push names the system's by its full path.
    SYSTEM_CURL = "C:\\windows\\system32\\curl.exe"
    BIN = os.path.join(DRIVE_C, "tarnwick-bin")
    RECORD = os.path.join(WORK, "curl.jsonl")

    def setUp(self):
        super().setUp()
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        self.system_curl = copy_program("curl.exe", self.SYSTEM_CURL)
        copy_program("curl.exe", "C:\\tarnwick-bin\\curl.exe")
        self.pids = []

    def tearDown(self):
        for pid in self.pids:
            kill_windows_process(pid)
        shutil.rmtree(WORK, ignore_errors=True)
        shutil.rmtree(self.BIN, ignore_errors=True)
        os.remove(self.system_curl)

    def records(self):
        data = read_bytes(self.RECORD)
        return [json.loads(line) for line in data.decode().splitlines()] if data else []

    def test_only_critical_process_alerts_are_pushed(self):
        write_config(ntfy_topic="tarnwick-e2e", ntfy_server="https://ntfy.example///")
        env = {"WINEPATH": "C:\\tarnwick-bin", "TARNWICK_CURL_RECORD": "C:\\tarnwick-e2e\\curl.jsonl"}
        with Engine(env=env):
            self.assertTrue(wait_past_baseline())
            copy_program("spin.exe", "C:\\tarnwick-e2e\\ngrok.exe")
            self.pids.append(launch("C:\\tarnwick-e2e\\ngrok.exe"))
            self.assertTrue(wait_for(lambda: "Tunnel / RAT process launched" in titles(), 10))
            copy_program("spin.exe", "C:\\tarnwick-e2e\\mimikatz.exe")
            self.pids.append(launch("C:\\tarnwick-e2e\\mimikatz.exe"))
            self.assertTrue(wait_for(lambda: DETECTION in titles(), 10))
            self.assertTrue(wait_for(self.records, 10))
            time.sleep(1)
            detail = alerts_titled(DETECTION)[0]["detail"]
        records = self.records()
        self.assertEqual(len(records), 1, records)
        self.assertEqual(records[0]["argv"][0].lower(), self.SYSTEM_CURL.lower())
        self.assertEqual(records[0]["argv"][1:], [
            "-s", "--max-time", "8",
            "-H", "Title: Tarnwick: " + DETECTION,
            "-H", "Priority: urgent",
            "-H", "Tags: rotating_light",
            "--data-raw", detail,
            "https://ntfy.example/tarnwick-e2e",
        ])
        # Output and errors go to the null device (a character device).
        self.assertEqual(records[0]["stdout_type"], 2)
        self.assertEqual(records[0]["stderr_type"], 2)


if __name__ == "__main__":
    unittest.main()
