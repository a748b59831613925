#!/usr/bin/python3
"""Records runs of the real page in a headless chromium, played with real key
events (the DevTools protocol's, as tests/web/browser_test.py sends them):
the page records every game, and its run is taken from the page's file
system when the game ends.

    record_page.py SITE OUT.vnr SCENARIO

SITE is `make web`'s folder (build-web/site). SCENARIO: moves (the menus,
Left and Right held and tapped in level 1, the page losing focus with a key
held, then Esc) or retry (level 1 left to run out, retried with Space, a few
moves, then Esc).
"""
import base64
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/web"))
import browser_test  # noqa: E402  (its page driver and server)


def main():
    site, out, scenario = sys.argv[1:4]
    chromium = shutil.which("chromium") or "/usr/bin/chromium"
    server, url = browser_test.serve(site)
    page = browser_test.open_page(chromium, url)
    try:
        if not page.wait_for("window.vnTiming && vnTiming.pictures > 0", 30):
            sys.exit("record_page: the page shows no picture")
        for key in ("Enter", "Space", "Enter"):  # the story, the title, the briefing
            time.sleep(1)
            page.tap(key)
        time.sleep(1)
        if scenario == "moves":
            for key, hold in (("ArrowRight", 1.0), ("ArrowLeft", 1.6), ("ArrowRight", 0.3)):
                page.tap(key, hold)
            page.key("ArrowLeft", True)
            time.sleep(0.3)
            page.eval("window.dispatchEvent(new Event('blur')), 1")
            time.sleep(1)
            page.key("ArrowLeft", False)
            for _ in range(4):
                page.tap("ArrowRight", 0.1)
                page.tap("ArrowLeft", 0.1)
        elif scenario == "retry":
            time.sleep(31)
            page.tap("Space")
            time.sleep(1.5)
            page.tap("ArrowLeft", 0.8)
        else:
            sys.exit("record_page: no scenario " + scenario)
        page.tap("Escape")
        if not page.wait_for("!!window.vnEnded", 10):
            sys.exit("record_page: the game did not end")
        run = page.eval("btoa(String.fromCharCode(...Module.FS.readFile('/run.vnr')))")
        with open(out, "wb") as f:
            f.write(base64.b64decode(run))
        print("record_page: %s (%s in the page): %d bytes" % (out, scenario, os.path.getsize(out)))
    finally:
        page.close()
        server.shutdown()


if __name__ == "__main__":
    main()
