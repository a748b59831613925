#!/usr/bin/env python3
"""Mutation testing: what are our tests worth?

Makes one plausible fault at a time in the C++ sources (a comparison loosened,
+ and - swapped, a constant off by one, a condition negated, a call dropped,
&& and || swapped, ...), rebuilds the test programs, runs the suite and counts
the fault as caught (a test failed or timed out) or missed (every test passed).
Faults that do not compile are skipped and left out of the score.

Several developers build in the same working tree, so nothing here ever
writes to it: the tracked sources of a commit (HEAD by default) are copied into
a scratch folder (build-mutate/src), built there once with Ninja, and each
fault is made, built and undone in that copy. Only the faulted file's object is
compiled again, and only the test programs are relinked.

Settings (environment, or the matching --options):
  MUTANTS       how many faults to try, drawn from all candidates (default 100;
                `all` or 0 for every one)
  MUTANT_SEED   the seed of that draw (default 1): the same seed on the same
                sources tries the same faults
  MUTATE_DIRS   folders whose *.cpp get faults (default: game graphics
                platform/core platform/desktop platform/headless); a folder
                that does not exist yet falls back to the *.cpp of its parent
                folder. server (or a folder under it) builds the hall of
                fame too, and its tests run: board_test and the API over
                HTTP against SQLite (board_api)
  MUTATE_SKIP   files never faulted (default server/store_pg.cpp: only the
                PostgreSQL checks of make test-board reach it)
  MUTATE_FROM   HEAD (default), another commit, or `worktree` for the files
                git lists in the working tree as they are now
  MUTATE_OUT    scratch folder (default build-mutate); what each process
                that failed on a fault printed is kept in its failures/
  MUTATE_EXCLUDE  ctest names (a regular expression) not run for each fault
                (default ^FaultSweep: the sampled fault sweep would add its
                own run of whole sessions to every survivor); empty runs all
  MUTATE_EVERY_TEST  1: run every test suite on each fault to its end (no
                stop at the first failure) and report which tests catch
                each fault, and how many faults each test alone catches
  JOBS          parallel compile jobs and test lanes (default 2)

Ctrl-C, SIGINT or SIGTERM (in the background too, where the shell has SIGINT
ignored) stops the run at once: the builds and tests under way are killed,
the faulted file is put back and its object files removed, so the next run
compiles it again, and the summary of the faults tried so far is printed.
"""

import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field

# ---------------------------------------------------------------------------
# Finding candidate faults


def mask_source(text):
    """The text with comments, string and character literals blanked out
    (newlines kept), so positions still match the original."""
    out = list(text)
    i, n = 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            blank(i, end)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            blank(i, end)
            i = end
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                i += 1
                continue
            close = ")" + m.group(1) + '"'
            end = text.find(close, i + m.end())
            end = n if end < 0 else end + len(close)
            blank(i, end)
            i = end
        elif c in "\"'":
            # A digit separator (1'000) is not a character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i, min(j + 1, n))
            i = j + 1
        else:
            i += 1
    return "".join(out)


@dataclass
class Mutant:
    path: str  # relative to the source root
    line: int  # 1-based
    col: int  # 0-based start of the replaced text in the line
    old: str
    new: str
    kind: str
    status: str = ""
    caught_by: str = ""
    seconds: float = 0.0
    build_seconds: float = 0.0

    def describe(self):
        return f"{self.old.strip()} -> {self.new.strip()}"


BINARY_SWAPS = {
    "<": ["<="],
    "<=": ["<"],
    ">": [">="],
    ">=": [">"],
    "==": ["!="],
    "!=": ["=="],
    "&&": ["||"],
    "||": ["&&"],
    "+": ["-"],
    "-": ["+"],
    "+=": ["-="],
    "-=": ["+="],
}
KIND_OF = {
    "<": "comparison", "<=": "comparison", ">": "comparison", ">=": "comparison",
    "==": "comparison", "!=": "comparison", "&&": "logic", "||": "logic",
    "+": "arithmetic", "-": "arithmetic", "+=": "arithmetic", "-=": "arithmetic",
}
# Binary operators as clang-format writes them: a space on each side. That
# keeps template brackets, ->, <<, unary minus and the like out.
BINARY_RE = re.compile(r"(?<= )(<=|>=|==|!=|&&|\|\||\+=|-=|<|>|\+|-)(?= )")
INCDEC_RE = re.compile(r"\+\+|--")
INT_RE = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.'])")
DECL_ARRAY_RE = re.compile(
    r"^\s*(?:(?:static|const|constexpr|thread_local)\s+)*[A-Za-z_][\w:<>]*[*&]?\s+[*&]?[A-Za-z_]\w*\s*\[")
