#!/usr/bin/env python3
"""The board's whole API over real HTTP on loopback, each check on a board of its own.

Usage: api_test.py BUILD [DB]
  BUILD  the build folder holding vornackle-board and vornackle (with its sheet)
  DB     the store: sqlite (a fresh file, the default) or postgresql:CONNINFO (an empty
         database; tests/server/with-postgres.sh makes one)
"""
import json
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import boardlib  # noqa: E402
from boardlib import check  # noqa: E402

BUILD = os.path.abspath(sys.argv[1])
PROGRAM = os.path.join(BUILD, 'vornackle-board')
VORNACKLE = os.path.join(BUILD, 'vornackle')
RECORDER = os.path.join(BUILD, 'tests', 'runs', 'vn_record_run')
SCRATCH = tempfile.mkdtemp(prefix='vn-board-test-')


def fresh_db(name):
    if len(sys.argv) > 2 and sys.argv[2].startswith('postgresql:'):
        # One database for all: each check's runs have bytes of their own and are looked
        # at by id. (The queue-cap check runs first, on an empty queue.)
        return sys.argv[2]
    return 'sqlite:' + os.path.join(SCRATCH, name + '.db')


def ranked(board):
    """Both boards' entries, live first."""
    _, top = board.get_json('/board.json?n=1000')
    return top['live'] + top['replay_verified']


def recorded(name, start):
    """The bot's whole game recorded with the counter starting at `start`."""
    path = os.path.join(SCRATCH, name + '.vnr')
    subprocess.run([RECORDER, path, '--start', str(start)], check=True, timeout=120,
                   stdout=subprocess.DEVNULL)
    with open(path, 'rb') as f:
        return f.read()


def genuine_ranks_with_verifier_times():
    with boardlib.Board(PROGRAM, fresh_db('genuine')) as board:
        run = boardlib.genuine(1000)
        status, headers, answer = board.submit(run, 'A1Z')
        check(status == 202 and answer['status'] == 'waiting', 'a new run is taken: 202 waiting')
        check(headers.get('Location') == '/runs/%d' % answer['id'], 'Location names the run')
        done = board.wait_done(answer['id'])
        code, lines = boardlib.verify_lines(VORNACKLE, run)
        fastest = int(re.search(r'fastest total: (\d+) s', lines).group(1))
        attempts = re.findall(r'level (\d)  \w+ +(\d+) s', lines)
        levels = [sum(int(s) for lv, s in attempts if int(lv) == n) for n in range(1, 6)]
        check(code == 0 and done['status'] == 'verified', 'the bot game verifies: %s' % done)
        check(done.get('total') == fastest and done.get('levels') == levels,
              'the times are --verify\'s: %s against %d %s' % (done, fastest, levels))
        check(done.get('board') == 'replay-verified' and 'no challenge' in done.get('live_reason'),
              'a run of no challenge is replay-verified: %s' % done)
        _, top = board.get_json('/board.json')
        entry = next((e for e in top['replay_verified'] if e['id'] == answer['id']), {})
        check(entry.get('initials') == 'A1Z' and entry.get('total') == fastest and
              entry.get('levels') == levels and entry.get('id') == answer['id'] and
              re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ', entry.get('date', '')) and
              entry.get('version') == done['version'] != '', 'the board ranks it: %s' % entry)
        _, _, file_bytes = board.request('GET', '/runs/%d.vnr' % answer['id'])
        check(file_bytes == run, 'the run file is served as submitted')
        status, _, page = board.request('GET', '/')
        check(status == 200 and b'A1Z' in page and b'/runs/%d.vnr' % answer['id'] in page,
              'the page lists it with a link to its file')

        # The same bytes again, under other initials: the stored run, not a second one.
        status, _, again = board.submit(run, 'ZZZ')
        check(status == 200 and again.get('duplicate') and again['id'] == answer['id'] and
              again['status'] == 'verified' and again['initials'] == 'A1Z',
              'a duplicate answers with the stored, already verified run: %s' % again)
        check([e['id'] for e in ranked(board)].count(answer['id']) == 1, 'a duplicate is ranked once')


