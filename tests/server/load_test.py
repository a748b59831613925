#!/usr/bin/env python3
"""The board under load, on loopback: a bounded count of submissions (genuine, duplicate and
hostile runs, each with bytes of its own), paced, from many clients while the board is read;
then a bounded count of challenges. Fails when a run is lost, judged wrongly or ranked twice,
or two challenges come within 10 s; prints the figures for docs/PERFORMANCE.md (never fails
on a slow machine).

Usage: load_test.py BUILD [--submissions 500] [--clients 20] [--rate 4] [--genuine-every 4]
                         [--challenges 1000] [--db DATABASE]
"""
import argparse
import json
import os
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import boardlib  # noqa: E402
from boardlib import check  # noqa: E402


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))] if values else float('nan')


def memory_kb(pid, field):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith(field + ':'):
                return int(line.split()[1])
    return 0


def children_cpu(pid):
    """Processor seconds of the board's finished children (the verifiers)."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[13]) + int(fields[14])) / os.sysconf('SC_CLK_TCK')


def paced(count, clients, rate, send, seconds=1e9):
    """send(i) for each i < count from `clients` threads taking turns, i leaving at
    start + i / rate (none after `seconds`)."""
    start = time.monotonic()

    def client(first):
        for i in range(first, count, clients):
            time.sleep(max(0.0, start + i / rate - time.monotonic()))
            if time.monotonic() < start + seconds:
                send(i)

    threads = [threading.Thread(target=client, args=(c,)) for c in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def challenges(board, count, clients, rate):
    """`count` challenges at `rate` a second in all (a minute at most): their latencies (ms).
    Each must be 201, no two counters within 10 s."""
    answers = []

    def ask(_):
        t = time.monotonic()
        status, _, body = board.request('POST', '/challenges')
        answers.append(((time.monotonic() - t) * 1000, status, json.loads(body)))

    paced(count, clients, rate, ask, seconds=60)
    ring = sorted(a[2].get('counter', 0) for a in answers)
    gaps = [b - a for a, b in zip(ring, ring[1:] + [ring[0] + 2**32])] if ring else []
    check(len(answers) == count and all(a[1] == 201 for a in answers) and min(gaps or [2**32]) > 10000,
          'challenges: %d of %d, all 201 and 10 s apart: %s' % (
              len(answers), count, [a for a in answers if a[1] != 201][:3]))
    return [a[0] for a in answers]


def payloads(count, genuine_every):
    made, genuine = [], []
    for i in range(count):
        if i % genuine_every == 0:
            made.append(('genuine', boardlib.genuine(10000 + i)))
            genuine.append(made[-1][1])
        elif i % 25 == 1 and genuine:
            made.append(('duplicate', genuine[(i // 25) % len(genuine)]))
        else:
            # Bytes of its own: the damage done to a genuine run of its own.
            cases = boardlib.hostile(boardlib.genuine(20000 + i))
            made.append(('hostile', cases[i % len(cases)][1]))
    return made


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('build')
    ap.add_argument('--submissions', type=int, default=500)
    ap.add_argument('--clients', type=int, default=20)
    ap.add_argument('--rate', type=float, default=4, help='submissions a second, all clients')
    ap.add_argument('--genuine-every', type=int, default=4)
    ap.add_argument('--challenges', type=int, default=1000)
    ap.add_argument('--db')
    args = ap.parse_args()
    scratch = tempfile.mkdtemp(prefix='vn-board-load-')
    db = args.db or 'sqlite:' + os.path.join(scratch, 'load.db')
    board = boardlib.Board(os.path.join(args.build, 'vornackle-board'), db, '--rate', '1000000',
                           '--burst', '1000000', '--max-waiting', '100000', '--threads', '4')
    pid = board.proc.pid
    time.sleep(0.5)
    rest_kb = memory_kb(pid, 'VmRSS')
    work = payloads(args.submissions, args.genuine_every)
    submitted = {}  # index -> (kind, id, time sent)
    lock = threading.Lock()

    def send(i):
        sent = time.monotonic()
        try:
            status, _, answer = board.submit(work[i][1], 'L%02d' % (i % 100))
            with lock:
                submitted[i] = (work[i][0], answer.get('id'), sent)
            check(status in (200, 202) and
                  (work[i][0] == 'duplicate') == bool(answer.get('duplicate')),
                  'submission %d: %d %s' % (i, status, answer))
        except Exception as e:  # a lost answer is a lost run
            check(False, 'submission %d: %r' % (i, e))

    shown = {}  # id -> when first seen on the board
    board_ms = []
    peak_kb = [rest_kb]
    done_sending = threading.Event()

    def reader():
        end = time.monotonic() + args.submissions / args.rate + 300
        while time.monotonic() < end:
            t = time.monotonic()
            status, top = board.get_json('/board.json?n=1000')
            now = time.monotonic()
            for entry in top['live'] + top['replay_verified']:
                shown.setdefault(entry['id'], now)
            t2 = time.monotonic()
            status, _, _ = board.request('GET', '/board.json')
            board_ms.append((time.monotonic() - t2) * 1000)
            peak_kb[0] = max(peak_kb[0], memory_kb(pid, 'VmRSS'))
            with lock:
                genuine_ids = {v[1] for v in submitted.values() if v[0] == 'genuine'}
            if done_sending.is_set() and genuine_ids <= set(shown):
                return
            time.sleep(max(0.0, 0.02 - (now - t)))

    watcher = threading.Thread(target=reader)
    watcher.start()
    start = time.monotonic()
    paced(len(work), args.clients, args.rate, send)
    done_sending.set()
    watcher.join()
    elapsed = time.monotonic() - start

    # Every run ends verified or refused; the board holds each genuine run once.
    ids = {v[1] for v in submitted.values()}
    outcomes = {i: board.wait_done(i, seconds=120)['status'] for i in ids if i is not None}
    _, top = board.get_json('/board.json?n=1000')
    entries = top['live'] + top['replay_verified']
    ranked = [e['id'] for e in entries]
    genuine_ids = {v[1] for v in submitted.values() if v[0] == 'genuine'}
    hostile_ids = {v[1] for v in submitted.values() if v[0] == 'hostile'}
    check(len(submitted) == len(work), '%d submissions unanswered' % (len(work) - len(submitted)))
    check(len(ranked) == len(set(ranked)), 'a run is ranked twice')
    check(set(ranked) == genuine_ids, 'ranked %d runs, %d genuine' % (len(set(ranked)),
                                                                     len(genuine_ids)))
    check(all(outcomes[i] == 'verified' for i in genuine_ids), 'a genuine run not verified')
    check(all(outcomes[i] == 'refused' for i in hostile_ids), 'a hostile run not refused')
    check(not top['live'], 'a run started from no challenge is live')
    check(all(e['total'] == 122 for e in entries), 'a total other than the bot game\'s 122 s')

    latency = [shown[v[1]] - v[2] for v in submitted.values()
               if v[0] == 'genuine' and v[1] in shown]
    verify_cpu = children_cpu(pid)
    challenge_ms = challenges(board, args.challenges, 8, 200)
    print('load: %d submissions (%d genuine, %d hostile, %d duplicates) from %d clients at '
          '%.1f/s, %.1f s' % (len(work), len(genuine_ids), len(hostile_ids),
                              sum(1 for k, _ in work if k == 'duplicate'), args.clients,
                              args.rate, elapsed))
    print('  submission to the board, genuine runs: p50 %.2f s, p95 %.2f s, max %.2f s'
          % (percentile(latency, 50), percentile(latency, 95), max(latency or [0])))
    print('  board JSON (best 100) under load: p50 %.1f ms, p95 %.1f ms over %d reads'
          % (percentile(board_ms, 50), percentile(board_ms, 95), len(board_ms)))
    print('  verifications: %d in %.1f s of processor time: %.1f runs per second per core'
          % (len(ids), verify_cpu, len(ids) / verify_cpu if verify_cpu else 0))
    print('  challenges: %d at 200/s from 8 clients: p50 %.1f ms, p95 %.1f ms, max %.1f ms'
          % (len(challenge_ms), percentile(challenge_ms, 50), percentile(challenge_ms, 95),
             max(challenge_ms or [0])))
    print('  service memory (RSS): %.1f MB at rest, %.1f MB at most under load'
          % (rest_kb / 1024, peak_kb[0] / 1024))
    board.stop()
    shutil.rmtree(scratch, ignore_errors=True)
    return 1 if boardlib.FAILURES else 0


if __name__ == '__main__':
    sys.exit(main())
