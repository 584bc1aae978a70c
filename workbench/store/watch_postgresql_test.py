#!/usr/bin/python3
"""watch on a PostgreSQL server (scripts/with-postgres gives its URL in
UREA_TEST_POSTGRESQL): a synthetic history fed in pieces, passes killed
midway, ends with the store that an SQLite file fed at once holds; a second
watcher is refused.

    scripts/with-postgres watch_postgresql_test.py build/ci/bin
"""
import json
import os
import random
import subprocess
import sys
import tempfile
import time
import unittest

BIN = sys.argv.pop(1) if len(sys.argv) > 1 else "build/ci/bin"
URL = os.environ.get("UREA_TEST_POSTGRESQL", "")
REACTOR = os.path.join(BIN, "urea-reactor")


def watch(*args, check=True):
    r = subprocess.run([REACTOR, "watch", *args], capture_output=True, text=True, timeout=300)
    if check and r.returncode != 0:
        raise AssertionError(r.stderr)
    return r


@unittest.skipUnless(URL or os.environ.get("CI") == "true", "no PostgreSQL server (scripts/with-postgres)")
class OnPostgreSQL(unittest.TestCase):
    def test_pieces_and_kills_end_as_one_pass_on_sqlite(self):
        self.assertTrue(URL, "CI runs this under scripts/with-postgres")
        with tempfile.TemporaryDirectory() as d:
            full = os.path.join(d, "full.csv")
            subprocess.run([os.path.join(BIN, "workbench_make_history"), full, "12", "1h", "events"], check=True,
                           timeout=120)
            lines = open(full).read().splitlines(True)
            grow = os.path.join(d, "grow.csv")
            options = ["--fix", "a1=1", "--stale", "10000d"]
            rng = random.Random(3)
            for end in (100, 180, 260, len(lines)):
                with open(grow, "w") as f:
                    f.writelines(lines[:end])
                # A pass killed midway, then one that finishes.
                p = subprocess.Popen([REACTOR, "watch", grow, "--store", URL, *options], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
                time.sleep(rng.uniform(0.0, 0.15))
                p.kill()
                p.wait()
                watch(grow, "--store", URL, *options)
            # Held by a watcher, refused to a second.
            holder = subprocess.Popen([REACTOR, "watch", grow, "--store", URL, *options, "--every", "1h"],
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            try:
                holder.stdout.readline()
                busy = watch(grow, "--store", URL, *options, check=False)
                self.assertEqual(busy.returncode, 4, busy.stderr)
            finally:
                holder.kill()
                holder.wait()
            pg = json.loads(watch("--store", URL, "--json").stdout)
            db = os.path.join(d, "once.db")
            watch(full, "--store", db, *options)
            sq = json.loads(watch("--store", db, "--json").stdout)
            # The alerts are the passes' own (one fed at once raised none on
            # the way); each raised once.
            raised = [(a["kind"], a["subject"], a["since"]) for a in pg["alerts"]]
            self.assertEqual(len(raised), len(set(raised)))
            for doc in (pg, sq):
                doc.pop("alerts")
                doc.pop("store")
                doc.pop("build")
                doc.pop("history")
            self.assertEqual(pg, sq)
            self.assertEqual(len(pg["windows"]), 11)


if __name__ == "__main__":
    unittest.main()