def hostile_runs_refused():
    with boardlib.Board(PROGRAM, fresh_db('hostile'), '--burst', '100') as board:
        cases = [c + ('refused',) for c in boardlib.hostile()] + \
            [c + ('incompatible',) for c in boardlib.incompatible()]
        answers = [board.submit(run, 'BAD') for _, run, _, _ in cases]
        for (name, _, line, want), (status, _, answer) in zip(cases, answers):
            done = board.wait_done(answer['id']) if status == 202 else {}
            check(done.get('status') == want and line in done['line'] and
                  '/tmp' not in done['line'],
                  '%s: taken, then %s with its reason and no server path: %s' % (name, want, done))
        check(not {a[2]['id'] for a in answers} & {e['id'] for e in ranked(board)},
              'the board still answers, with none of them ranked')


def requests_refused():
    p = subprocess.run([PROGRAM, 'serve', '--db', fresh_db('requests'), '--port'],
                       capture_output=True, text=True, timeout=30)
    check(p.returncode == 2 and 'needs a value' in p.stderr, 'an option with no value: exit 2')
    # With no workers the board never runs its verifier, so it needs none that runs.
    with boardlib.Board(PROGRAM, fresh_db('requests'), '--workers', '0', '--max-body', '65536',
                        '--max-waiting', '2', '--rate', '60', '--burst', '100',
                        '--verifier', os.path.join(SCRATCH, 'none')) as board:
        run = boardlib.genuine(2000)
        for initials in ['ab1', 'AB', 'ABCD', 'A%3CB', 'A+B', '']:
            status, _, answer = board.submit(run, initials)
            check(status == 400 and 'initials' in answer['error'],
                  'initials %r refused with 400' % initials)
        for body, why in [(b'', 'empty'), (b'GIF89a' + b'\0' * 100, 'not a recorded run')]:
            status, _, answer = board.submit(body)
            check(status == 400 and why in answer['error'], 'a body %s: 400 %s' % (why, answer))
        statuses = [board.submit(b'\0' * size)[0] for size in (65536, 65537)]
        check(statuses == [400, 413], 'a body at the cap read, a byte past it 413: %s' % statuses)
        for path, want in [('/runs/999999', 404), ('/runs/999999.vnr', 404), ('/runs/x1', 400),
                           ('/runs/-1', 400), ('/nothing', 404), ('/board.json?n=0', 400),
                           ('/site/index.html', 404)]:
            status, _, _ = board.request('GET', path)
            check(status == want, 'GET %s: %d, not %d' % (path, want, status))
        status, headers, _ = board.request('DELETE', '/runs/1')
        check(status == 405 and 'Allow' in headers, 'another method: 405 with Allow')
        # Another origin's page may read any answer, an error too. (Its preflight and
        # submission are tests/web/board_page_test.py's, in a browser.)
        check(board.request('GET', '/runs/999999')[1].get('Access-Control-Allow-Origin') == '*',
              'an error may be read by another origin too')
        # The queue's cap: nothing verifies here, so the third new run finds it full.
        statuses = [board.submit(boardlib.genuine(2001 + i))[0] for i in range(3)]
        status, headers, _ = board.submit(boardlib.genuine(2010))
        check(statuses[:2] == [202, 202] and statuses[2] == 503 and status == 503 and
              int(headers.get('Retry-After', '0')) > 0, 'a full queue: 503: %s' % statuses)


def rate_limited():
    with boardlib.Board(PROGRAM, fresh_db('rate'), '--workers', '0', '--rate', '2',
                        '--burst', '3') as board:
        statuses = []
        for i in range(4):
            status, headers, _ = board.submit(boardlib.genuine(3000 + i))
            statuses.append(status)
        check(statuses == [202, 202, 202, 429], 'the burst, then 429: %s' % statuses)
        check(0 < int(headers.get('Retry-After', '0')) <= 30, 'Retry-After: %s' % headers)
        status, _ = board.get_json('/board.json')
        check(status == 200, 'reading is not limited')
    # Behind a proxy the last address it appends is the submitter's; an empty or overlong
    # one is not an address, and the connection's is taken (127.0.0.1, whose burst is 1).
    with boardlib.Board(PROGRAM, fresh_db('proxy'), '--workers', '0', '--rate', '1',
                        '--burst', '1', '--behind-proxy') as board:
        sent = ['10.0.0.1', '10.0.0.2', '10.0.0.9, 10.0.0.1', '10.0.0.3, ', 'x' * 64]
        statuses = [board.request('POST', '/runs?initials=ABC', boardlib.genuine(3100 + i),
                                  {'X-Forwarded-For': forwarded,
                                   'Content-Type': 'application/octet-stream'})[0]
                    for i, forwarded in enumerate(sent)]
        check(statuses == [202, 202, 429, 202, 429], 'keyed by X-Forwarded-For: %s' % statuses)


