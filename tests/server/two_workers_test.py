#!/usr/bin/env python3
"""Two verification workers on one PostgreSQL: one stalls past its lease, then is killed.

Usage, under tests/server/with-postgres.sh: two_workers_test.py BUILD/vornackle-board

A front that verifies nothing and workers A and B share a database of the test's own.
A is stopped while it holds a claim; the lease is run out (its time moved on in the
database) and B judges the run; A, resumed, must not judge it again. Then A is killed
holding another claim, and the front is killed and replaced: every run must still end
verified or refused with its times, once on the board. The verifier is a stand-in that
takes a moment per run, so a claim can be caught in flight, and names its worker in its
version, so a second verdict would show.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

from boardlib import Board, stand_in, until

BOARD = os.path.abspath(sys.argv[1])
PSQL = os.path.join(os.environ["VN_POSTGRES_BIN"], "psql")
SERVER = os.environ["VN_BOARD_POSTGRES"].rsplit("/", 1)[0]
DB = SERVER + "/two_workers"
DEADLINE = time.monotonic() + 90

# After the magic line, "good T" verifies with a total of T seconds; anything else is refused.
VERIFIER = """sleep 0.4
{ read -r magic; read -r kind total; } < "$2"
[ "$kind" = good ] || { echo "$2 is damaged" >&2; exit 2; }
for level in 1 2 3 4; do echo "level $level  complete  10 s"; done
echo "level 5  complete  $((total - 40)) s  game complete: total $total s"
echo "fastest total: $total s"
"""


def sql(query, db=DB):
    return subprocess.run([PSQL, "-X", "-A", "-t", "-q", "-d", db, "-c", query], check=True,
                          capture_output=True, text=True).stdout.strip()


def wait(what, test):
    return until(what, test, DEADLINE - time.monotonic())


def has_child(pid):
    tasks = f"/proc/{pid}/task"
    return any(open(f"{tasks}/{t}/children").read().strip() for t in os.listdir(tasks))


def main():
    for statement in "DROP DATABASE IF EXISTS two_workers", "CREATE DATABASE two_workers":
        sql(statement, SERVER + "/postgres")
    scratch = tempfile.TemporaryDirectory(prefix="vn-two-workers-")
    front_args = (BOARD, "postgresql:" + DB, "--workers", "0", "--rate", "100000",
                  "--burst", "100000")
    front, workers = Board(*front_args), []
    try:
        runs = {}  # id -> expected total, or None for a refusal
        for i in range(16):
            body = b"VNKRUN\x1a\n" + (f"good {100 + i}" if i % 3 else f"bad {i}").encode() + b"\n"
            runs[front.submit(body, f"T{i:02d}")[2]["id"]] = 100 + i if i % 3 else None
        workers = [subprocess.Popen([BOARD, "work", "--db", "postgresql:" + DB, "--workers", "1",
                                     "--verifier", stand_in(scratch.name, name, VERIFIER)])
                   for name in "ab"]
        a = workers[0]

        def claim_of_a():
            return sql("SELECT id FROM runs WHERE state = 'verifying' "
                       f"AND worker LIKE '%/{a.pid}/%'")

        # A stopped with its verifier's child alive is between its claim's commit and its
        # verdict: it holds no lock in the database.
        def stop_a_verifying(not_this):
            while True:
                wait("a claim of worker A", lambda: claim_of_a() not in ("", not_this))
                a.send_signal(signal.SIGSTOP)
                held = claim_of_a()
                if held not in ("", not_this) and has_child(a.pid):
                    sql(f"UPDATE runs SET lease_until = 0 WHERE id = {held}")
                    return held
                a.send_signal(signal.SIGCONT)

        stalled = stop_a_verifying(None)
        wait("B's verdict on A's stalled run",
             lambda: front.get_json(f"/runs/{stalled}")[1].get("version") == "0.0-b")
        a.send_signal(signal.SIGCONT)
        killed = stop_a_verifying(stalled)
        a.send_signal(signal.SIGKILL)
        front.proc.send_signal(signal.SIGKILL)  # the front holds nothing: another answers
        front.stop()
        front = Board(*front_args)

        for i, total in runs.items():
            answer = front.wait_done(i, seconds=max(1, DEADLINE - time.monotonic()))
            if total is None:
                assert answer["status"] == "refused" and "damaged" in answer["line"], answer
            else:
                assert answer["status"] == "verified" and answer["total"] == total, answer
            if str(i) in (stalled, killed):
                assert answer["version"] == "0.0-b", answer
        twice = sql("SELECT string_agg(id::text, ' ' ORDER BY id) FROM runs WHERE attempts > 1")
        assert twice == " ".join(sorted((stalled, killed), key=int)), twice
        ranked = [(e["id"], e["total"]) for e in front.get_json("/board.json?n=100")[1]["replay_verified"]]
        assert ranked == sorted(((i, t) for i, t in runs.items() if t), key=lambda e: e[1]), ranked
        print(f"two workers: {len(runs)} runs judged once each; run {stalled} kept B's verdict "
              f"over its stalled worker's, run {killed} was judged after its worker was killed")
    finally:
        front.stop()
        for w in workers:
            w.send_signal(signal.SIGCONT)
            w.terminate()
            w.wait()


main()
