#!/usr/bin/python3
"""The README's pictures of the page, taken from the real page in a headless
chromium (`make update-screenshots`), so that they show it as it is.

    web_shots.py SITE BOARD_BUILD DOCS

SITE is `make web`'s folder, BOARD_BUILD `make board`'s. A board on loopback
serves a copy of the site pointed at itself, with three runs of the bot's game
(kept in tests/game/golden/) submitted to it. Writes DOCS/web.png (the page in
play, its buttons at the top right) and DOCS/web-hall-of-fame.png (the page's
hall of fame).
"""
import base64
import json
import os
import shutil
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tests", "web"))
sys.path.insert(0, os.path.join(TOP, "tests", "server"))
import boardlib  # noqa: E402
from browser_test import PICTURE, open_page, start_level  # noqa: E402


def shot(page, path):
    page.eval("document.getElementById('touch').hidden = true, 1")
    with open(path, "wb") as f:
        f.write(base64.b64decode(page.send("Page.captureScreenshot", format="png")["data"]))
    print("web_shots: " + path)


def main():
    site, build, docs = sys.argv[1:4]
    root = tempfile.mkdtemp(prefix="vn-web-shots-")
    board = page = None
    try:
        copy = os.path.join(root, "site")
        shutil.copytree(site, copy)
        with open(os.path.join(copy, "hall-of-fame.json"), "w") as f:
            json.dump({"board": "/"}, f)
        board = boardlib.Board(os.path.join(build, "vornackle-board"),
                               "sqlite:" + os.path.join(root, "board.db"), "--site", copy)
        for i, initials in enumerate(("JWL", "B0T", "ACE")):
            _, _, answer = board.submit(boardlib.genuine(i), initials)
            board.wait_done(answer["id"])
        page = open_page(shutil.which("chromium") or "/usr/bin/chromium",
                         "http://127.0.0.1:%d/site/" % board.port)
        if not page.wait_for(PICTURE + " && !document.getElementById('halloffame').hidden") or \
                start_level(page, page.tap) is not None:
            sys.exit("web_shots: the page did not reach play")
        page.key("ArrowRight", True)
        time.sleep(1.5)
        page.key("ArrowRight", False)
        time.sleep(1)
        shot(page, os.path.join(docs, "web.png"))
        page.eval("document.getElementById('halloffame').click(), 1")
        if not page.wait_for("document.querySelectorAll('#hof tr[data-id]').length === 3"):
            sys.exit("web_shots: the hall of fame did not show its runs")
        shot(page, os.path.join(docs, "web-hall-of-fame.png"))
    finally:
        if page:
            page.close()
        if board:
            board.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
