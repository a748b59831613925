#!/usr/bin/python3
"""The page with a hall of fame, in a headless chromium against a real board.

    board_page_test.py SITE BOARD_BUILD   (`make web`'s folder, `make board`'s)

A bot in the page plays a whole game from the challenge of a board on another
origin; submitted while the board is down, the run is kept, sent once when it
is back, and ranked live with the times `vornackle --verify` prints. The
board's own copy of the site lists both boards; Watch plays a run. With no
board the page asks for nothing. Figures: Submit to rank shown, board.js.
"""
import contextlib
import gzip
import json
import os
import re
import shutil
import signal
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "server"))
import boardlib  # noqa: E402
from pagelib import CHROMIUM, PICTURE, check, failures, opened, served, start_level  # noqa: E402

# The bot in the page: it finds the game's record (game/game_data.h, as
# 32-bit words on wasm32) in the program's memory by level 1's rules beside
# level 1 and no best time, and holds the keys the tests' bot would
# (tests/game/bot_player.cpp) after each picture, until the game is complete.
BOT = """
(() => {
  const RULES = [1000, 25, 25, 50, 75, 75, 100, 150];
  const CODES = {37: 'ArrowLeft', 39: 'ArrowRight', 13: 'Enter', 32: 'Space'};
  const bot = window.vnBot = {at: -1, held: new Set(), done: false};
  const value = Array.from({length: 52}, () => new Float64Array(115));
  const moved = (p, d) => Math.min(114, Math.max(0, p + d));
  function choose(m, b) {  // -1, 0, +1: towards the best catches of the next 50 frames
    for (let p = 0; p < 115; ++p) value[51][p] = -1e-4 * Math.abs(p * 5 - 285);
    for (let t = 50; t >= 1; --t) {
      for (let p = 0; p < 115; ++p) {
        value[t][p] = Math.max(value[t + 1][p], value[t + 1][moved(p, -1)], value[t + 1][moved(p, 1)]);
      }
      for (let w = b + 27; w < b + 127; w += 5) {  // x, y, speed, kind, active
        const centre = m[w + 1] + t * m[w + 2] + 5;
        if (!(m[w + 4] & 255) || centre < 352 || centre > 360) continue;
        const points = m[b + 7 + m[w + 3] / 10];
        const weight = points === -1 ? -1e6 : points < 0 ? points * 4 - 100 : points * 0.97 ** t;
        for (let p = 0; p < 115; ++p) if (m[w] + 5 >= p * 5 && m[w] + 5 <= p * 5 + 70) value[t][p] += weight;
      }
    }
    const here = moved(Math.floor(m[b + 18] / 5), 0);
    let choice = 0;
    for (const move of [-1, 1]) if (value[1][moved(here, move)] > value[1][moved(here, choice)] + 1e-9) choice = move;
    return choice;
  }
  function hold(keys) {
    const send = (type, vk) => dispatchEvent(new KeyboardEvent(type, {code: CODES[vk], key: CODES[vk]}));
    for (const vk of [...bot.held]) if (!keys.includes(vk)) bot.held.delete(vk), send('keyup', vk);
    for (const vk of keys) if (!bot.held.has(vk)) bot.held.add(vk), send('keydown', vk);
  }
  function decide() {
    const memory = Object.values(Module.asm).find((v) => v instanceof WebAssembly.Memory);
    const m = new Int32Array(memory.buffer);
    if (bot.at < 0) {
      for (let i = 8; i < m.length && bot.at < 0; ++i) {
        if (m[i - 5] === 1 && m[i - 3] === 10000 && RULES.every((v, k) => m[i + k] === v)) bot.at = i - 7;
      }
      if (bot.at < 0) return;
    }
    const b = bot.at, state = m[b];
    if (bot.done) return hold([]);
    if (state !== 4) return hold({0: [13], 1: [32], 3: [13]}[state] || []);
    if (m[b + 6] >= m[b + 7]) return (bot.done = m[b + 2] === 5) ? hold([]) : hold([32]);
    if (m[b + 3] < 1 || (m[b + 17] & 255) === 1) return hold([32]);  // failed: again
    const move = choose(m, b);
    hold(move ? [move < 0 ? 37 : 39] : []);
  }
  bot.start = () => {
    const shown = Module.onPicture;
    Module.onPicture = () => { shown(); decide(); };
    setInterval(decide, 100);
  };
})();
"""

