"""The data directory, configuration, statistics and alert log of a real run."""
import json
import os
import re
import time
import unittest

from harness import (CONFIG, DATA_DIR, LOG, STATS, Engine, WineTestCase, log_alerts, read_bytes,
                     stats, wait_for)

DEFAULT_CONFIG = b"""{
  "toast_min_severity": "High",
  "auto_response_enabled": false,
  "auto_response_min_severity": "Critical",
  "auto_response_suspend": true,
  "auto_remove_persistence": true,
  "auto_stop_ransomware": true,
  "auto_stop_network_threat": true,
  "auto_kill_on_critical": false,
  "auto_quarantine": false,
  "ntfy_topic": "",
  "ntfy_server": "https://ntfy.sh",
  "game_mode_enabled": true,
  "game_processes": [],
  "watch_dirs": [],
  "ransomware_burst_count": 20,
  "ransomware_window_secs": 10,
  "event_log": true,
  "syslog_server": ""
}"""

STARTUP_LINE = re.compile(
    rb'^\{"ts_unix":\d+,"source":"System","severity":"Info","title":"Tarnwick is patrolling",'
    rb'"detail":"All sentinels online: network, process, persistence, files, DNS, '
    rb'self-protection\.","pid":null,"dedup_key":"SYS:Tarnwick is patrolling",'
    rb'"remediation":null\}\n')

STATS_TEXT = re.compile(
    rb'^\{\n  "total_alerts": (\d+),\n  "threats": (\d+),\n  "actions": (\d+),\n'
    rb'  "quarantined": (\d+),\n  "uptime_secs": (\d+),\n  "peak_risk": (\d+),\n'
    rb'  "ts_unix": (\d+)\n\}$')


class DataFiles(WineTestCase):
    def test_fresh_prefix_then_a_second_run(self):
        self.assertFalse(os.path.exists(DATA_DIR))
        engine = Engine()
        # The statistics file is written as soon as the writer starts.
        self.assertTrue(wait_for(lambda: read_bytes(STATS), 20))
        engine.wait_started()
        self.assertEqual(read_bytes(CONFIG), DEFAULT_CONFIG)
        # The start-up alert, unless a detector was quicker (the process
        # detector reports its fallback as it starts).
        lines = read_bytes(LOG).splitlines(keepends=True)
        startup = [line for line in lines if b"Tarnwick is patrolling" in line]
        self.assertEqual(len(startup), 1)
        self.assertRegex(startup[0], STARTUP_LINE)
        self.assertTrue(lines[0] == startup[0] or b'"source":"System"' in lines[0], lines[0])
        ts = json.loads(startup[0])["ts_unix"]
        self.assertLess(abs(ts - time.time()), 120)
        code, _ = engine.stop()
        self.assertEqual(code, 0)
        final = STATS_TEXT.match(read_bytes(STATS))
        self.assertIsNotNone(final, read_bytes(STATS))
        first_run = len(log_alerts())
        self.assertEqual(final.group(1), str(first_run).encode())
        self.assertEqual(final.groups()[1:4], (b"0", b"0", b"0"))

        with Engine():
            pass
        self.assertEqual(stats()["total_alerts"], len(log_alerts()))
        self.assertEqual([a["title"] for a in log_alerts()].count("Tarnwick is patrolling"), 2)
        self.assertEqual(read_bytes(CONFIG), DEFAULT_CONFIG)

    def test_malformed_configuration_is_left_alone(self):
        os.makedirs(DATA_DIR)
        text = b'{"toast_min_severity": "high", "auto_response_enabled": true}'
        with open(CONFIG, "wb") as f:
            f.write(text)
        with Engine():
            pass
        self.assertEqual(read_bytes(CONFIG), text)
        self.assertEqual(stats()["total_alerts"], len(log_alerts()))


if __name__ == "__main__":
    unittest.main()