BOOL_RE = re.compile(r"\b(true|false)\b")
COND_RE = re.compile(r"\b(if|while)\s*\(")
CALL_RE = re.compile(
    r"^(\(void\)\s*)?(?:[A-Za-z_]\w*\s*(?:::|\.|->)\s*)*[A-Za-z_]\w*\s*\(.*\)\s*;$")
NOT_CALLS = {"return", "delete", "throw", "sizeof", "if", "while", "for", "switch",
             "case", "else", "do", "static_assert", "alignof", "decltype", "new"}
SKIP_LINE_RE = re.compile(r"\bstatic_assert\b|\bextern\s*\"|\btemplate\b")


def closing_paren(s, open_at):
    depth = 0
    for k in range(open_at, len(s)):
        if s[k] == "(":
            depth += 1
        elif s[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def in_chain(line, at):
    """Whether the && or || at `at` has another && or || beside it in the same
    brackets, so that swapping it alone would mix the two unbracketed."""
    levels, depth = [], 0
    for c in line:
        depth += (c == "(") - (c == ")")
        levels.append(depth)
    level = levels[at]
    start, end = at, at
    while start > 0 and levels[start - 1] >= level:
        start -= 1
    while end < len(line) and levels[end] >= level:
        end += 1
    return any(start + hit.start() != at and levels[start + hit.start()] == level
               for hit in re.finditer(r"&&|\|\|", line[start:end]))


def preprocessor_lines(masked_lines):
    skip = set()
    cont = False
    for no, line in enumerate(masked_lines):
        if cont or line.lstrip().startswith("#"):
            skip.add(no)
            cont = line.rstrip().endswith("\\")
        else:
            cont = False
    return skip


def candidates_in(path, text):
    masked_lines = mask_source(text).split("\n")
    lines = text.split("\n")
    skip = preprocessor_lines(masked_lines)
    found = []
    prev_code = ";"
    for no, m in enumerate(masked_lines):
        stripped = m.strip()
        if no in skip or not stripped:
            continue
        line_no = no + 1
        if not SKIP_LINE_RE.search(m):
            for hit in BINARY_RE.finditer(m):
                op = hit.group(1)
                if op in ("&&", "||") and in_chain(m, hit.start()):
                    continue  # a && b || c: -Wparentheses refuses it
                for new in BINARY_SWAPS[op]:
                    found.append(Mutant(path, line_no, hit.start(), op, new, KIND_OF[op]))
            for hit in INCDEC_RE.finditer(m):
                new = "--" if hit.group() == "++" else "++"
                found.append(Mutant(path, line_no, hit.start(), hit.group(), new, "arithmetic"))
            decl = DECL_ARRAY_RE.match(m)
            for hit in INT_RE.finditer(m):
                digits, suffix = hit.group(1), hit.group(2)
                hexa = digits[:2].lower() == "0x"
                octal = not hexa and len(digits) > 1 and digits[0] == "0"  # a file's mode
                value = int(digits, 8 if octal else 0)
                if decl and decl.end() <= hit.start() <= m.find("]", decl.end()):
                    continue  # the size of an array being declared
                # One neighbour per literal: 0 becomes 1, any other n becomes n - 1.
                v = value - 1 if value else 1
                if hexa:
                    text_v = digits[:2] + format(v, "X" if digits[2:].isupper() else "x")
                elif octal:
                    text_v = "0" + format(v, "o")
                else:
                    text_v = str(v)
                found.append(Mutant(path, line_no, hit.start(), hit.group(), text_v + suffix,
                                    "constant"))
            for hit in BOOL_RE.finditer(m):
                new = "false" if hit.group() == "true" else "true"
                found.append(Mutant(path, line_no, hit.start(), hit.group(), new, "constant"))
            for hit in COND_RE.finditer(m):
                open_at = hit.end() - 1
                close = closing_paren(m, open_at)
                if close < 0:
                    continue  # the condition goes on over several lines
                old = lines[no][open_at:close + 1]
                found.append(Mutant(path, line_no, open_at, old, "(!" + old + ")", "negation"))
            if CALL_RE.match(stripped) and stripped.endswith(");") and prev_code[-1] in ";{}:":
                first = re.match(r"(?:\(void\)\s*)?([A-Za-z_]\w*)", stripped)
                open_at = stripped.index("(", first.end())
                # The whole statement is one call: its argument list ends it.
                if first.group(1) not in NOT_CALLS and \
                        closing_paren(stripped, open_at) == len(stripped) - 2:
                    start = len(m) - len(m.lstrip())
                    old = lines[no][start:start + len(stripped)]
                    found.append(Mutant(path, line_no, start, old, "(void)0;", "call dropped"))
        prev_code = stripped
    return found


def apply(text, mutant):
    lines = text.split("\n")
    line = lines[mutant.line - 1]
    assert line[mutant.col:mutant.col + len(mutant.old)] == mutant.old, mutant
    lines[mutant.line - 1] = line[:mutant.col] + mutant.new + line[mutant.col + len(mutant.old):]
    return "\n".join(lines)


# ---------------------------------------------------------------------------
# The scratch copy and its build


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, text=True, stdout=subprocess.PIPE, **kw).stdout