def sandbox_contains_the_verifier():
    """Each misbehaviour of a verifier is its run's refusal; the board goes on."""
    listener = socket.create_server(('127.0.0.1', 0))
    port = listener.getsockname()[1]
    verifier = boardlib.stand_in(SCRATCH, 'misbehaving', '''
case "$(cat "$2")" in
*hang) sleep 60 ;;
*crash) exec python3 -c 'import ctypes; ctypes.string_at(0)' ;;
*flood) exec yes flood ;;
*net) exec python3 -c 'import socket; socket.create_connection(("127.0.0.1", %d))' ;;
*file) echo x > %s/written; exit 2 ;;
*mark) echo "it said <script>alert(1)</script> & more" >&2; exit 2 ;;
*busy) exit 4 ;;
esac''' % (port, SCRATCH))
    with boardlib.Board(PROGRAM, fresh_db('sandbox'), '--verifier', verifier, '--timeout', '2',
                        '--burst', '100') as board:
        magic = boardlib.golden()[:8]
        expect = {'hang': 'ran past its 2 s', 'crash': 'died', 'flood': 'printed more than',
                  'net': 'Permission denied', 'file': 'Permission denied',
                  'mark': 'it said', 'busy': 'never finished (3 attempts)'}
        ids = {k: board.submit(magic + k.encode())[2]['id'] for k in expect}
        for kind, line in expect.items():
            done = board.wait_done(ids[kind], seconds=90)
            check(done['status'] == 'refused' and line in done.get('line', ''),
                  'a verifier that does %s: refused (%s)' % (kind, done))
        _, _, raw = board.request('GET', '/runs/%d' % ids['mark'])
        check(b'<' not in raw and b'\\u003cscript' in raw, 'markup in a line is escaped: %s' % raw)
        check(not select.select([listener], [], [], 0)[0], 'the verifier reached no network')
        check(not os.path.exists(os.path.join(SCRATCH, 'written')), 'the verifier wrote no file')
        check(board.request('GET', '/')[0] == 200, 'the board answers after all of them')
    listener.close()


def reverify_marks_incompatible():
    db = fresh_db('reverify')
    with boardlib.Board(PROGRAM, db) as board:
        run_id = board.submit(boardlib.genuine(4000))[2]['id']
        check(board.wait_done(run_id)['status'] == 'verified', 'a run verified before reverify')
        refused_id = board.submit(boardlib.hostile()[1][1])[2]['id']
        board.wait_done(refused_id)
    differs = boardlib.stand_in(SCRATCH, 'differs', 'echo "vornackle: $2: the replay differs '
                                'from the recording: level 1 ends" >&2; exit 1')
    for verifier, want in [(differs, 'incompatible'), (VORNACKLE, 'verified')]:
        p = subprocess.run([PROGRAM, 'reverify', '--db', db, '--verifier', verifier],
                           capture_output=True, text=True, timeout=300)
        with boardlib.Board(PROGRAM, db, '--workers', '0') as board:
            _, status = board.get_json('/runs/%d' % run_id)
            on_board = [e['id'] for e in ranked(board)]
            check(p.returncode == 0 and status['status'] == want,
                  'reverify with %s: %s (%s)' % (os.path.basename(verifier), status, p.stdout))
            check((run_id in on_board) == (want == 'verified'), 'ranked only when verified')
            check(want != 'incompatible' or 'replay differs' in status.get('line', ''),
                  'an incompatible run says why')
            _, refused = board.get_json('/runs/%d' % refused_id)
            check(refused['status'] == 'refused', 'a refused run stays refused')


