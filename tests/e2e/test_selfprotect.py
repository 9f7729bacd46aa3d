"""Self-protection in one real run: a weakened configuration, a replaced
executable, new kernel-driver services (the unsigned one disabled), and a
drop-folder program holding writable-and-executable memory. The engine runs
from a copy of tarnwick.exe so that the test can replace its file."""
import os
import re
import shutil
import subprocess
import time
import unittest

from harness import (BUILD_DIR, CONFIG, PROGRAMS, TARNWICK, Engine, WineTestCase, alerts_titled,
                     copy_program, host_path, kill_windows_process, launch, reg, run, titles, wait_for)

HERE = os.path.dirname(os.path.abspath(__file__))
SERVICES = "HKLM\\System\\CurrentControlSet\\Services"
UNSIGNED_SVC = "TarnwickE2EUnsignedDrv"
SIGNED_SVC = "TarnwickE2ESignedDrv"
ENGINE_COPY = "C:\\TarnwickE2E\\tarnwick.exe"
DROP = "C:\\users\\Public\\tarnwick-e2e"
# The detector checks every 8 s; the tamper watch every 5 s.
CYCLE = 8


def service_start(name):
    """The service's "Start" value as a number, or None."""
    out = run("reg", "query", SERVICES + "\\" + name, "/v", "Start").stdout.decode(errors="replace")
    m = re.search(r"REG_DWORD\s+0x([0-9a-fA-F]+)", out)
    return int(m.group(1), 16) if m else None


def add_driver_service(name, image_path):
    """A kernel-driver service key; "Type" last, so that no check sees a
    driver without its image path."""
    key = SERVICES + "\\" + name
    assert reg("add", key, "/v", "ImagePath", "/t", "REG_EXPAND_SZ", "/d", image_path, "/f")
    assert reg("add", key, "/v", "Start", "/t", "REG_DWORD", "/d", "3", "/f")
    assert reg("add", key, "/v", "Type", "/t", "REG_DWORD", "/d", "1", "/f")