def git(repo, *args):
    return run(["git", "--no-optional-locks", "-C", repo, *args])


def tracked_files(repo, source):
    """{path: (bytes, executable)} of the tracked files of a commit or of the
    working tree. The tests run some of them (scripts/check-manual-page.sh),
    so a program keeps its mode in the copy."""
    files = {}
    if source == "worktree":
        listed = git(repo, "ls-files", "-z", "--cached", "--others", "--exclude-standard")
        for path in filter(None, listed.split("\0")):
            full = os.path.join(repo, path)
            if os.path.isfile(full) and not os.path.islink(full):
                with open(full, "rb") as f:
                    files[path] = (f.read(), os.access(full, os.X_OK))
        return files
    listed = git(repo, "ls-tree", "-r", "-z", source)
    entries = []
    for item in filter(None, listed.split("\0")):
        meta, path = item.split("\t", 1)
        mode, kind, sha = meta.split()
        if kind == "blob" and mode != "120000":
            entries.append((path, sha, mode == "100755"))
    proc = subprocess.run(["git", "--no-optional-locks", "-C", repo, "cat-file", "--batch"],
                          input="".join(sha + "\n" for _, sha, _ in entries).encode(),
                          stdout=subprocess.PIPE, check=True)
    data, at = proc.stdout, 0
    for path, _, executable in entries:
        header_end = data.index(b"\n", at)
        size = int(data[at:header_end].split()[2])
        files[path] = (data[header_end + 1:header_end + 1 + size], executable)
        at = header_end + 1 + size + 1
    return files


def sync_copy(files, src):
    """Writes only what differs, so the build stays incremental across runs
    (and a fault left by an interrupted run is undone)."""
    written = 0
    for path, (data, executable) in files.items():
        dest = os.path.join(src, path)
        mode = 0o755 if executable else 0o644
        try:
            with open(dest, "rb") as f:
                same = f.read() == data
            if same and os.stat(dest).st_mode & 0o777 == mode:
                continue
        except OSError:
            pass
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        with open(dest, "wb") as f:
            f.write(data)
        os.chmod(dest, mode)
        written += 1
    for root, _, names in os.walk(src):
        for name in names:
            rel = os.path.relpath(os.path.join(root, name), src)
            if rel not in files:
                os.remove(os.path.join(root, name))
    return written


# -O2 without -g: the compile of one file costs about the same as at -O1 (its
# headers dominate), the slowest test runs twice as fast, linking stays quick,
# and asserts stay on.
CONFIGURE = ["-G", "Ninja", "-DCMAKE_BUILD_TYPE=Mutate", "-DCMAKE_CXX_FLAGS_MUTATE=-O2",
             "-DCMAKE_C_FLAGS_MUTATE=-O2", "-DBUILD_TESTING=ON"]
BOARD = "-DVORNACKLE_BOARD="


def configure(src, build, board):
    """A build made before with the same settings is kept; one that differs
    only in the board is configured again in place (cheap both ways)."""
    flags = CONFIGURE + [BOARD + ("ON" if board else "OFF")]
    stamp = os.path.join(build, "mutate-configure.txt")
    old = ""
    if os.path.exists(os.path.join(build, "build.ninja")) and os.path.exists(stamp):
        with open(stamp) as f:
            old = f.read()
        if old == " ".join(flags):
            return
    same_base = [f for f in old.split() if not f.startswith(BOARD)] == CONFIGURE
    if os.path.isdir(build) and not same_base:
        shutil.rmtree(build)
    if os.path.exists(stamp):
        os.remove(stamp)  # a configure that fails (no board packages) is not kept
    run_build(["cmake", "-S", src, "-B", build, *flags], check=True)
    with open(stamp, "w") as f:
        f.write(" ".join(flags))


