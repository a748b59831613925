"""What the board's tests share: starting a board on loopback, speaking HTTP to it, waiting
on it, stand-in verifiers, and making run files (genuine variants of the bot's game, and
hostile ones)."""
import http.client
import json
import os
import stat
import struct
import subprocess
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, '..', 'game', 'golden', 'bot_game.vnr')


FAILURES = []


def check(condition, what):
    """Notes a failed check and goes on, so one run of a test reports every failure."""
    if not condition:
        FAILURES.append(what)
        print('FAIL:', what)


def until(what, test, seconds=60):
    """test()'s first true value, asked every 50 ms (fails after `seconds`)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = test()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError('timed out after %d s waiting for %s' % (seconds, what))


def stand_in(folder, name, body):
    """A stand-in verifier (a shell script) whose version is 0.0-NAME, for what the real
    one never does."""
    path = os.path.join(folder, name)
    with open(path, 'w') as f:
        f.write('#!/bin/sh\n[ "$1" = --version ] && { echo "vornackle 0.0-%s"; exit 0; }\n%s\n'
                % (name, body))
    os.chmod(path, stat.S_IRWXU)
    return path


def golden():
    with open(GOLDEN, 'rb') as f:
        return f.read()


def header_end(run):
    """Offset of the header's CRC-32 (after magic, format, version, command line, sheet)."""
    n = run[10]
    m = run[11 + n]
    return 12 + n + m + 8


def with_header(run, version=None, sheet=None, fmt=None):
    """The same run with another recorded version, sheet hash or format, its header's check
    value made right again: the game it holds is unchanged."""
    n = run[10]
    crc_at = header_end(run)
    old_version = run[11:11 + n]
    middle = run[11 + n:crc_at - 8]
    head = run[:8] + struct.pack('<H', fmt if fmt is not None else struct.unpack('<H', run[8:10])[0])
    v = version if version is not None else old_version
    head += bytes([len(v)]) + v + middle + (sheet if sheet is not None else run[crc_at - 8:crc_at])
    return head + struct.pack('<I', zlib.crc32(head)) + run[crc_at + 4:]


def genuine(i):
    """A genuine run with bytes of its own: the bot's game, recorded by 'version' i."""
    return with_header(golden(), version=('v%d' % i).encode())


def hostile(run=None):
    """(name, bytes, what the refusal line says) for runs the verifier must refuse, made
    from `run` (the bot's game by default)."""
    run = run or golden()
    crc_at = header_end(run)
    flipped = bytearray(run)
    flipped[len(run) // 2] ^= 0x40
    return [
        ('cut inside its header', run[:crc_at - 3], 'cut short inside its header'),
        ('damaged stream', bytes(flipped), 'damaged'),
        ('cut short', run[:len(run) * 2 // 3], 'cut short'),
        ('header check value wrong', run[:crc_at] + b'\0\0\0\0' + run[crc_at + 4:], 'damaged'),
    ]


def incompatible():
    """Runs that may be genuine but not for this program: (name, bytes, line)."""
    run = golden()
    return [
        ('another sheet', with_header(run, sheet=b'\x01' * 8), 'another sprite sheet'),
        ('newer format', with_header(run, fmt=99), 'newer format'),
    ]


class Board:
    """A vornackle-board on 127.0.0.1 and a free port, stopped by stop() or at the end of
    a `with` block."""

    def __init__(self, program, db, *args, command='serve'):
        self.log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([program, command, '--db', db, '--port', '0', *args],
                                     stdout=subprocess.PIPE, stderr=self.log)
        line = self.proc.stdout.readline().decode()
        if 'http://127.0.0.1:' not in line:
            self.stop()
            raise RuntimeError('the board did not start: %r %s' % (line, self.errors()))
        self.port = int(line.split('http://127.0.0.1:')[1].split('/')[0])

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()

    def errors(self):
        self.log.seek(0)
        return self.log.read().decode(errors='replace')

    def request(self, method, path, body=None, headers=None):
        """(status, headers as a dict, body bytes)."""
        c = http.client.HTTPConnection('127.0.0.1', self.port, timeout=30)
        try:
            c.request(method, path, body=body, headers=headers or {})
            r = c.getresponse()
            return r.status, dict(r.getheaders()), r.read()
        finally:
            c.close()

    def get_json(self, path):
        status, _, body = self.request('GET', path)
        return status, json.loads(body)

    def submit(self, run, initials='ABC'):
        status, headers, body = self.request('POST', '/runs?initials=' + initials, run,
                                             {'Content-Type': 'application/octet-stream'})
        return status, headers, json.loads(body)

    def wait_done(self, run_id, seconds=60):
        """The run's status once it is no longer waiting."""
        def judged():
            status = self.get_json('/runs/%d' % run_id)[1]
            return status if status['status'] != 'waiting' else None
        return until('run %d to be judged' % run_id, judged, seconds)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        return self.proc.returncode


def verify_lines(vornackle, run):
    """What `vornackle --verify` prints for run: (exit code, stdout)."""
    with tempfile.NamedTemporaryFile(suffix='.vnr') as f:
        f.write(run)
        f.flush()
        p = subprocess.run([vornackle, '--verify', f.name], capture_output=True, text=True,
                           timeout=120)
        return p.returncode, p.stdout
