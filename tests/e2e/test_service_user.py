"""The engine installed as the service protects the people at the machine:
their autostart keys under HKEY_USERS (the Wine user's own hive and a second
hive mounted as a person's logon would), and their Documents folder. Under
Wine a service's user is the prefix's user, whose hive is
HKU\\S-1-5-21-0-0-0-1000."""
import glob
import json
import os
import re
import time
import unittest

from harness import (DRIVE_C, PROGRAMS, SERVICE_DATA_DIR, TARNWICK, WineTestCase, log_alerts, reg,
                     run, titles, wait_for, wine_process_args)

RUN = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
WINE_USER = "S-1-5-21-0-0-0-1000"
SECOND = "S-1-5-21-7-7-7-4242"
HIVE_SOURCE = "Software\\TarnwickE2EHive"
HIVE_FILE = "C:\\users\\Public\\tarnwick-e2e-hive.dat"
HIVE = os.path.join(PROGRAMS, "hive.exe")
RANSOM = "Possible ransomware activity"


def service_running():
    return any("tarnwick.exe" in a and a.rstrip().endswith("service") for a in wine_process_args())


def service_alerts(key):
    return [a for a in log_alerts(SERVICE_DATA_DIR) if a["dedup_key"] == key]


def write_service_config(**values):
    os.makedirs(SERVICE_DATA_DIR, exist_ok=True)
    with open(os.path.join(SERVICE_DATA_DIR, "Tarnwick.config.json"), "w") as f:
        json.dump(values, f)


def documents():
    users = [d for d in glob.glob(os.path.join(DRIVE_C, "users", "*", "Documents"))
             if os.sep + "Public" + os.sep not in d]
    assert len(users) == 1, users
    return users[0]


class ServiceProtectsThePeople(WineTestCase):
    def tearDown(self):
        run(TARNWICK, "uninstall")
        wait_for(lambda: not service_running(), 15)
        run(HIVE, "unload", SECOND)
        for value in ("UserUpdater",):
            reg("delete", "HKCU\\" + RUN, "/v", value, "/f")
        reg("delete", "HKCU\\" + HIVE_SOURCE, "/f")
        for path in glob.glob(os.path.join(documents(), "file*.locked")):
            os.remove(path)

    def test_user_hives_and_documents(self):
        write_service_config(auto_response_enabled=True, auto_response_min_severity="High",
                             ransomware_burst_count=10)
        # A person's hive file holding one Run value, to mount later.
        self.assertTrue(reg("add", "HKCU\\%s\\%s" % (HIVE_SOURCE, RUN), "/v", "Present", "/d",
                            "C:\\present.exe", "/f"))
        self.assertEqual(run(HIVE, "save", HIVE_SOURCE, HIVE_FILE).returncode, 0)

        self.assertEqual(run(TARNWICK, "install").returncode, 0)
        self.assertTrue(wait_for(lambda: "Tarnwick is patrolling" in titles(SERVICE_DATA_DIR), 30))
        time.sleep(2)  # baselines

        # The Wine user's Run key, written as that user would.
        self.assertTrue(reg("add", "HKCU\\" + RUN, "/v", "UserUpdater", "/d", "C:\\u.exe", "/f"))
        label = "HKU\\%s\\...\\Run" % WINE_USER
        found = wait_for(lambda: service_alerts("run:%s:UserUpdater" % label), 10)
        self.assertTrue(found, titles(SERVICE_DATA_DIR))
        alert = found[0]
        self.assertRegex(alert["detail"], r'^Added "UserUpdater" under %s \(user [^)\\]+\\[^)]+\)\n\n'
                         % re.escape(label))
        self.assertEqual(alert["remediation"], {"DeleteRegValue": {
            "hive": "HKU\\" + WINE_USER, "subkey": RUN, "value": "UserUpdater"}})
        # Under Wine the service's own HKCU is that same hive, so the HKCU row
        # reports the value too; on Windows it watches the service account's
        # hive (S-1-5-18), which people do not write.
        self.assertTrue(wait_for(lambda: service_alerts("run:HKCU\\...\\Run:UserUpdater"), 10))
        # Automatic response at High: the value is deleted.
        self.assertTrue(wait_for(lambda: not reg("query", "HKCU\\" + RUN, "/v", "UserUpdater"), 10))

        # A second person logs on: their hive is mounted and seen within a scan.
        self.assertEqual(run(HIVE, "load", SECOND, HIVE_FILE).returncode, 0)
        time.sleep(12)
        self.assertTrue(reg("add", "HKU\\%s\\%s" % (SECOND, RUN), "/v", "HiveUpdater", "/d",
                            "C:\\h.exe", "/f"))
        second = "HKU\\%s\\...\\Run" % SECOND
        found = wait_for(lambda: service_alerts("run:%s:HiveUpdater" % second), 10)
        self.assertTrue(found, titles(SERVICE_DATA_DIR))
        # A SID no one can name leaves the account out.
        self.assertTrue(found[0]["detail"].startswith(
            'Added "HiveUpdater" under %s\n\n' % second), found[0]["detail"])
        self.assertTrue(wait_for(
            lambda: not reg("query", "HKU\\%s\\%s" % (SECOND, RUN), "/v", "HiveUpdater"), 10))
        self.assertEqual(service_alerts("run:%s:Present" % second), [])

        # The person logs off: the hive unloads, and its watchers end with the next scan.
        unloaded = run(HIVE, "unload", SECOND)
        self.assertEqual(unloaded.returncode, 0)
        time.sleep(12)
        # Mounted again, the hive gets new watchers with a fresh baseline. Had
        # the old ones stayed (on keys of the unloaded hive), this value
        # would go unseen.
        self.assertEqual(run(HIVE, "load", SECOND, HIVE_FILE).returncode, 0)
        time.sleep(12)
        self.assertTrue(reg("add", "HKU\\%s\\%s" % (SECOND, RUN), "/v", "Again", "/d",
                            "C:\\a.exe", "/f"))
        self.assertTrue(wait_for(lambda: service_alerts("run:%s:Again" % second), 10),
                        titles(SERVICE_DATA_DIR))
        self.assertEqual(service_alerts("run:%s:Present" % second), [])

        # With no folders configured, the Wine user's Documents are watched.
        folder = "C:\\users\\%s\\Documents" % os.path.basename(os.path.dirname(documents()))
        for _ in range(3):
            self.assertEqual(run(os.path.join(PROGRAMS, "writefiles.exe"), folder, "30",
                                 ".locked").returncode, 0)
            if wait_for(lambda: service_alerts("ransom:" + folder), 5):
                break
        self.assertTrue(service_alerts("ransom:" + folder), titles(SERVICE_DATA_DIR))
        self.assertNotIn("No watch directories", titles(SERVICE_DATA_DIR))


if __name__ == "__main__":
    unittest.main()