def board_wanted(dirs):
    return any(d.strip("/") == "server" or d.startswith("server/") for d in dirs)


def run_group(argv, build=True, **kw):
    """A command in a process group of its own, stopped with all it started
    when an interrupt comes: a build is sent SIGTERM (ninja then kills its
    jobs and removes what they half wrote), a test SIGKILL (the board's API
    test would leave its boards serving)."""
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            start_new_session=True, **kw)
    try:
        out, _ = proc.communicate()
    except BaseException:
        if build:
            stop_group(proc)
        else:
            kill(proc)
            proc.wait()
        raise
    return subprocess.CompletedProcess(argv, proc.returncode, out)


def run_build(argv, check=False):
    built = run_group(argv)
    if check and built.returncode != 0:
        sys.exit(f"mutate: {' '.join(argv[:2])} failed:\n{built.stdout[-3000:]}")
    return built


def stop_group(proc, grace=10.0):
    try:
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        kill(proc)
        proc.wait()
    except ProcessLookupError:
        pass


@dataclass
class Chunk:
    """One process of the suite: a test program with a filter, or a command."""
    name: str
    argv: list
    cwd: str
    env: dict
    seconds: float = 0.0
    program: str = ""
    uses: set = field(default_factory=set)  # programs of the build it runs


def ctest_programs(build, exclude):
    """The test programs ctest runs, with their working folder, environment
    and the GoogleTest names left out; the plain commands that are not
    GoogleTest programs; the names of the tests left out; and those of the
    tests with no command yet (their program is not built)."""
    info = json.loads(run(["ctest", "--show-only=json-v1"], cwd=build))
    programs, others, left_out, unbuilt = {}, [], [], []
    for test in info.get("tests", []):
        cmd = test.get("command") or []
        gtest = [a.split("=", 1)[1] for a in cmd[1:] if a.startswith("--gtest_filter=")]
        if exclude and re.search(exclude, test["name"]):
            left_out.append(test["name"])
            if gtest:
                programs.setdefault(cmd[0], [None, None, []])[2].append(gtest[0])
            continue
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        env = dict(os.environ)
        for pair in props.get("ENVIRONMENT", []):
            k, _, v = pair.partition("=")
            env[k] = v
        cwd = props.get("WORKING_DIRECTORY", build)
        if gtest:
            entry = programs.setdefault(cmd[0], [None, None, []])
            entry[0], entry[1] = cwd, env
        elif cmd:
            # A command may run programs of the build (marks_option runs
            # vornackle): they are built, and rebuilt with each fault.
            # The files a test says it needs are such programs too (the
            # board's API test names the service, the game and the recorder).
            uses = {a for a in cmd + props.get("REQUIRED_FILES", [])
                    if os.path.isabs(a) and a.startswith(build + os.sep)}
            others.append(Chunk(test["name"], cmd, cwd, env, uses=uses))
        else:
            unbuilt.append(test["name"])
        if test["name"].endswith("_NOT_BUILT"):
            sys.exit(f"mutate: {test['name']}: a test program was not built")
    # A program whose every test is left out is not run at all.
    programs = {exe: e for exe, e in programs.items() if e[0] is not None}
    return programs, others, left_out, unbuilt


