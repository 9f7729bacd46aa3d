"""`tarnwick status` of the real tarnwick.exe under Wine: against the real
service manager before install, while the service runs and after uninstall,
and beside a foreground engine. It only reads: nothing appears in the data
directory because of it."""
import json
import os
import re
import time
import unittest

from harness import (DATA_DIR, SERVICE_DATA_DIR, TARNWICK, Engine, WineTestCase, log_alerts, run,
                     stats, titles, wait_for, wine_process_args)

STARTUP = "Tarnwick is patrolling"


def status(*args, service_view=False):
    """The status as text; with `service_view`, as the service sees its data
    directory: Wine gives services ProgramData=C:\\users\\Public, and sets the
    variable for every new process from its own settings, so it is set inside
    the prefix by cmd.exe rather than passed in from here."""
    if service_view:
        exe = "Z:" + os.path.abspath(TARNWICK).replace("/", "\\")
        r = run("cmd", "/c", "set ProgramData=C:\\users\\Public&& " + " ".join([exe, "status", *args]))
    else:
        r = run(TARNWICK, "status", *args)
    assert r.returncode == 0, r
    assert r.stderr == b"", r.stderr
    return r.stdout.decode("utf-8")


def status_json(service_view=False):
    return json.loads(status("--json", service_view=service_view))


def service_running():
    return any("tarnwick.exe" in a and a.rstrip().endswith("service") for a in wine_process_args())


def field(text, label):
    for line in text.splitlines():
        if line.startswith(label + ": "):
            return line[len(label) + 2:]
    raise AssertionError("no %r line in %r" % (label, text))


def alert_line(alert):
    """The status line of a log record, built independently of the program."""
    tags = {"Network": "NET", "Process": "PROC", "Persistence": "PERSIST", "Files": "FILE",
            "Dns": "DNS", "System": "SYS"}
    when = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(alert["ts_unix"]))
    return "  %s  %-8s  %-7s  %s" % (when, alert["severity"].upper(), tags[alert["source"]],
                                     alert["title"])


def shown_alerts(text):
    lines = text.splitlines()
    return lines[lines.index("Last alerts:") + 1:]


def files_in(folder):
    # The statistics writer's staging file comes and goes on its own.
    return sorted(f for f in os.listdir(folder) if not f.endswith(".tmp"))


class ServiceStatus(WineTestCase):
    def tearDown(self):
        run(TARNWICK, "uninstall")
        wait_for(lambda: not service_running(), 15)

    def test_before_install_while_running_and_after_uninstall(self):
        before = status()
        self.assertEqual(before,
                         "Service: not installed\n"
                         "Data directory: C:\\ProgramData\\Tarnwick (does not exist)\n"
                         "Engine lock: free\n"
                         "Configuration: C:\\ProgramData\\Tarnwick\\Tarnwick.config.json "
                         "(missing: defaults)\n"
                         "Counters: none (Tarnwick.stats.json missing)\n"
                         "Last alerts: none\n")
        self.assertEqual(status_json(), {
            "service": "not installed", "data_dir": "C:\\ProgramData\\Tarnwick",
            "data_dir_exists": False, "lock": "free",
            "config": {"path": "C:\\ProgramData\\Tarnwick\\Tarnwick.config.json",
                       "state": "missing: defaults"},
            "stats": {"state": "missing"}, "alerts": []})
        self.assertFalse(os.path.exists(DATA_DIR), "status created the data directory")

        self.assertEqual(run(TARNWICK, "install").returncode, 0)
        self.assertTrue(wait_for(service_running, 20))
        self.assertTrue(wait_for(lambda: STARTUP in titles(SERVICE_DATA_DIR), 30))
        self.assertTrue(wait_for(lambda: stats(SERVICE_DATA_DIR) is not None, 10))
        running = wait_for(lambda: (lambda t: t if field(t, "Service") == "running" else None)(
            status(service_view=True)), 10)
        self.assertIsNotNone(running)
        self.assertEqual(field(running, "Data directory"), "C:\\users\\Public\\Tarnwick")
        self.assertEqual(field(running, "Engine lock"), "held")
        self.assertEqual(field(running, "Configuration"),
                         "C:\\users\\Public\\Tarnwick\\Tarnwick.config.json (ok)")
        self.assertRegex(field(running, "Counters"),
                         r"^total_alerts \d+, threats \d+, actions \d+, quarantined \d+, "
                         r"peak_risk \d+, uptime_secs \d+ \(written \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\)$")
        self.assertIn(alert_line(log_alerts(SERVICE_DATA_DIR)[0]), shown_alerts(running))
        as_json = status_json(service_view=True)
        self.assertEqual((as_json["service"], as_json["lock"], as_json["config"]["state"],
                          as_json["stats"]["state"]), ("running", "held", "ok", "ok"))
        self.assertIn(STARTUP, [a["title"] for a in as_json["alerts"]])

        self.assertEqual(run(TARNWICK, "uninstall").returncode, 0)
        # How fast the engine stops is not what this test is about; on a busy
        # machine it has taken more than 15 s.
        self.assertTrue(wait_for(lambda: not service_running(), 40), status(service_view=True))
        after = wait_for(lambda: (lambda t: t if field(t, "Service") == "not installed" else None)(
            status(service_view=True)), 15)
        self.assertIsNotNone(after, status(service_view=True))
        self.assertEqual(field(after, "Engine lock"), "free")
        # What the service found stays readable after it is gone.
        self.assertEqual(shown_alerts(after),
                         [alert_line(a) for a in log_alerts(SERVICE_DATA_DIR)[-10:]])


class ForegroundStatus(WineTestCase):
    def test_a_running_engine_holds_the_lock_and_its_alerts_show_newest_last(self):
        with Engine():
            # Once the start-up alert is in, an idle prefix raises nothing more.
            time.sleep(1)
            before = files_in(DATA_DIR)
            text = status()
            as_json = status_json()
            logged = log_alerts()
            self.assertEqual(files_in(DATA_DIR), before, "status created a file")
        self.assertEqual(field(text, "Service"), "not installed")
        self.assertEqual(field(text, "Data directory"), "C:\\ProgramData\\Tarnwick")
        self.assertEqual(field(text, "Engine lock"), "held")
        self.assertEqual(as_json["lock"], "held")
        # Newest last, exactly as logged. The start-up alert is normally the
        # last line; a detector's own start-up report may land just after it.
        self.assertEqual(shown_alerts(text), [alert_line(a) for a in logged[-10:]])
        self.assertEqual([(a["title"], a["ts_unix"]) for a in as_json["alerts"]],
                         [(a["title"], a["ts_unix"]) for a in logged[-10:]])
        startup = [line for line in shown_alerts(text) if line.endswith(STARTUP)]
        self.assertEqual(len(startup), 1)
        self.assertRegex(startup[0], r"^  \d{4}-\d\d-\d\d \d\d:\d\d:\d\d  INFO      SYS      "
                         + re.escape(STARTUP) + "$")


if __name__ == "__main__":
    unittest.main()