class SelfProtection(WineTestCase):
    @classmethod
    def setUpClass(cls):
        cls.signed_dir = os.path.join(BUILD_DIR, "selfprotect-signed")
        subprocess.run([os.path.join(HERE, "..", "wine", "make-signed-fixture"),
                        os.path.join(PROGRAMS, "spin.exe"), cls.signed_dir],
                       check=True, stdout=subprocess.DEVNULL, timeout=120)

    def setUp(self):
        super().setUp()
        self.pids = []
        self.addCleanup(self.clean_up)

    def clean_up(self):
        for pid in self.pids:
            kill_windows_process(pid)
        for name in (UNSIGNED_SVC, SIGNED_SVC):
            reg("delete", SERVICES + "\\" + name, "/f")
        shutil.rmtree(os.path.dirname(host_path(ENGINE_COPY)), ignore_errors=True)
        shutil.rmtree(host_path(DROP), ignore_errors=True)

    def test_tamper_drivers_and_injected_memory(self):
        engine_file = host_path(ENGINE_COPY)
        os.makedirs(os.path.dirname(engine_file), exist_ok=True)
        shutil.copyfile(TARNWICK, engine_file)
        copy_program("spin.exe", DROP + "\\unsigned.sys")
        signed = host_path(DROP + "\\signed.sys")
        shutil.copyfile(os.path.join(self.signed_dir, "signed.exe"), signed)
        copy_program("rwx.exe", DROP + "\\rwx-small.exe")
        copy_program("rwx.exe", DROP + "\\rwx-big.exe")

        with Engine(exe=engine_file) as engine:
            # The baselines (configuration, executable size, driver services)
            # are taken as the detectors start.
            time.sleep(1.5)
            add_driver_service(UNSIGNED_SVC, "\\??\\" + DROP + "\\unsigned.sys")
            add_driver_service(SIGNED_SVC, "\\??\\" + DROP + "\\signed.sys")
            # Started before the big one: the scan that reports the big one
            # has examined the small one too (fewer than 25 processes here).
            small = launch(DROP + "\\rwx-small.exe", "0x3F000", DROP + "\\small.ready")
            big = launch(DROP + "\\rwx-big.exe", "0x40000", DROP + "\\big.ready")
            self.pids += [small, big]

            with open(CONFIG, "w") as f:
                f.write('{"auto_stop_ransomware": false}')
            changed = time.monotonic()
            weakened = wait_for(lambda: alerts_titled("Protection weakened (possible tampering)"), 10)
            self.assertTrue(weakened, titles())
            self.assertLess(time.monotonic() - changed, 7.0)
            self.assertEqual(weakened[0]["severity"], "Critical")
            self.assertEqual(weakened[0]["detail"],
                             "Tarnwick protection was changed: ransomware blocking was turned OFF. "
                             "If this wasn't you, an attacker may be trying to disable the agent.")
            self.assertEqual(weakened[0]["dedup_key"], "selfdefense:weakened")

            # Another file of another size takes the running executable's place.
            with open(engine_file, "rb") as f:
                replacement = f.read() + b"\0" * 4096
            with open(engine_file + ".new", "wb") as f:
                f.write(replacement)
            os.replace(engine_file + ".new", engine_file)
            binary = wait_for(lambda: alerts_titled("Tarnwick binary changed on disk"), 10)
            self.assertTrue(binary, titles())
            self.assertEqual(binary[0]["dedup_key"], "selfdefense:binary")

            blocked = wait_for(lambda: alerts_titled("Unsigned kernel driver BLOCKED (BYOVD)"), CYCLE + 7)
            self.assertTrue(blocked, titles())
            self.assertEqual(blocked[0]["severity"], "Critical")
            self.assertEqual(
                blocked[0]["detail"],
                "An UNSIGNED kernel driver was registered \u2014 the core BYOVD / rootkit primitive. "
                "Service \"%s\" (image: \\??\\%s\\unsigned.sys). Tarnwick DISABLED the service so it "
                "cannot load at boot.\nIt was not running." % (UNSIGNED_SVC, DROP))
            self.assertEqual(blocked[0]["dedup_key"], "driver:" + UNSIGNED_SVC)
            self.assertEqual(service_start(UNSIGNED_SVC), 4)

            loaded = wait_for(lambda: alerts_titled("Signed kernel driver loaded"), CYCLE + 2)
            self.assertTrue(loaded, titles())
            self.assertEqual(loaded[0]["severity"], "Low")
            self.assertEqual(
                loaded[0]["detail"],
                "A signed kernel driver was loaded (likely legitimate, e.g. anti-cheat or hardware). "
                "Service \"%s\" (image: \\??\\%s\\signed.sys)." % (SIGNED_SVC, DROP))
            self.assertEqual(service_start(SIGNED_SVC), 3)

            injected = wait_for(lambda: alerts_titled("Possible code injection (RWX memory)"), CYCLE + 7)
            self.assertTrue(injected, titles())
            self.assertEqual(injected[0]["pid"], big)
            self.assertEqual(injected[0]["source"], "Process")
            self.assertEqual(injected[0]["severity"], "High")
            self.assertEqual(injected[0]["dedup_key"], "inject:%d" % big)
            self.assertEqual(
                injected[0]["detail"],
                "rwx-big.exe (pid %d) \u2014 an UNSIGNED binary running from a malware drop folder "
                "\u2014 holds 256 KB of private executable-writable memory, the hallmark of code "
                "injection / hollowing / fileless malware.\nPath: %s\\rwx-big.exe\n\n"
                "MITRE ATT&CK: T1055 (Process Injection)  \u00b7  CVSS 8.4 (High)" % (big, DROP))
            code, _ = engine.stop()

        self.assertEqual(code, 0)
        # One alert each: nothing was reported twice, and the small holder not at all.
        for title in ("Protection weakened (possible tampering)", "Tarnwick binary changed on disk",
                      "Unsigned kernel driver BLOCKED (BYOVD)", "Signed kernel driver loaded",
                      "Possible code injection (RWX memory)"):
            self.assertEqual(len(alerts_titled(title)), 1, title)
        self.assertNotIn(b"[supervisor]", engine.stderr)


if __name__ == "__main__":
    unittest.main()