def plan_suite(programs, others, scratch, every=False):
    """Times each test program's suites once on the unfaulted build and cuts
    the run into processes: each slow suite on its own (`every`: each suite),
    the rest of a program together. Fails if the suite does not pass as it is."""
    chunks = []
    for exe, (cwd, env, excluded) in sorted(programs.items()):
        out = os.path.join(scratch, "baseline-" + os.path.basename(exe) + ".json")
        minus = "-" + ":".join(excluded) if excluded else ""
        proc = run_group([exe, "--gtest_output=json:" + out, "--gtest_filter=*" + minus],
                         build=False, cwd=cwd, env=env)
        if proc.returncode != 0:
            sys.exit(f"mutate: the suite fails without any fault ({exe}):\n{proc.stdout[-3000:]}")
        with open(out) as f:
            report = json.load(f)
        rest, rest_time = [], 0.0
        for suite in report["testsuites"]:
            t = float(suite["time"].rstrip("s"))
            if t >= 1.0 or every:
                chunks.append(Chunk(f"{os.path.basename(exe)}:{suite['name']}",
                                    [exe, f"--gtest_filter={suite['name']}.*{minus}"], cwd, env, t, exe))
            else:
                rest.append(suite["name"])
                rest_time += t
        if rest:
            chunks.append(Chunk(os.path.basename(exe),
                                [exe, "--gtest_filter=" + ":".join(s + ".*" for s in rest) + minus],
                                cwd, env, rest_time, exe))
    for chunk in others:
        start = time.monotonic()
        proc = run_group(chunk.argv, build=False, cwd=chunk.cwd, env=chunk.env)
        if proc.returncode != 0:
            sys.exit(f"mutate: the suite fails without any fault ({chunk.name})")
        chunk.seconds = time.monotonic() - start
        chunk.program = chunk.argv[0]
        chunks.append(chunk)
    return chunks


def lanes_for(chunks, jobs):
    """Longest first onto the least loaded lane; each lane then runs its
    quickest first, so most faults are caught within a second."""
    lanes = [[] for _ in range(max(1, jobs))]
    for chunk in sorted(chunks, key=lambda c: -c.seconds):
        min(lanes, key=lambda lane: sum(c.seconds for c in lane)).append(chunk)
    return [sorted(lane, key=lambda c: c.seconds) for lane in lanes if lane]


def run_suite(lanes, factor, minimum, every=False, keep=None):
    """Runs the lanes side by side; the first failure or timeout stops all
    (`every`: nothing stops, and every process that failed is named).
    keep(name, output) is given what each failed process printed.
    Returns (caught, what caught it)."""
    stop = threading.Event()
    result = {}
    failed_chunks = []
    lock = threading.Lock()
    procs = set()

    def lane_worker(lane):
        for chunk in lane:
            if stop.is_set():
                return
            gtest = any(a.startswith("--gtest_filter=") for a in chunk.argv)
            argv = chunk.argv + (["--gtest_brief=1"] if gtest else []) + \
                (["--gtest_fail_fast"] if gtest and not every else [])
            proc = subprocess.Popen(argv, cwd=chunk.cwd, env=chunk.env, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True, start_new_session=True)
            with lock:
                procs.add(proc)
                if stop.is_set():  # stopped while this one was starting
                    kill(proc)
            out = ""
            try:
                out, _ = proc.communicate(timeout=max(minimum, factor * chunk.seconds))
                failed = proc.returncode != 0
                why = chunk.name
                hit = re.search(r"\[  FAILED  \] (\S+)", out)
                if hit:
                    why = hit.group(1)
                elif failed:
                    why = f"{chunk.name} (exit {proc.returncode})"
            except subprocess.TimeoutExpired:
                kill(proc)
                out, _ = proc.communicate()
                failed, why = True, f"{chunk.name} (timeout)"
            with lock:
                procs.discard(proc)
            if failed and keep and not stop.is_set():
                keep(chunk.name, out or "")
            if failed and every:
                # Each test that failed, or the process when none could say.
                tests = sorted(set(re.findall(r"^\[  FAILED  \] ([\w/]+\.[\w/]+)",
                                              out or "", re.M)))
                with lock:
                    failed_chunks.extend(tests or [why.replace(" ", "_")])
                continue
            if failed:
                with lock:
                    # A process killed because another lane failed first
                    # does not count.
                    if not stop.is_set():
                        result["why"] = why
                        stop.set()
                        for other in procs:
                            kill(other)
                return

    threads = [threading.Thread(target=lane_worker, args=(lane,), daemon=True) for lane in lanes]
    for t in threads:
        t.start()
    try:
        for t in threads:
            t.join()
    except KeyboardInterrupt:
        with lock:
            stop.set()
            for proc in procs:
                kill(proc)
        raise
    if every:
        return bool(failed_chunks), " ".join(sorted(failed_chunks))
    return "why" in result, result.get("why", "")