def kept(page):
    return page.eval("JSON.parse(localStorage.getItem('vornackle.unsent') || '[]')"
                     ".map((k) => k.initials)")


@contextlib.contextmanager
def board_up(build, db, *args):
    for attempt in range(50):  # the port of a board just stopped may take a moment
        try:
            board = boardlib.Board(os.path.join(build, "vornackle-board"), db, *args)
            break
        except RuntimeError:
            if attempt == 49:
                raise
            time.sleep(0.2)
    try:
        yield board
    finally:
        board.stop()


def verified_times(build, run):
    code, lines = boardlib.verify_lines(os.path.join(build, "vornackle"), run)
    attempts = re.findall(r"level (\d)  \w+ +(\d+) s", lines)
    return code, int(re.search(r"fastest total: (\d+) s", lines).group(1)), \
        [sum(int(s) for lv, s in attempts if int(lv) == n) for n in range(1, 6)]


def game_submitted_offline(build, root, db):
    """A whole game from the challenge of a board on another origin; its run
    is kept while the board is down and sent once when it is back. The
    run's id, or None."""
    with contextlib.ExitStack() as stack:
        board = stack.enter_context(board_up(build, db))
        port = board.port
        site = os.path.join(root, "other-origin")
        with open(os.path.join(site, "hall-of-fame.json"), "w") as f:
            json.dump({"board": "http://127.0.0.1:%d/" % port}, f)
        _, url = stack.enter_context(served(site))
        page = stack.enter_context(opened(CHROMIUM, url, BOT))
        check(page.wait_for(PICTURE) and page.wait_for("!document.getElementById('halloffame').hidden")
              and start_level(page, page.tap, "briefing") is None, "the page with a board starts")
        page.run("vnBot.start()")
        check(page.wait_for("vnBot.at >= 0", 20), "the bot finds the game's record")
        complete = page.wait_for("!!document.getElementById('hof-submit')", 900)
        check(complete, "the bot completes a game, and the page offers to submit it")
        if not complete:
            return None
        text = page.text("hof")
        check("run file" in text and "initials" in text and "http://127.0.0.1:%d/" % port in text,
              "before submitting, the page says what is sent and where: " + text)
        board.stop()
        # Typed as keys: neither the game nor the page's own keys (M, S) take them.
        for name in ("KeyM", "Digit5", "KeyS"):
            page.tap(name, 0)
        check(page.eval("document.getElementById('hof-initials').value") == "m5s" and
              page.eval("Module.soundOff") is False, "initials typed go to their field only")
        page.run("document.getElementById('hof-submit').click()")
        check(page.wait_for("/kept in this browser/.test(document.getElementById('hof').textContent)",
                            60) and kept(page) == ["M5S"],
              "submitted while the board is down, the run is kept: " + page.text("hof"))
        board = stack.enter_context(board_up(build, db, "--port", str(port)))
        check(page.wait_for("!!document.getElementById('hof').dataset.landed", 120) and
              kept(page) == [], "the kept run is sent when the board is back: " + page.text("hof"))
        shown = page.text("hof")
        page.reload()  # the next load has nothing left to send
        time.sleep(2)
        ids = [e["id"] for e in board.get_json("/board.json?n=1000")[1].get("live", [])]
        check(len(ids) == 1 and board.request("GET", "/runs/%d" % (ids[0] + 1))[0] == 404,
              "the run was sent once: %s" % ids)
        if not ids:
            return None
        _, run = board.get_json("/runs/%d" % ids[0])
        code, fastest, levels = verified_times(build, board.request("GET", "/runs/%d.vnr" % ids[0])[2])
        check(code == 0 and run.get("board") == "live" and run.get("total") == fastest and
              run.get("levels") == levels and run.get("initials") == "M5S",
              "it ranks live with the verifier's times: %s against %s %s" % (run, fastest, levels))
        check("Live board, rank 1" in shown and "Total %s s" % fastest in shown,
              "the page shows where it landed: " + shown)
        return ids[0]


