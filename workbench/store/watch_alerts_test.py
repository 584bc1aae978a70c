#!/usr/bin/python3
"""watch's alerts as an operator receives them: a synthetic history with an
a2 step and a CO2 meter reading high (workbench_make_history), watched into a
store with an SMTP sink (aiosmtpd) and an HTTP receiver started here on
127.0.0.1. Each change of an alert's state arrives once by each channel; a
receiver that fails has its notices kept and sent at a later pass, none lost
and none sent twice; --dry-run sends nothing and keeps nothing.

    watch_alerts_test.py build/ci/bin
"""
import json
import os
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import unittest
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from aiosmtpd.controller import Controller

BIN = sys.argv.pop(1) if len(sys.argv) > 1 else "build/ci/bin"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sink:
    mails = []

    async def handle_DATA(self, server, session, envelope):
        Sink.mails.append(envelope.content.decode())
        return "250 OK"


class Receiver(BaseHTTPRequestHandler):
    posts = []
    status = 503

    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        if Receiver.status == 200:
            Receiver.posts.append((self.headers["Idempotency-Key"], json.loads(body)))
        self.send_response(Receiver.status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


class Alerts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for proxy in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"):
            os.environ.pop(proxy, None)
        cls.smtp = Controller(Sink(), hostname="127.0.0.1", port=free_port())
        cls.smtp.start()
        cls.http = ThreadingHTTPServer(("127.0.0.1", 0), Receiver)
        cls.http.daemon_threads = True
        threading.Thread(target=cls.http.serve_forever, daemon=True).start()
        cls.dir = tempfile.TemporaryDirectory()
        cls.history = os.path.join(cls.dir.name, "h.csv")
        subprocess.run([os.path.join(BIN, "workbench_make_history"), cls.history, "20", "1h", "events"], check=True,
                       timeout=120)

    @classmethod
    def tearDownClass(cls):
        cls.http.shutdown()
        cls.http.server_close()
        cls.smtp.stop()
        cls.dir.cleanup()

    def watch(self, *args):
        channels = ["--smtp", f"smtp://127.0.0.1:{self.smtp.port}", "--mail-to", "ops@plant.example",
                    "--webhook", f"http://127.0.0.1:{self.http.server_address[1]}/hook"]
        return subprocess.run([os.path.join(BIN, "urea-reactor"), "watch", self.history, "--store", self.store,
                               "--fix", "a1=1", "--stale", "10000d", *channels, *args],
                              capture_output=True, text=True, timeout=300)

    def test_each_change_arrives_once_by_each_channel(self):
        self.store = os.path.join(self.dir.name, "s.db")
        Sink.mails.clear()
        Receiver.posts.clear()
        Receiver.status = 503
        first = self.watch()
        self.assertEqual(first.returncode, 0, first.stderr)
        self.assertIn("HTTP 503", first.stderr)
        self.assertIn("tried again later", first.stderr)
        # The mails went at once; the webhook's notices wait in the outbox.
        with sqlite3.connect(self.store) as db:
            fired = db.execute("SELECT COUNT(*) FROM alert_events WHERE state = 'firing'").fetchone()[0]
            kinds = {k for (k,) in db.execute("SELECT kind FROM alerts")}
        self.assertGreater(fired, 0)
        self.assertIn("a2 changed", kinds)
        self.assertEqual(len(Sink.mails), fired)
        self.assertTrue(all("Message-ID: <alert-" in m for m in Sink.mails))
        self.assertEqual(Receiver.posts, [])

        # The receiver is back; the retry is due (as if a minute had passed).
        Receiver.status = 200
        with sqlite3.connect(self.store) as db:
            db.execute("UPDATE outbox SET next_attempt = 0 WHERE delivered IS NULL")
        again = self.watch()
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(len(Receiver.posts), fired)
        keys = [k for k, _ in Receiver.posts]
        self.assertEqual(len(set(keys)), len(keys))
        self.assertTrue(all(body["id"] == k and body["state"] == "firing" for k, body in Receiver.posts))
        self.assertEqual(len(Sink.mails), fired)

        # Nothing new: nothing sent again.
        self.assertEqual(self.watch().returncode, 0)
        self.assertEqual((len(Sink.mails), len(Receiver.posts)), (fired, fired))

    def test_dry_run_sends_and_keeps_nothing(self):
        self.store = os.path.join(self.dir.name, "dry.db")
        Sink.mails.clear()
        Receiver.posts.clear()
        Receiver.status = 200
        dry = self.watch("--dry-run")
        self.assertEqual(dry.returncode, 0, dry.stderr)
        self.assertIn("dry run", dry.stdout)
        self.assertIn("alert 1 new, firing", dry.stdout)
        self.assertEqual((Sink.mails, Receiver.posts), ([], []))
        with sqlite3.connect(self.store) as db:
            self.assertEqual(db.execute("SELECT COUNT(*) FROM passes").fetchone()[0], 0)


if __name__ == "__main__":
    unittest.main()