def kill(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


# ---------------------------------------------------------------------------


def files_to_mutate(src, dirs):
    chosen = []
    for d in dirs:
        folder = os.path.join(src, d)
        if not os.path.isdir(folder):
            folder = os.path.dirname(folder.rstrip("/")) or src
        for name in sorted(os.listdir(folder)):
            path = os.path.relpath(os.path.join(folder, name), src)
            if name.endswith(".cpp") and os.path.isfile(os.path.join(folder, name)) and path not in chosen:
                chosen.append(path)
    return chosen


def sources_of(build, target, src, objects=None):
    """The sources compiled into a test program: only the programs that hold
    the faulted file are rebuilt and run (and a file in none is left out).
    `objects` gathers each source's object files."""
    commands = run(["ninja", "-C", build, "-t", "commands", target])
    if objects is not None:
        for obj, source in re.findall(r"-o (\S+\.o) -c (\S+\.cpp)", commands):
            objects.setdefault(os.path.relpath(source, src), set()).add(os.path.join(build, obj))
    return {os.path.relpath(p, src) for p in re.findall(r"-c (\S+\.cpp)", commands)}


def read_objects(paths):
    contents = {}
    for path in paths:
        try:
            with open(path, "rb") as f:
                contents[path] = f.read()
        except OSError:
            contents[path] = None
    return contents


def parse_count(value):
    return 0 if str(value).lower() in ("all", "0", "") else int(value)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--mutants", default=os.environ.get("MUTANTS", "100"))
    ap.add_argument("--seed", type=int, default=int(os.environ.get("MUTANT_SEED", "1")))
    ap.add_argument("--dirs", default=os.environ.get(
        "MUTATE_DIRS", "game graphics platform/core platform/desktop platform/headless"))
    ap.add_argument("--skip", default=os.environ.get("MUTATE_SKIP", "server/store_pg.cpp"),
                    help="files never faulted (paths from the top, space-separated)")
    ap.add_argument("--from", dest="source", default=os.environ.get("MUTATE_FROM", "HEAD"))
    ap.add_argument("--out", default=os.environ.get("MUTATE_OUT", "build-mutate"))
    ap.add_argument("--jobs", type=int, default=int(os.environ.get("JOBS", "2")))
    ap.add_argument("--timeout-factor", type=float, default=4.0,
                    help="a test process may take this many times its time unfaulted")
    ap.add_argument("--min-timeout", type=float, default=10.0, help="seconds, at least")
    ap.add_argument("--exclude", default=os.environ.get("MUTATE_EXCLUDE", "^FaultSweep"),
                    help="ctest names (a regular expression) left out of each run")
    ap.add_argument("--list", action="store_true", help="only list the drawn faults")
    ap.add_argument("--every-test", action="store_true",
                    default=os.environ.get("MUTATE_EVERY_TEST", "") not in ("", "0"),
                    help="run every suite on each fault and tell which catch it")
    args = ap.parse_args()

    # A job started in the background by a shell without job control inherits
    # SIGINT ignored, and SIGTERM would end Python with no clean-up: both
    # become KeyboardInterrupt, caught below.
    def interrupt(signum, _frame):
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        raise KeyboardInterrupt(signum)

    signal.signal(signal.SIGINT, interrupt)
    signal.signal(signal.SIGTERM, interrupt)
    try:
        mutate(args)
    except KeyboardInterrupt as e:
        # Before the first fault: nothing to put back or to tell.
        print("\nmutate: interrupted before the first fault", file=sys.stderr)
        sys.exit(128 + (e.args[0] if e.args else signal.SIGINT))


def mutate(args):
    started = time.monotonic()
    repo = run(["git", "rev-parse", "--show-toplevel"]).strip()
    out = os.path.abspath(os.path.join(repo, args.out))
    src, build = os.path.join(out, "src"), os.path.join(out, "build")
    os.makedirs(src, exist_ok=True)

    if args.source == "worktree":
        commit = git(repo, "rev-parse", "--short", "HEAD").strip() + " + working tree"
    else:
        commit = git(repo, "rev-parse", "--short", args.source + "^{commit}").strip()
    files = tracked_files(repo, args.source)
    written = sync_copy(files, src)
    print(f"mutate: sources of {commit} in {os.path.relpath(src, repo)} ({written} files updated)")

    dirs = args.dirs.split()
    board = board_wanted(dirs)
    configure(src, build, board)
    # ctest knows the test programs once they are built (a program not built
    # yet shows as a placeholder, or as a test with no command): everything
    # under tests/, and a test whose program is elsewhere (colour_vision)
    # has it built by its name; then ask. The benchmarks are never built.
    print("mutate: building the tests", flush=True)
    built = run_build(["ninja", "-C", build, "-j", str(args.jobs), "tests/all"])
    if built.returncode != 0:
        sys.exit("mutate: the unfaulted sources do not build:\n" + built.stdout[-3000:])
    programs, others, left_out, unbuilt = ctest_programs(build, args.exclude)
    if unbuilt:
        built = run_build(["ninja", "-C", build, "-j", str(args.jobs), *unbuilt])
        if built.returncode == 0:
            programs, others, left_out, unbuilt = ctest_programs(build, args.exclude)
        if unbuilt:
            sys.exit("mutate: tests with no program to run (none built of their name): " +
                     " ".join(unbuilt) + "\n" + built.stdout[-1000:])
    if left_out:
        print(f"mutate: tests left out (MUTATE_EXCLUDE={args.exclude}): " + " ".join(left_out))
    targets = sorted(os.path.relpath(p, build) for p in programs)
    targets += sorted({os.path.relpath(u, build) for c in others for u in c.uses})

    def build_tests(which):
        return run_build(["ninja", "-C", build, "-j", str(args.jobs), *which])

    first = build_tests(targets)
    if first.returncode != 0:
        sys.exit("mutate: the unfaulted sources do not build:\n" + first.stdout[-3000:])

    objects = {}
    holding = {t: sources_of(build, t, src, objects) for t in targets}
    linked = set().union(*holding.values())
    skip = set(args.skip.split())
    paths = [p for p in files_to_mutate(src, dirs) if p not in skip]
    unused = [p for p in paths if p not in linked]
    paths = [p for p in paths if p in linked]
    originals = {}
    everything = []
    for path in paths:
        with open(os.path.join(src, path), encoding="utf-8") as f:
            originals[path] = f.read()
        everything += candidates_in(path, originals[path])
    count = parse_count(args.mutants)
    rng = random.Random(args.seed)
    drawn = everything if count <= 0 or count >= len(everything) else \
        [everything[i] for i in sorted(rng.sample(range(len(everything)), count))]
    print(f"mutate: {len(everything)} candidate faults in {len(paths)} files; "
          f"trying {len(drawn)} (MUTANT_SEED={args.seed})")
    if unused:
        print("mutate: not in any test program, so left out: " + " ".join(unused))
    if not paths:
        # platform/win32 builds only for Windows: docs/TESTING.md says what
        # guards it.
        sys.exit(f"mutate: no file of MUTATE_DIRS={args.dirs} is in a test program of this build")
    if args.list:
        for m in drawn:
            print(f"  {m.path}:{m.line}  {m.kind:12} {m.describe()}")
        return

    chunks = plan_suite(programs, others, out, args.every_test)
    baseline = sum(c.seconds for c in chunks)
    print(f"mutate: suite unfaulted {baseline:.1f} s in {len(chunks)} processes: " +
          ", ".join(f"{c.name} {c.seconds:.1f}" for c in sorted(chunks, key=lambda c: c.seconds)))

    def plan_for(path):
        which = [t for t in targets if path in holding[t]]
        mine = {os.path.join(build, t) for t in which}
        built_here = {os.path.join(build, t) for t in targets}
        return which, lanes_for([c for c in chunks if c.program in mine or
                                 (c.program not in built_here and
                                  (not c.uses or c.uses & mine))], args.jobs)

    plans = {path: plan_for(path) for path in paths}
    # The unfaulted object code of each file drawn (compiled by now), to tell
    # a fault that changes nothing.
    unfaulted = {path: read_objects(objects.get(path, ())) for path in {m.path for m in drawn}}

    failures = os.path.join(out, "failures")
    shutil.rmtree(failures, ignore_errors=True)
    os.makedirs(failures)

    interrupted = 0
    current = None
    try:
        for index, mutant in enumerate(drawn, 1):
            def keep(name, printed, index=index):
                safe = re.sub(r"[^\w.-]+", "_", name)
                with open(os.path.join(failures, f"{index:03}-{safe}.log"), "w") as f:
                    f.write(printed)

            t0 = time.monotonic()
            full = os.path.join(src, mutant.path)
            current = mutant.path
            with open(full, "w", encoding="utf-8") as f:
                f.write(apply(originals[mutant.path], mutant))
            which, lanes = plans[mutant.path]
            built = build_tests(which)
            t1 = time.monotonic()
            mutant.build_seconds = t1 - t0
            if built.returncode != 0:
                mutant.status = "skipped"
                error = re.search(r"error: (.*)", built.stdout)
                mutant.caught_by = error.group(1)[:70] if error else "does not build"
            elif objects.get(mutant.path) and \
                    read_objects(objects[mutant.path]) == unfaulted.get(mutant.path):
                # The same code as without the fault (a line this build does
                # not compile, #ifdef _WIN32): equivalent here, not tested.
                mutant.status = "skipped"
                mutant.caught_by = "the same object code as unfaulted"
            else:
                caught, why = run_suite(lanes, args.timeout_factor, args.min_timeout,
                                        args.every_test, keep)
                mutant.status = "caught" if caught else "MISSED"
                mutant.caught_by = why
            # Undone at once: the next build compiles the original again.
            with open(full, "w", encoding="utf-8") as f:
                f.write(originals[mutant.path])
            current = None
            mutant.seconds = time.monotonic() - t0
            print(f"[{index:3}/{len(drawn)}] {mutant.path}:{mutant.line}  {mutant.describe():28.28} "
                  f"{mutant.status:8} {mutant.build_seconds:4.1f}+{mutant.seconds - mutant.build_seconds:4.1f} s"
                  f"  {mutant.caught_by}", flush=True)
    except KeyboardInterrupt as e:
        # The builds and tests under way are stopped by now (run_build,
        # run_suite). A compile of the fault may have finished all the same:
        # its objects go, so the next run compiles the file again.
        interrupted = e.args[0] if e.args else signal.SIGINT
        if current:
            with open(os.path.join(src, current), "w", encoding="utf-8") as f:
                f.write(originals[current])
            for obj in objects.get(current, ()):
                if os.path.exists(obj):
                    os.remove(obj)
        print("\nmutate: interrupted; the summary covers the faults tried so far", flush=True)

    elapsed = time.monotonic() - started
    text = summary([m for m in drawn if m.status], originals, commit, args, elapsed, len(everything))
    print(text)
    report = os.path.join(out, "report.txt")
    with open(report, "w") as f:
        f.write(text)
    print(f"mutate: report written to {os.path.relpath(report, repo)}")
    if interrupted:
        sys.exit(128 + interrupted)


def summary(tried, originals, commit, args, elapsed, total):
    rows = {}
    for m in tried:
        row = rows.setdefault(m.path, {"caught": 0, "MISSED": 0, "skipped": 0})
        row[m.status] += 1
    caught = sum(r["caught"] for r in rows.values())
    missed = sum(r["MISSED"] for r in rows.values())
    skipped = sum(r["skipped"] for r in rows.values())
    lines = ["", f"Mutation run on {commit}, MUTANT_SEED={args.seed}, {len(tried)} of {total} "
             f"candidate faults, {elapsed / 60:.1f} min", "",
             f"{'file':32} {'caught':>7} {'missed':>7} {'skipped':>8} {'score':>7}"]
    for path in sorted(rows):
        r = rows[path]
        counted = r["caught"] + r["MISSED"]
        score = f"{100 * r['caught'] / counted:.0f}%" if counted else "-"
        lines.append(f"{path:32} {r['caught']:7} {r['MISSED']:7} {r['skipped']:8} {score:>7}")
    counted = caught + missed
    score = f"{100 * caught / counted:.1f}%" if counted else "-"
    lines.append(f"{'total':32} {caught:7} {missed:7} {skipped:8} {score:>7}")
    lines += ["", f"Score: {caught} caught / {counted} compiled faults = {score} "
              f"({skipped} did not compile)"]
    if args.every_test:
        # Per test: the faults it catches, and those no other test catches.
        per = {}
        for m in tried:
            if m.status != "caught":
                continue
            names = m.caught_by.split()
            for name in names:
                row = per.setdefault(name, [0, 0])
                row[0] += 1
                row[1] += len(names) == 1
        lines += ["", f"{'test (or process)':56} {'catches':>8} {'alone':>6}"]
        for name, (catches, alone) in sorted(per.items(), key=lambda kv: (-kv[1][1], -kv[1][0])):
            lines.append(f"{name:56} {catches:8} {alone:6}")
    survivors = [m for m in tried if m.status == "MISSED"]
    if survivors:
        lines += ["", "Survivors (the suite passed with these faults):"]
        for m in survivors:
            was = originals[m.path].split("\n")[m.line - 1].strip()
            now = apply(originals[m.path], m).split("\n")[m.line - 1].strip()
            lines.append(f"  {m.path}:{m.line}  [{m.kind}] {m.describe()}")
            lines.append(f"      was: {was}")
            lines.append(f"      now: {now}")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