def board_site(build, root, db, live_id):
    """The board's own copy of the site: both boards with Watch, and the
    time from Submit to the rank shown (runs not from a challenge)."""
    site = os.path.join(root, "board-site")
    with board_up(build, db, "--site", site, "--rate", "1000", "--burst", "1000") as board, \
            opened(CHROMIUM, "http://127.0.0.1:%d/site/" % board.port) as page:
        page.wait_for(PICTURE + " && !document.getElementById('halloffame').hidden")
        times = []
        for i in range(6):
            # The page's own panel, for a session whose run is a bot's game
            # recorded elsewhere, so that each takes seconds, not minutes.
            run = list(boardlib.genuine(5000 + i))
            times.append(page.eval(
                "(() => { const old = document.getElementById('hof'); if (old) old.remove();"
                " vnHallOfFame('/', {ended: () => true, run: () => new Uint8Array(%s)}).offer();"
                " document.getElementById('hof-initials').value = 'B%02d';"
                " const start = performance.now(); document.getElementById('hof-submit').click();"
                " return new Promise((done) => { const look = () => document.getElementById('hof')"
                ".dataset.landed ? done(performance.now() - start) : setTimeout(look, 5); look(); });"
                " })()" % (json.dumps(run), i)))
        check("Replay-verified board" in page.text("hof") and "Not live: its counter starts from "
              "no challenge" in page.text("hof"), "a run not from a challenge lands replay-verified, "
              "with the reason: " + page.text("hof"))
        times.sort()
        print("      press of Submit to rank shown: p95 %.0f ms (%s ms)"
              % (times[-1], ", ".join("%.0f" % t for t in times)))

        check(page.reload(), "the page loads again")
        page.run("document.getElementById('halloffame').click()")
        check(page.wait_for("document.querySelectorAll('#hof tr[data-id]').length === %d"
                            % (len(times) + (live_id is not None))),
              "the hall of fame lists every ranked run")
        headings = page.eval("[...document.querySelectorAll('#hof h3')].map((h) => h.textContent)")
        first = page.eval("document.querySelector('#hof table tr[data-id]').dataset.id")
        check(headings == ["Live", "Replay-verified"] and (live_id is None or first == str(live_id)),
              "both boards, labelled, the live run on the first: %s %s" % (headings, first))
        check(page.reload("document.querySelector('#hof tr[data-id] button').click()") and
              page.changed(seconds=30) and not page.eval(
                  "performance.getEntriesByType('resource').some((e) => /challenges/.test(e.name))"),
              "Watch plays the run in the page's own player, asking no challenge")


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # still closes its chromiums and boards
    site, build = sys.argv[1], sys.argv[2]
    with open(os.path.join(site, "hall-of-fame.json")) as f:
        check(json.load(f) == {"board": ""}, "the site as built names no board")
    with open(os.path.join(site, "board.js"), "rb") as f:
        print("      board.js: %d bytes gzip, loaded only with a board" % len(gzip.compress(f.read(), 9)))
    with tempfile.TemporaryDirectory(prefix="vn-board-page-", ignore_cleanup_errors=True) as root:
        for name, board in (("plain", ""), ("other-origin", ""), ("board-site", "/")):
            shutil.copytree(site, os.path.join(root, name))
            with open(os.path.join(root, name, "hall-of-fame.json"), "w") as f:
                json.dump({"board": board}, f)
        with served(os.path.join(root, "plain")) as (_, url), opened(CHROMIUM, url) as page:
            check(page.wait_for(PICTURE) and page.eval(
                      "document.getElementById('halloffame').hidden && !document.getElementById('hof')"
                      " && !performance.getEntriesByType('resource').some((e) => /board|challenge/"
                      ".test(e.name))"), "with no board the page asks for nothing and shows nothing of one")
            # The setting is read afresh at each load, never kept by the service worker.
            page.wait_for("navigator.serviceWorker.controller !== null")
            with open(os.path.join(root, "plain", "hall-of-fame.json"), "w") as f:
                json.dump({"board": "http://127.0.0.1:9/"}, f)
            check(page.reload() and page.wait_for("!document.getElementById('halloffame').hidden"),
                  "a board named in the setting shows at the next load")
        db = "sqlite:" + os.path.join(root, "board.db")
        board_site(build, root, db, game_submitted_offline(build, root, db))
    print("board page test: %d failed" % len(failures) if failures else "board page test: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
