"""Alerts collected centrally: forwarded to a real rsyslogd over TCP, and
written to the Windows Event Log (seen in Wine's event-log trace, since
Wine's ReportEventW stores nothing)."""
import subprocess
import sys
import time
import unittest

from collector import Collector
from harness import (CONFIG, LOG, TARNWICK, Engine, WineTestCase, alerts_titled, read_bytes, reg,
                     run, titles, wait_for, wine_env, wine_process_args, write_config)

RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
SOURCE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarnwick"
# Value names that make hostile alert texts: quotes, a backslash, non-ASCII,
# and what looks like a syslog header and an octet count.
VALUES = ['E2E "quoted" \\ caf\u00e9', "E2E 12 <34>1 - - fake", "E2E \u65e5\u672c", "E2E plain"]
DOWN_VALUES = ["E2E while down 1", "E2E while down 2"]


def log_lines():
    data = read_bytes(LOG) or b""
    return data.split(b"\n")[:-1]


def add_run_value(name):
    assert reg("add", RUN_KEY, "/v", name, "/d", "C:\\users\\Public\\x.exe", "/f")


def value_alert_logged(name):
    needle = ('Added \\"%s\\"' % name.replace("\\", "\\\\").replace('"', '\\"')).encode()
    return lambda: any(needle in line for line in log_lines())


class SyslogToRsyslog(WineTestCase):
    def setUp(self):
        super().setUp()
        self.collector = Collector()
        self.collector.start()

    def tearDown(self):
        self.collector.close()
        for name in VALUES + DOWN_VALUES:
            reg("delete", RUN_KEY, "/v", name, "/f")

    def assert_each_line_once(self, logged):
        received = self.collector.lines()
        missing = [line for line in logged if line not in received]
        extra = [line for line in received if received.count(line) != 1 or line not in logged]
        self.assertEqual((missing, extra), ([], []))
        # Sent in the order they were logged.
        self.assertEqual(received, logged)

    def test_every_line_arrives_once_also_across_an_outage(self):
        # By name: the resolver, and every address it gives, on the way.
        write_config(syslog_server="localhost:%d" % self.collector.port)
        with Engine() as engine:
            time.sleep(1)  # the watchers' baselines
            for name in VALUES:
                add_run_value(name)
            for name in VALUES:
                self.assertTrue(wait_for(value_alert_logged(name), 10), titles())
            wait_for(lambda: len(self.collector.lines()) >= len(log_lines()), 15)
            before = log_lines()
            self.assert_each_line_once(before)

            # The collector goes away; alerts raised meanwhile wait in the queue.
            self.collector.stop()
            time.sleep(1)
            for name in DOWN_VALUES:
                add_run_value(name)
            for name in DOWN_VALUES:
                self.assertTrue(wait_for(value_alert_logged(name), 10), titles())
            time.sleep(3)
            self.collector.start()
            # Reconnection waits grow 1, 2, 4, 8 s while the collector is down.
            everything = wait_for(lambda: len(self.collector.lines()) >= len(log_lines()), 40)
            received = self.collector.lines()
            logged = log_lines()
            in_flight = [line for line in before if received.count(line) != 1]
            print("syslog: %d lines logged, %d received, %d in flight when the collector went down"
                  % (len(logged), len(received), len(in_flight)), file=sys.stderr)
            self.assert_each_line_once(logged)
            self.assertTrue(everything)
            code, seconds = engine.stop()
        self.assertEqual(code, 0)
        self.assertLess(seconds, 4.0)

    def test_an_unusable_setting_is_reported_and_nothing_is_sent(self):
        write_config(syslog_server="127.0.0.1:%d\n" % self.collector.port)
        with Engine():
            invalid = wait_for(lambda: alerts_titled("Syslog server setting is invalid"), 10)
            self.assertTrue(invalid, titles())
            self.assertEqual(invalid[0]["severity"], "Low")
            self.assertIn('"127.0.0.1:%d\\n"' % self.collector.port, invalid[0]["detail"])
            time.sleep(2)
        self.assertEqual(self.collector.lines(), [])


def service_running():
    return any("tarnwick.exe" in a and a.rstrip().endswith("service") for a in wine_process_args())


def windows_path(host_path):
    out = subprocess.run(["winepath", "-w", host_path], capture_output=True, text=True,
                         env=wine_env(), timeout=60)
    return out.stdout.strip()


def reg_values(key):
    """{name: (type, data)} of a key, or None when it does not exist."""
    r = run("reg", "query", key)
    if r.returncode != 0:
        return None
    values = {}
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2])
    return values


class EventLog(WineTestCase):
    def tearDown(self):
        run(TARNWICK, "uninstall")
        wait_for(lambda: not service_running(), 15)
        reg("delete", SOURCE_KEY, "/f")

    def test_install_registers_the_source_and_uninstall_removes_it(self):
        self.assertIsNone(reg_values(SOURCE_KEY))
        self.assertEqual(run(TARNWICK, "install").returncode, 0)
        values = reg_values(SOURCE_KEY)
        self.assertIsNotNone(values)
        self.assertEqual(values.get("EventMessageFile"), ("REG_EXPAND_SZ", windows_path(TARNWICK)))
        self.assertEqual(values.get("TypesSupported"), ("REG_DWORD", "0x7"))
        removed = run(TARNWICK, "uninstall")
        self.assertEqual(removed.stdout, b"Service 'Tarnwick' removed.\n")
        self.assertIsNone(reg_values(SOURCE_KEY))

    def test_alerts_reach_report_event_with_their_three_strings(self):
        write_config()
        with Engine(env={"WINEDEBUG": "-all,+eventlog"}) as engine:
            time.sleep(1.5)  # the tamper watch's baseline
            with open(CONFIG, "w") as f:
                f.write('{"auto_stop_ransomware": false}')
            self.assertTrue(wait_for(
                lambda: alerts_titled("Protection weakened (possible tampering)"), 10), titles())
            engine.stop()
        err = engine.stderr.decode("utf-8", "replace")
        # Error events (High and Critical) come on Wine's err channel, the
        # others on its trace channel; the three strings are the title, the
        # detail and the log line.
        self.assertIn('err:eventlog:ReportEventW L"Protection weakened (possible tampering)"', err)
        self.assertIn('err:eventlog:ReportEventW L"Tarnwick protection was changed: ransomware '
                      'blocking was turned OFF.', err)
        self.assertIn('err:eventlog:ReportEventW L"{\\"ts_unix\\":', err)
        self.assertIn('trace:eventlog:ReportEventW L"Tarnwick is patrolling"', err)

        write_config(event_log=False)
        with Engine(env={"WINEDEBUG": "-all,+eventlog"}) as engine:
            engine.stop()
        self.assertNotIn("ReportEventW", engine.stderr.decode("utf-8", "replace"))


if __name__ == "__main__":
    unittest.main()
