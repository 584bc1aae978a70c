#!/usr/bin/python3
"""urea-reactor serve, as a client and as an attacker use it: a store made by
watch (its history's file name carrying a <script>), served on a free port;
the API's answers against `watch --store --json`, paging and errors; then
what must be refused: other methods, paths outside the page's files, requests
too large, other hosts, a non-loopback address without a token, and with a
token every request that lacks it (bearer, sign-in cookie, over HTTPS too).

    serve_test.py UREA_REACTOR WORKBENCH_MAKE_HISTORY WORK_DIR
"""
import hashlib
import http.client
import json
import os
import pathlib
import shutil
import socket
import ssl
import subprocess
import sys
import time
import unittest

REACTOR, MAKE_HISTORY, WORK = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
TOKEN = "d2c7a1f0e9b84c3d5a6f7e8d9c0b1a2f"
# A file name as a plant might never write one, but an attacker could.
HISTORY_NAME = "h<script>alert(1).csv"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """urea-reactor serve, started and waited for (its first line), ended by its pid."""

    def __init__(self, *args, store=None):
        self.port = free_port()
        cmd = [REACTOR, "serve", "--store", str(store or WORK / "plant.db"), "--listen", f"127.0.0.1:{self.port}", *args]
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self._first_line()
        if not line.startswith("serving "):
            self.stop()
            raise RuntimeError(f"serve did not start: {line!r} {self.proc.stderr.read()}")

    def _first_line(self):
        import selectors
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        if not sel.select(timeout=30):
            return "(nothing in 30 s)"
        return self.proc.stdout.readline()

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()

    def request(self, method, path, headers=None, body=None, tls=False):
        if tls:
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            c = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=15, context=context)
        else:
            c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=15)
        try:
            # The path as given, not normalised: traversal attempts reach the server as written.
            c.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
            h = {"Host": f"127.0.0.1:{self.port}"}
            h.update(headers or {})
            for k, v in h.items():
                c.putheader(k, v)
            if body is not None:
                c.putheader("Content-Length", str(len(body)))
            c.endheaders(body)
            r = c.getresponse()
            h = {}
            for k, v in r.getheaders():  # a header given twice: both values, as a browser sees them
                h[k.lower()] = h[k.lower()] + ", " + v if k.lower() in h else v
            return r.status, h, r.read()
        finally:
            c.close()

    def json(self, path, headers=None):
        status, h, body = self.request("GET", path, headers)
        return status, h, json.loads(body)


def run(*args, check=True, timeout=600):
    return subprocess.run([REACTOR, *args], capture_output=True, text=True, timeout=timeout, check=check)


class ServeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        WORK.mkdir(parents=True)
        history = WORK / HISTORY_NAME
        subprocess.run([MAKE_HISTORY, str(history), "20", "1h", "events"], check=True, capture_output=True, timeout=300)
        run("watch", str(history), "--store", str(WORK / "plant.db"), "--fix", "a1=1", "--stale", "10000d")
        cls.store = json.loads(run("watch", "--store", str(WORK / "plant.db"), "--json").stdout)
        cls.store_digest = hashlib.sha256((WORK / "plant.db").read_bytes()).hexdigest()
        cls.server = Server()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        # Served, never written.
        assert hashlib.sha256((WORK / "plant.db").read_bytes()).hexdigest() == cls.store_digest, "serve changed the store"

    # ---- The API, against what watch says the store holds ----

    def test_windows_and_findings_are_the_stores(self):
        want = self.store["windows"]
        self.assertGreater(len(want), 5)
        status, _, page = self.server.json("/api/v1/windows")
        self.assertEqual(status, 200)
        self.assertEqual(page["total"], len(want))
        for got, w in zip(page["windows"], want):
            self.assertEqual(got["start"], w["start"])
            self.assertEqual(got["rows"], w["rows"])
            self.assertEqual(got["a2"], w["a2"]["value"])
            self.assertEqual([got["a2_profile95_lower"], got["a2_profile95_upper"]], w["a2"]["profile95"])
            self.assertEqual(got["co2_conversion_measured"], w["conversion"]["measured"])
            self.assertEqual(got["approach"], w["approach"])
            self.assertEqual(got["balance_p_value"], w["balance"]["p_value"])
        _, _, detail = self.server.json("/api/v1/windows/detail?start=" + want[3]["start"])
        self.assertEqual(detail, want[3])
        for name, key in [("drifts", "drifts"), ("trends", "trends"), ("meters", "meters"), ("alerts", "alerts")]:
            status, _, got = self.server.json("/api/v1/" + name)
            self.assertEqual((status, got), (200, self.store[key]), name)
        _, _, screening = self.server.json("/api/v1/screening")
        self.assertEqual({c["column"] for c in screening}, set(self.store["screening"]))
        _, _, s = self.server.json("/api/v1/status")
        self.assertEqual((s["passes"], s["windows"], s["store"]["kind"]), (self.store["store"]["passes"], len(want), "sqlite"))
        self.assertEqual(s["last_row"], self.store["store"]["last_row"])
        self.assertEqual(s["latest_window"]["start"], want[-1]["start"])

    def test_paging_and_time_ranges(self):
        want = [w["start"] for w in self.store["windows"]]
        got, offset = [], 0
        while offset is not None:
            _, _, page = self.server.json(f"/api/v1/windows?limit=3&offset={offset}")
            self.assertLessEqual(len(page["windows"]), 3)
            got += [w["start"] for w in page["windows"]]
            offset = page["next_offset"]
        self.assertEqual(got, want)
        lo, hi = want[2], want[7]
        _, _, page = self.server.json(f"/api/v1/windows?from={lo}&to={hi}")
        self.assertEqual([w["start"] for w in page["windows"]], want[2:7])
        self.assertEqual(page["total"], 5)

    def test_errors_are_json(self):
        for path, status in [("/api/v1/windows?from=yesterday", 400), ("/api/v1/windows?limit=-1", 400),
                             ("/api/v1/windows?limit=0", 400), ("/api/v1/windows?offset=1e3", 400),
                             ("/api/v1/windows/detail?start=1999-01-01T00:00:00", 404),
                             ("/api/v1/windows/detail", 400), ("/api/v1/nothing", 404)]:
            got, h, body = self.server.json(path)
            self.assertEqual((got, body["error"]["status"]), (status, status), path)
            self.assertTrue(h["content-type"].startswith("application/json"))
            self.assertTrue(body["error"]["message"])

    # ---- What an attacker tries ----

    def test_plant_text_escaped(self):
        status, h, html = self.server.request("GET", "/download/report.html")
        self.assertEqual(status, 200)
        self.assertIn(b"h&lt;script&gt;alert(1).csv", html)
        self.assertNotIn(b"<script", html)
        self.assertIn("attachment", h["content-disposition"])
        # Opened in place, the report's own styles apply and no script runs: one policy, its own.
        self.assertEqual(h["content-security-policy"].count("default-src"), 1)
        self.assertIn("default-src 'none'", h["content-security-policy"])
        _, _, reads = self.server.json("/api/v1/provenance")
        self.assertTrue(reads[0]["name"].endswith(HISTORY_NAME))
        # The page itself only ever sets text: no innerHTML, no inline script.
        _, _, js = self.server.request("GET", "/app.js")
        self.assertNotIn(b"innerHTML", js)
        _, _, page = self.server.request("GET", "/")
        self.assertNotIn(b"<script>", page)

    def test_headers_on_every_answer(self):
        for method, path in [("GET", "/"), ("GET", "/app.js"), ("GET", "/api/v1/status"), ("GET", "/nothing"), ("POST", "/api/v1/status")]:
            _, h, _ = self.server.request(method, path)
            self.assertIn("default-src 'self'", h.get("content-security-policy", ""), path)
            self.assertIn("frame-ancestors 'none'", h["content-security-policy"])
            self.assertNotIn("unsafe-inline", h["content-security-policy"])
            self.assertEqual(h.get("x-content-type-options"), "nosniff", path)
            self.assertEqual(h.get("referrer-policy"), "no-referrer", path)

    def test_read_only(self):
        for method in ["POST", "PUT", "DELETE", "PATCH", "OPTIONS"]:
            for path in ["/api/v1/windows", "/", "/api/v1/alerts"]:
                status, h, body = self.server.request(method, path, body=b"{}")
                self.assertEqual(status, 405, (method, path))
                self.assertEqual(json.loads(body)["error"]["status"], 405)

    def test_only_the_pages_files(self):
        for path in ["/../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2f..%2fetc%2fpasswd", "/app.js/../../etc/passwd",
                     "//etc/passwd", "/%2fetc%2fpasswd", "/index.html%00.js", "/serve_test.py", "/web/app.js",
                     "/api/v1/../../plant.db", "/plant.db", "/.%2e/plant.db"]:
            status, _, body = self.server.request("GET", path)
            self.assertIn(status, (400, 404), path)
            self.assertNotIn(b"root:", body)
            self.assertNotIn(b"SQLite format", body)
        for path in ["/", "/app.js", "/style.css", "/uPlot.min.js", "/uPlot.min.css"]:
            self.assertEqual(self.server.request("GET", path)[0], 200, path)

    def test_oversized_requests_refused(self):
        self.assertIn(self.server.request("GET", "/api/v1/status?x=" + "a" * 20000)[0], (400, 414))
        self.assertIn(self.server.request("GET", "/api/v1/status", {"X-Big": "b" * 20000})[0], (400, 431))
        for kind in ["application/x-www-form-urlencoded", "application/octet-stream"]:
            self.assertEqual(self.server.request("POST", "/signin", {"Content-Type": kind}, b"token=" + b"c" * 1_000_000)[0], 413)
        self.assertEqual(self.server.request("GET", "/api/v1/status")[0], 200)  # still serving

    def test_slow_client_cut_off(self):
        # A client that starts a request and never finishes it holds a thread for the read time-out, not for ever.
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=20) as slow:
            slow.sendall(b"GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\n")
            started = time.monotonic()
            self.assertEqual(self.server.request("GET", "/api/v1/status")[0], 200)  # others are served meanwhile
            answer = slow.recv(4096)  # a 400 or nothing, then closed
            self.assertTrue(answer == b"" or answer.startswith(b"HTTP/1.1 400"), answer)
            self.assertNotIn(b'"passes"', answer)
            self.assertLess(time.monotonic() - started, 10)

    def test_other_hosts_refused_without_token(self):
        # A page elsewhere reaching this loopback server through its own name (DNS rebinding).
        status, _, body = self.server.request("GET", "/api/v1/windows", {"Host": "attacker.example:8080"})
        self.assertEqual(status, 403)
        self.assertNotIn(b"a2", body)
        self.assertEqual(self.server.request("GET", "/api/v1/status", {"Host": "localhost"})[0], 200)

    def test_refusals_at_start(self):
        short = WORK / "short-token"
        short.write_text("abc\n")
        for args, why in [(["--listen", "0.0.0.0:8080"], "--token-file"), (["--listen", "192.0.2.1:8080"], "--token-file"),
                          (["--listen", "127.0.0.1:99999"], "port"), (["--token-file", str(short)], "16 characters"),
                          (["--tls-cert", str(WORK / "none.pem")], "--tls-key")]:
            r = run("serve", "--store", str(WORK / "plant.db"), *args, check=False, timeout=20)
            self.assertEqual(r.returncode, 2, args)
            self.assertIn(why, r.stderr)
        r = run("serve", "--store", str(WORK / "no-such.db"), "--listen", f"127.0.0.1:{free_port()}", check=False, timeout=20)
        self.assertEqual(r.returncode, 2)
        self.assertFalse((WORK / "no-such.db").exists())

    def test_token(self):
        token_file = WORK / "token"
        token_file.write_text(TOKEN + "\n")
        server = Server("--token-file", str(token_file))
        try:
            for headers in [{}, {"Authorization": "Bearer " + TOKEN[:-1]}, {"Authorization": "Bearer " + TOKEN + "x"},
                            {"Authorization": "Basic " + TOKEN}, {"Cookie": "urea_session=" + TOKEN}]:
                status, h, body = server.request("GET", "/api/v1/windows", headers)
                self.assertEqual(status, 401, headers)
                self.assertEqual(json.loads(body)["error"]["status"], 401)
                self.assertNotIn(b"a2", body)
                self.assertEqual(server.request("GET", "/download/monitor.json", headers)[0], 401)
            status, _, page = server.request("GET", "/")
            self.assertEqual(status, 401)
            self.assertIn(b'<form method="post" action="/signin">', page)
            self.assertNotIn(b"app.js", page)
            good = {"Authorization": "Bearer " + TOKEN}
            self.assertEqual(server.request("GET", "/api/v1/windows", good)[0], 200)
            # With a token, any host name (a proxy in front) is served.
            self.assertEqual(server.request("GET", "/api/v1/status", dict(good, Host="plant.example"))[0], 200)
            form = {"Content-Type": "application/x-www-form-urlencoded"}
            status, h, _ = server.request("POST", "/signin", form, b"token=wrong-token-wrong-token")
            self.assertEqual(status, 401)
            self.assertNotIn("set-cookie", h)
            status, h, _ = server.request("POST", "/signin", form, b"token=" + TOKEN.encode())
            self.assertEqual(status, 303)
            cookie = h["set-cookie"]
            for attribute in ["HttpOnly", "SameSite=Strict", "Path=/"]:
                self.assertIn(attribute, cookie)
            self.assertNotIn("Secure", cookie)  # plain HTTP: a Secure cookie would never come back
            self.assertNotIn(TOKEN, cookie)
            value = cookie.split(";")[0]
            self.assertEqual(server.request("GET", "/api/v1/status", {"Cookie": "theme=dark; " + value})[0], 200)
            self.assertEqual(server.request("GET", "/", {"Cookie": value})[0], 200)
        finally:
            server.stop()

    def test_tls(self):
        if shutil.which("openssl") is None:
            self.skipTest("no openssl command")
        cert, key = WORK / "cert.pem", WORK / "key.pem"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(cert),
                        "-days", "2", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True, timeout=60)
        token_file = WORK / "token"
        token_file.write_text(TOKEN + "\n")
        server = Server("--token-file", str(token_file), "--tls-cert", str(cert), "--tls-key", str(key))
        try:
            self.assertEqual(server.request("GET", "/api/v1/status", tls=True)[0], 401)
            status, h, _ = server.request("POST", "/signin", {"Content-Type": "application/x-www-form-urlencoded"},
                                          b"token=" + TOKEN.encode(), tls=True)
            self.assertEqual(status, 303)
            self.assertIn("Secure", h["set-cookie"])
            self.assertEqual(server.request("GET", "/api/v1/status", {"Authorization": "Bearer " + TOKEN}, tls=True)[0], 200)
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
