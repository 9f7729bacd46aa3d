"""Command words and service control of the real tarnwick.exe under Wine."""
import os
import time
import unittest

from harness import (DATA_DIR, SERVICE_DATA_DIR, STATS, TARNWICK, Engine, WineTestCase,
                     read_bytes, run, stats, titles, wait_for, wine_process_args)


def service_running():
    return any("tarnwick.exe" in a and a.rstrip().endswith("service") for a in wine_process_args())


class CommandLine(WineTestCase):
    def tearDown(self):
        run(TARNWICK, "uninstall")
        wait_for(lambda: not service_running(), 15)

    def test_uninstall_when_absent(self):
        r = run(TARNWICK, "uninstall")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(r.stderr, b"Service 'Tarnwick' is not installed.\n")

    def test_service_word_from_a_console(self):
        r = run(TARNWICK, "service")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stderr,
                         b"Not started by the SCM. Use 'tarnwick run' for foreground mode.\n")

    def test_toast_word_says_whether_a_toast_was_shown(self):
        # Wine has no toast platform: the toast is built and refused.
        shown = run(TARNWICK, "toast", "Tarnwick \u00b7 HIGH \u00b7 PERS", "title\ndetail")
        self.assertEqual((shown.returncode, shown.stdout, shown.stderr), (1, b"", b""))
        usage = run(TARNWICK, "toast", "only a heading")
        self.assertEqual((usage.returncode, usage.stdout, usage.stderr),
                         (1, b"", b"Usage: tarnwick toast HEADING BODY\n"))

    def test_install_runs_the_service_and_uninstall_removes_it(self):
        r = run(TARNWICK, "install")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stderr, b"")
        self.assertEqual(r.stdout,
                         b"Installed and started service 'Tarnwick'. It will start at boot.\n")
        # The service really runs the engine: its process, and its data directory.
        self.assertTrue(wait_for(service_running, 20))
        self.assertTrue(wait_for(lambda: "Tarnwick is patrolling" in titles(SERVICE_DATA_DIR), 30))
        self.assertTrue(wait_for(lambda: stats(SERVICE_DATA_DIR) is not None, 10))

        again = run(TARNWICK, "install")
        self.assertEqual(again.returncode, 0)
        self.assertEqual(again.stdout, b"")
        err = again.stderr.decode()
        self.assertTrue(err.startswith("CreateService failed: "), err)
        self.assertTrue(err.endswith(
            " (0x80070431). (Already installed? Run uninstall first.)\n"), err)

        removed = run(TARNWICK, "uninstall")
        self.assertEqual(removed.returncode, 0)
        self.assertEqual(removed.stderr, b"")
        self.assertEqual(removed.stdout, b"Service 'Tarnwick' removed.\n")
        # The stop control ends the engine in order: the process goes away and
        # its final snapshot holds the start-up alert.
        self.assertTrue(wait_for(lambda: not service_running(), 15))
        self.assertEqual(stats(SERVICE_DATA_DIR)["total_alerts"], len(titles(SERVICE_DATA_DIR)))
        gone = run(TARNWICK, "uninstall")
        self.assertEqual(gone.stderr, b"Service 'Tarnwick' is not installed.\n")


class Foreground(WineTestCase):
    def test_second_engine_is_refused_and_ctrl_c_shuts_down_in_order(self):
        engine = Engine()
        engine.wait_started()
        # A second engine on the same data directory says so and ends; the
        # first one goes on alone.
        second = run(TARNWICK, "run", timeout=30)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(second.stdout, b"")
        self.assertEqual(second.stderr, b"Another Tarnwick engine is already using "
                                        b"C:\\ProgramData\\Tarnwick.\n")
        self.assertEqual(titles().count("Tarnwick is patrolling"), 1)
        self.assertIsNone(engine.proc.poll())

        code, seconds = engine.stop()
        self.assertEqual(code, 0)
        self.assertLess(seconds, 4.0)
        self.assertEqual(engine.stderr, b"")
        self.assertEqual(stats()["total_alerts"], len(titles()))
        self.assertIsNone(read_bytes(STATS + ".tmp"))

    def test_a_lock_file_that_cannot_be_opened_keeps_the_engine_out(self):
        # On Windows an unelevated run is refused the service's lock file with
        # access denied. Wine ignores access lists (and runs as root here), so
        # a folder stands in the file's place: CreateFileW refuses to open it
        # with the same ERROR_ACCESS_DENIED.
        os.makedirs(os.path.join(DATA_DIR, "Tarnwick.lock"))
        second = run(TARNWICK, "run", timeout=30)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(second.stderr, b"Another Tarnwick engine is already using "
                                        b"C:\\ProgramData\\Tarnwick.\n")
        self.assertNotIn("Tarnwick is patrolling", titles())


if __name__ == "__main__":
    unittest.main()
