"""A private rsyslogd that receives syslog over TCP on a free loopback port
and writes only each message's MSG part, one per line, to a file. Started and
stopped by the scenarios themselves; nothing of the host's syslog is used."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

RSYSLOGD = shutil.which("rsyslogd") or "/usr/sbin/rsyslogd"

CONFIG = """\
global(workDirectory="{work}" maxMessageSize="64k")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="{port}")
template(name="message-only" type="string" string="%msg%\\n")
action(type="omfile" file="{received}" template="message-only")
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


class Collector:
    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="tarnwick-rsyslog-")
        self.port = free_port()
        self.received = os.path.join(self.work, "received.log")
        self.config = os.path.join(self.work, "rsyslog.conf")
        with open(self.config, "w") as f:
            f.write(CONFIG.format(work=self.work, port=self.port, received=self.received))
        self.proc = None

    @property
    def server(self):
        return "127.0.0.1:%d" % self.port

    def start(self, timeout=10):
        assert self.proc is None
        self.proc = subprocess.Popen(
            [RSYSLOGD, "-n", "-f", self.config, "-i", os.path.join(self.work, "rsyslogd.pid")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while not port_open(self.port):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("rsyslogd did not start listening on %d" % self.port)
            time.sleep(0.1)

    def stop(self):
        if self.proc is None:
            return
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc = None

    def lines(self):
        """The messages received so far, as bytes without their line feeds."""
        try:
            with open(self.received, "rb") as f:
                data = f.read()
        except OSError:
            return []
        # A line still being written is not counted yet.
        return data.split(b"\n")[:-1]

    def close(self):
        self.stop()
        shutil.rmtree(self.work, ignore_errors=True)
