#!/usr/bin/env python3
"""Two verification workers on one PostgreSQL: one stalls past its lease, then is killed.

Usage (under tests/server/with-postgres.sh, which gives VN_BOARD_POSTGRES; the
test makes a database of its own there):
    two_workers_test.py BUILD/vornackle-board

A front that verifies nothing and two workers (`work`) share the database.
Worker A is stopped while it holds a claim; its lease runs out and B judges
the run; A, resumed, must not judge it a second time. Then A is killed
(SIGKILL) while it holds another claim, and the front is killed and replaced
too: every submitted run must still end verified or refused, with the right
times, each exactly once on the board. The verifier is a stand-in that takes
a moment per run, so that a claim can be caught in flight, and names its
worker in its version, so that a second verdict would show; what the real
verifier says is the API tests' business. Leases are run out by moving their
time on in the database rather than by waiting them out.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

BOARD = os.path.abspath(sys.argv[1])
PSQL = os.path.join(os.environ["VN_POSTGRES_BIN"], "psql")
# A database of its own beside the one the API tests fill, made empty.
SERVER = os.environ["VN_BOARD_POSTGRES"].rsplit("/", 1)[0]
DB = SERVER + "/two_workers"
for statement in "DROP DATABASE IF EXISTS two_workers", "CREATE DATABASE two_workers":
    subprocess.run([PSQL, "-X", "-q", "-d", SERVER + "/postgres", "-c", statement], check=True)
DEADLINE = time.monotonic() + 90
MAGIC = b"VNKRUN\x1a\n"  # a run file's first bytes, without which the front refuses it

# After the run files' first line, "good T" verifies with a total of T seconds;
# anything else is refused.
VERIFIER = """#!/bin/sh
[ "$1" = --version ] && { echo "vornackle 0.0-$(basename "$0")"; exit 0; }
sleep 0.4
{ read -r magic; read -r kind total; } < "$2"
if [ "$kind" = good ]; then
    echo "level 1  complete  10 s"; echo "level 2  complete  10 s"
    echo "level 3  complete  10 s"; echo "level 4  complete  10 s"
    echo "level 5  complete  $((total - 40)) s  game complete: total $total s"
    echo "fastest total: $total s"; exit 0
fi
echo "$2 is damaged: its check values or its contents are wrong" >&2; exit 2
"""


def sql(query):
    return subprocess.run([PSQL, "-X", "-A", "-t", "-q", "-d", DB, "-c", query],
                          check=True, capture_output=True, text=True).stdout.strip()


def until(what, test):
    while time.monotonic() < DEADLINE:
        value = test()
        if value:
            return value
        time.sleep(0.05)
    sys.exit(f"two workers: timed out waiting for {what}")


def start(*args):
    return subprocess.Popen([BOARD, *args, "--db", "postgresql:" + DB],
                            stdout=subprocess.PIPE, text=True)


def start_front():
    front = start("serve", "--workers", "0", "--port", "0", "--rate", "100000",
                  "--burst", "100000")
    line = front.stdout.readline()  # "vornackle-board: http://127.0.0.1:PORT/ (...)"
    return front, line.split()[1].rstrip("/")


def get(url):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return json.load(answer)


def main():
    scratch = tempfile.mkdtemp(prefix="vn-two-workers-")
    for name in "ab":
        with open(os.path.join(scratch, name), "w") as f:
            f.write(VERIFIER)
        os.chmod(os.path.join(scratch, name), 0o755)
    processes = []
    try:
        front, url = start_front()
        processes.append(front)
        runs = {}  # id -> expected total, or None for a refusal
        for i in range(16):
            body = MAGIC + (f"good {100 + i}\n" if i % 3 else f"bad {i}\n").encode()
            request = urllib.request.Request(f"{url}/runs?initials=T{i:02d}",
                                             data=body, method="POST")
            runs[get(request)["id"]] = 100 + i if i % 3 else None
        a, b = (start("work", "--workers", "1", "--verifier", os.path.join(scratch, name))
                for name in "ab")
        processes += [a, b]

        def claim_of_a():
            return sql(f"SELECT id FROM runs WHERE state = 'verifying' AND worker LIKE '%/{a.pid}/%'")

        def has_child(pid):
            for entry in os.listdir("/proc"):
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        if f.read().rsplit(")", 1)[1].split()[1] == str(pid):
                            return True
                except (OSError, IndexError):
                    pass
            return False

        # Stops A with a claim in its verifier's hands: with its child alive, it is
        # between its claim's commit and its verdict, and holds no lock in the database.
        def stop_a_verifying(not_this):
            while True:
                until("a claim of worker A", lambda: claim_of_a() not in ("", not_this))
                a.send_signal(signal.SIGSTOP)
                held = claim_of_a()
                if held not in ("", not_this) and has_child(a.pid):
                    return held
                a.send_signal(signal.SIGCONT)

        def expire(run):
            sql(f"UPDATE runs SET lease_until = 0 WHERE id = {run} AND state = 'verifying'")

        stalled = stop_a_verifying(None)
        expire(stalled)
        until("B's verdict on A's stalled run",
              lambda: get(f"{url}/runs/{stalled}").get("version") == "0.0-b")
        a.send_signal(signal.SIGCONT)
        killed = stop_a_verifying(stalled)
        a.send_signal(signal.SIGKILL)
        a.wait()
        expire(killed)
        # The front holds nothing: another one answers for it.
        front.send_signal(signal.SIGKILL)
        front.wait()
        front, url = start_front()
        processes.append(front)

        def all_judged():
            answers = {i: get(f"{url}/runs/{i}") for i in runs}
            return None if any(a["status"] == "waiting" for a in answers.values()) else answers
        answers = until("every run's verdict", all_judged)
        for i, total in runs.items():
            answer = answers[i]
            if total is None:
                assert answer["status"] == "refused" and "damaged" in answer["line"], answer
            else:
                assert answer["status"] == "verified" and answer["total"] == total, answer
        # Claimed twice: the stalled and the killed worker's runs, and no other.
        twice = sql("SELECT string_agg(id::text, ' ' ORDER BY id) FROM runs WHERE attempts > 1")
        assert twice == " ".join(sorted((stalled, killed), key=int)), twice
        for run in stalled, killed:
            assert answers[int(run)]["version"] == "0.0-b", answers[int(run)]
        board = get(f"{url}/board.json?n=100")["board"]
        ranked = [(e["id"], e["total"]) for e in board]
        expected = sorted(((i, t) for i, t in runs.items() if t is not None), key=lambda e: e[1])
        assert ranked == expected, (ranked, expected)
        print(f"two workers: {len(runs)} runs judged once each; run {stalled} kept B's verdict "
              f"over its stalled worker's, run {killed} was judged after its worker was killed")
    finally:
        for p in processes:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        subprocess.run(["rm", "-rf", scratch], check=False)


main()
