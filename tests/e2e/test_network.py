"""Network monitoring in a real run: the connection snapshot file, and the DNS
detector's one-time notice (Wine has no real-time trace sessions)."""
import json
import os
import time
import unittest

from harness import (DATA_DIR, DRIVE_C, PROGRAMS, Engine, WineTestCase, alerts_titled, read_bytes,
                     start, wait_for)

CONNS = os.path.join(DATA_DIR, "Tarnwick.conns.json")
READY = os.path.join(DRIVE_C, "users", "Public", "listen.ready")
DNS_TITLE = "DNS ETW unavailable"
TOP_KEYS = ["ts_unix", "count", "conns"]
ENTRY_KEYS = ["pid", "image", "local_addr", "local_port", "remote_addr", "remote_port", "state",
              "flag"]


def snapshot():
    """(raw bytes, document with key order kept) of the current file, or None."""
    raw = read_bytes(CONNS)
    if not raw:
        return None
    return raw, json.loads(raw, object_pairs_hook=lambda pairs: pairs)


def dns_notices():
    return alerts_titled(DNS_TITLE)


class NetworkMonitoring(WineTestCase):
    def setUp(self):
        super().setUp()
        if os.path.exists(READY):
            os.remove(READY)
        self.listener = start(os.path.join(PROGRAMS, "listen.exe"), "0", "C:\\users\\Public\\listen.ready")
        self.addCleanup(self.stop_listener)

    def stop_listener(self):
        self.listener.kill()
        self.listener.communicate()
        if os.path.exists(READY):
            os.remove(READY)

    def test_snapshot_file_and_dns_notice(self):
        port = wait_for(lambda: read_bytes(READY), 20)
        self.assertTrue(port, "the listener did not start")
        port = int(port)

        def listener_entry():
            snap = snapshot()
            if not snap:
                return None
            entries = [dict(e) for e in dict(snap[1])["conns"]]
            mine = [e for e in entries if e["local_addr"] == "127.0.0.1" and e["local_port"] == port]
            return (snap, mine[0]) if mine else None

        with Engine() as engine:
            found = wait_for(listener_entry, 15)
            self.assertTrue(found, "the listener is not in %r" % (read_bytes(CONNS),))
            (raw, doc), entry = found
            self.assertEqual(entry["remote_addr"], "0.0.0.0")
            self.assertEqual(entry["remote_port"], 0)
            self.assertEqual(entry["state"], "LISTEN")
            self.assertEqual(entry["flag"], "ok")
            # Compact, keys in their order, count matching the list.
            self.assertEqual([k for k, _ in doc], TOP_KEYS)
            conns = dict(doc)["conns"]
            self.assertTrue(conns)
            for e in conns:
                self.assertEqual([k for k, _ in e], ENTRY_KEYS)
            self.assertEqual(dict(doc)["count"], len(conns))
            plain = json.loads(raw)
            self.assertEqual(json.dumps(plain, separators=(",", ":"), ensure_ascii=False).encode(), raw)
            self.assertLess(abs(plain["ts_unix"] - time.time()), 120)

            # Rewritten every 3 s: time the next two changes of the file.
            changes = []
            last = raw
            deadline = time.monotonic() + 12
            while len(changes) < 3 and time.monotonic() < deadline:
                now = read_bytes(CONNS)
                if now and now != last:
                    changes.append(time.monotonic())
                    last = now
                time.sleep(0.05)
            self.assertEqual(len(changes), 3, "the file was not rewritten every few seconds")
            for gap in (changes[1] - changes[0], changes[2] - changes[1]):
                self.assertGreater(gap, 2.0)
                self.assertLess(gap, 4.5)

            self.assertTrue(wait_for(dns_notices, 10))
        notices = dns_notices()
        self.assertEqual(len(notices), 1)
        self.assertEqual(notices[0]["source"], "System")
        self.assertEqual(notices[0]["severity"], "Low")
        self.assertEqual(notices[0]["detail"],
                         "DNS monitoring off (OpenTraceW failed (error 5)). Run as Administrator to enable.")
        self.assertIsNone(notices[0]["pid"])
        self.assertEqual(notices[0]["dedup_key"], "SYS:DNS ETW unavailable")
        # Neither network detector ended early and was restarted.
        self.assertNotIn(b"[supervisor]", engine.stderr)


if __name__ == "__main__":
    unittest.main()
