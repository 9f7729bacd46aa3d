"""New autostart values, scheduled tasks and services seen by the real engine,
with the autostart value removed by the automatic response. One engine run
serves every check; the registry is changed with reg.exe, as a user would."""
import subprocess
import time
import unittest

from harness import (TARNWICK, Engine, WineTestCase, alerts_titled, log_alerts, reg, stats, titles,
                     wait_for, wine_env, write_config)

RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
TASK_TREE = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\Tree"
SERVICES = "HKLM\\System\\CurrentControlSet\\Services"
RUN_32 = "HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"
WINLOGON = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"
# A missing key is tried again every 10 s.
REOPEN = 14
# The task watcher polls every 10 s, the service watcher every 15 s; a
# registry change made with reg.exe takes a moment under Wine.
TASK_POLL = 14
SERVICE_POLL = 19


def windows_path(host_path):
    out = subprocess.run(["winepath", "-w", host_path], capture_output=True, text=True,
                         env=wine_env(), timeout=60)
    return out.stdout.strip()


def alerts_keyed(key):
    return [a for a in log_alerts() if a["dedup_key"] == key]


class PersistenceDetection(WineTestCase):
    def tearDown(self):
        for value in ("Updater", "Tarnwick"):
            reg("delete", RUN_KEY, "/v", value, "/f")
        reg("delete", RUN_32, "/v", "Updater32", "/f")
        reg("add", WINLOGON, "/v", "Shell", "/d", "explorer.exe", "/f")
        for key in (TASK_TREE + "\\TarnwickE2E", TASK_TREE + "\\Microsoft\\TarnwickE2E",
                    SERVICES + "\\TarnwickE2ESvc", SERVICES + "\\TarnwickE2EDrv"):
            reg("delete", key, "/f")

    def test_autostart_task_and_service(self):
        write_config(auto_response_enabled=True, auto_response_min_severity="High")
        exe = windows_path(TARNWICK)
        self.assertTrue(exe.lower().endswith("\\tarnwick.exe"), exe)
        with Engine() as engine:
            # The watchers read their baselines as the detector starts.
            time.sleep(1)

            # The engine's own entry first: the same watcher handles it before the next one.
            self.assertTrue(reg("add", RUN_KEY, "/v", "Tarnwick", "/d", '"%s" service' % exe, "/f"))
            self.assertTrue(reg("add", RUN_KEY, "/v", "Updater", "/d", "C:\\users\\Public\\updater.exe",
                                "/f"))
            added = time.monotonic()
            detection = wait_for(lambda: alerts_keyed("run:HKCU\\...\\Run:Updater"), 10)
            self.assertTrue(detection, titles())
            self.assertLess(time.monotonic() - added, 3.0)
            alert = detection[0]
            self.assertEqual(alert["title"], "New autostart entry")
            self.assertEqual(alert["source"], "Persistence")
            self.assertEqual(alert["severity"], "High")
            self.assertEqual(alert["detail"],
                             "Added \"Updater\" under HKCU\\...\\Run\n\n"
                             "MITRE ATT&CK: T1547.001 (Registry Run Key)  \u00b7  CVSS 7.2 (High)")
            self.assertEqual(alert["remediation"], {"DeleteRegValue": {
                "hive": "HKCU", "subkey": "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                "value": "Updater"}})

            report = "Threat blocked: persistence removed"
            self.assertTrue(wait_for(lambda: report in titles(), 10), titles())
            order = titles()
            self.assertLess(order.index("New autostart entry"), order.index(report))
            self.assertEqual(alerts_titled(report)[0]["detail"],
                             "Detection: New autostart entry\n"
                             "Location: HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\n"
                             "Entry: \"Updater\"\n"
                             "Action: the malicious autostart entry was DELETED. It will no longer run at boot.")
            self.assertFalse(reg("query", RUN_KEY, "/v", "Updater"))
            self.assertTrue(wait_for(lambda: (stats() or {}).get("actions") == 1, 10), stats())
            # Its own entry raised nothing and is still there.
            self.assertEqual(alerts_keyed("run:HKCU\\...\\Run:Tarnwick"), [])
            self.assertTrue(reg("query", RUN_KEY, "/v", "Tarnwick"))

            # The Microsoft folder's task and the driver go in first, so the poll
            # that finds the later one has seen them too.
            self.assertTrue(reg("add", TASK_TREE + "\\Microsoft\\TarnwickE2E", "/f"))
            self.assertTrue(reg("add", TASK_TREE + "\\TarnwickE2E", "/f"))
            self.assertTrue(reg("add", SERVICES + "\\TarnwickE2EDrv", "/v", "Type", "/t", "REG_DWORD",
                                "/d", "1", "/f"))
            self.assertTrue(reg("add", SERVICES + "\\TarnwickE2ESvc", "/v", "Type", "/t", "REG_DWORD",
                                "/d", "16", "/f"))
            task = wait_for(lambda: alerts_keyed("task:TarnwickE2E"), TASK_POLL)
            self.assertTrue(task, titles())
            self.assertEqual(task[0]["title"], "New scheduled task created")
            service = wait_for(lambda: alerts_keyed("svc:TarnwickE2ESvc"), SERVICE_POLL)
            self.assertTrue(service, titles())
            self.assertEqual(service[0]["title"], "New Windows service registered")
            self.assertEqual(service[0]["detail"], "Service \"TarnwickE2ESvc\" appeared in the registry.")

            keys = [a["dedup_key"] for a in log_alerts()]
            self.assertNotIn("task:Microsoft\\TarnwickE2E", keys)
            self.assertNotIn("svc:TarnwickE2EDrv", keys)
            code, _ = engine.stop()
        self.assertEqual(code, 0)
        self.assertNotIn(b"persistence", engine.stderr)

    def test_32_bit_run_key_and_logon_shell(self):
        write_config()
        with Engine() as engine:
            time.sleep(1)
            # Written as a 32-bit installer's Run value lands; the key does not
            # exist before, so the value comes with the key.
            self.assertTrue(reg("add", RUN_32, "/v", "Updater32", "/d", "C:\\users\\Public\\u.exe", "/f"))
            found = wait_for(lambda: alerts_keyed("run:HKLM\\...\\Run (32-bit):Updater32"), REOPEN)
            self.assertTrue(found, titles())
            self.assertEqual(found[0]["title"], "New autostart entry")
            self.assertEqual(found[0]["remediation"], {"DeleteRegValue": {
                "hive": "HKLM", "subkey": "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
                "value": "Updater32"}})

            self.assertTrue(reg("add", WINLOGON, "/v", "Shell", "/d", "explorer.exe, C:\\evil.exe", "/f"))
            key = "runchg:HKLM\\...\\Winlogon (Shell/Userinit):Shell"
            changed = wait_for(lambda: alerts_keyed(key), 10)
            self.assertTrue(changed, titles())
            self.assertEqual(changed[0]["title"], "Autostart value changed")
            self.assertEqual(changed[0]["severity"], "High")
            self.assertEqual(changed[0]["detail"],
                             "Changed \"Shell\" under HKLM\\...\\Winlogon (Shell/Userinit) from "
                             "\"explorer.exe\" to \"explorer.exe, C:\\evil.exe\"\n\n"
                             "MITRE ATT&CK: T1547.004 (Winlogon Helper DLL)  \u00b7  CVSS 7.2 (High)")
            self.assertIsNone(changed[0].get("remediation"))
            code, _ = engine.stop()
        self.assertEqual(code, 0)


if __name__ == "__main__":
    unittest.main()