def live_run():
    """A challenge taken (by a board whose clock runs an hour behind, sharing the database),
    the bot's game recorded from it and sent: live, with the verifier's times."""
    db = fresh_db('live')
    with boardlib.Board(PROGRAM, db, '--workers', '0', '--clock-offset', '-3600') as earlier, \
            boardlib.Board(PROGRAM, db) as board:
        status, headers, body = earlier.request('POST', '/challenges')
        challenge = json.loads(body)
        check(status == 201 and sorted(challenge) == ['counter', 'expires', 'issued', 'now'] and
              0 <= challenge['counter'] < 2**32 and challenge['issued'] == challenge['now'] and
              headers.get('Access-Control-Allow-Origin') == '*', 'a challenge: %s' % challenge)
        run = recorded('live', (challenge['counter'] + 100) % 2**32)
        run_id = board.submit(run, 'LIV')[2]['id']
        done = board.wait_done(run_id)
        fastest = int(re.search(r'fastest total: (\d+) s',
                                boardlib.verify_lines(VORNACKLE, run)[1]).group(1))
        check(done.get('board') == 'live' and 'live_reason' not in done and
              done.get('total') == fastest, 'a game from its challenge is live: %s' % done)
        _, top = board.get_json('/board.json')
        check([(e['id'], e['rank'], e['total']) for e in top['live']] == [(run_id, 1, fastest)],
              'the live board ranks it: %s' % top['live'])
        check('Live' in board.request('GET', '/')[2].decode(), 'the page labels the live board')


def site_served():
    site = os.path.join(SCRATCH, 'site')
    os.makedirs(site)
    with open(os.path.join(site, 'index.html'), 'w') as f:
        f.write('<title>the page</title>')
    with open(os.path.join(SCRATCH, 'secret'), 'w') as f:
        f.write('not to be served')
    with boardlib.Board(PROGRAM, fresh_db('site'), '--site', site) as board:
        run_id = board.submit(boardlib.genuine(5000))[2]['id']
        board.wait_done(run_id)
        status, headers, body = board.request('GET', '/site/')
        check(status == 200 and body == b'<title>the page</title>' and
              headers.get('Content-Type', '').startswith('text/html'), 'the web build is served')
        for path in ['/site/../secret', '/site/%2e%2e/secret', '/site/.hidden', '/site//etc/passwd']:
            check(board.request('GET', path)[0] == 404, '%s is not served' % path)
        page = board.request('GET', '/')[2].decode()
        check('href="/site/?watch=/runs/%d.vnr"' % run_id in page, 'an entry links to watching it')
        status, _, body = board.request('GET', '/site/hall-of-fame.json')
        check(status == 200 and json.loads(body) == {'board': '/'},
              'the board points its own copy of the page at itself: %s' % body)

        # The page's form, as a browser sends it: the run's page, then its verdict there.
        form = b''.join(b'--vn\r\nContent-Disposition: form-data; name=%s\r\n\r\n%s\r\n' % part
                        for part in [(b'"initials"', b'fr1'), (b'"run"; filename="a.vnr"',
                                                                 boardlib.genuine(5001))])
        status, headers, _ = board.request('POST', '/upload', form + b'--vn--\r\n', {
            'Content-Type': 'multipart/form-data; boundary=vn'})
        where = headers.get('Location', '')
        found = re.fullmatch(r'/runs/(\d+)\.html', where)
        form_id = int(found.group(1)) if found else 0
        done = board.wait_done(form_id) if found else {}
        page = board.request('GET', where)[2].decode() if found else ''
        check(status == 303 and done.get('initials') == 'FR1' and done.get('total') == 122 and
              '122 s' in page and '?watch=/runs/%d.vnr' % form_id in page,
              'the form stores the run and shows its page: %d %s %s' % (status, where, done))
        # Read whole: on PostgreSQL the board holds every check's runs, so count none.
        _, top = board.get_json('/board.json')
        ranks = [e['rank'] for e in top['replay_verified']]
        check(len(ranks) >= 2 and ranks == list(range(1, len(ranks) + 1)), 'ranked: %s' % ranks)


def main():
    started = time.monotonic()
    try:  # a check that raises (a board that died under it) leaves no scratch behind either
        for test in [requests_refused, rate_limited, genuine_ranks_with_verifier_times,
                     hostile_runs_refused, sandbox_contains_the_verifier,
                     reverify_marks_incompatible, live_run, site_served]:
            test()
            print('%-40s done' % test.__name__)
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)
    print('api_test: %d failures, %.1f s' % (len(boardlib.FAILURES), time.monotonic() - started))
    return 1 if boardlib.FAILURES else 0


if __name__ == '__main__':
    sys.exit(main())
