#!/usr/bin/python3
"""Plays the web build's page in a headless chromium, with real key events.

    browser_test.py SITE   (the folder `make web` writes, build-web/site)

What depends on pace is counted in the page's own pictures or its
controller's turns, so a loaded machine makes the test slower, not wrong.
Figures, not checks: the first picture's time and the play frame's work.
"""
import gzip
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from pagelib import CHROMIUM, HEIGHT, PICTURE, TOP, WIDTH, check, differing, docs_picture, \
    failures, open_page, opened, pixel, serve, served, start_level, unless  # noqa: F401

MAX_GZIP_BYTES = 300 * 1024
BASKET_BAND = (340, 420)


def basket_x(rows):
    """Middle of the basket: columns of the basket's band with many lit pixels
    (three jewels passing, twelve rows each, light fewer)."""
    columns = [x for x in range(WIDTH)
               if sum(pixel(rows, x, y) != (0, 0, 0) for y in range(*BASKET_BAND)) > 45]
    return sum(columns) / len(columns) if columns else None


def basket_moves(page, hold, direction=1, distance=30):
    """True if the basket walks `distance` pixels in `direction` while
    `hold(True)` holds (until `hold(False)`), within ten seconds (however few
    pictures a loaded machine draws)."""
    start = basket_x(page.canvas(*BASKET_BAND))
    hold(True)
    rows = start is not None and page.wait_for_canvas(
        lambda rows: basket_x(rows) is None or (basket_x(rows) - start) * direction >= distance,
        10, BASKET_BAND)
    hold(False)
    return bool(rows) and basket_x(rows) is not None


def right_key(page):
    return lambda down: page.key("ArrowRight", down)


def lets_go(page, hold, let_go):
    """Holds Left (the script `hold`) and five pictures later runs `let_go`,
    both in the page, whatever the machine's speed. The basket must stop a
    few steps along (where it stands over ten of the page's pictures), not
    walk on to the left edge 300 pixels away."""
    start = basket_x(page.canvas(*BASKET_BAND))
    page.run("(() => { %s; const at = vnTiming.pictures + 5, shown = Module.onPicture;"
             " Module.onPicture = () => { shown(); if (vnTiming.pictures === at) {"
             " Module.onPicture = shown; %s; } }; })()" % (hold, let_go))
    end, rest, last = time.time() + 20, None, None
    while time.time() < end and (rest is None or rest != last):
        count = page.eval("vnTiming.pictures")
        page.wait_for("vnTiming.pictures >= %d" % (count + 10), 5)
        rest, last = basket_x(page.canvas(*BASKET_BAND)), rest
    rest = rest if rest == last else None
    return None if start and rest and 0 < start - rest < 100 else "from %s to %s" % (start, rest)


def play_through(page):
    page.wait_for(PICTURE)
    # A figure, not a check: how soon it comes depends on the machine.
    print("      first picture %.0f ms after navigation" % page.eval("vnTiming.firstPicture"))
    screen = start_level(page, page.tap)
    check(screen is None, "the story, title, briefing and play screens equal the desktop's "
          "pictures" + unless(screen))
    check(page.eval("!!Module.vnAudio && Module.vnAudio.allowed"), "sound allowed by the first key")

    rows = page.canvas()
    work_before = page.eval("Module.vnWork")
    check(basket_moves(page, right_key(page)), "Right moves the basket")
    check(page.wait_for_canvas(lambda now: differing(rows, now, (0, 0, WIDTH, 340)) > 0),
          "jewels fall")
    work_after = page.eval("Module.vnWork")
    frames = work_after["frames"] - work_before["frames"]
    per_frame = (work_after["busy"] - work_before["busy"]) / max(frames, 1)
    print("      play: %d frames, %.3f ms of work per frame" % (frames, per_frame))

    # Keys the page would otherwise act on: nothing scrolls, nothing leaves.
    url = page.eval("location.href")
    for name in ("ArrowLeft", "Space", "Backspace"):
        page.tap(name, 0.05)
    check(page.eval("window.scrollX === 0 && window.scrollY === 0") and
          page.eval("location.href") == url and not page.eval("!!window.vnEnded"),
          "the page neither scrolls nor leaves on Space and Backspace")

    left = "dispatchEvent(new KeyboardEvent('key%s', {code: 'ArrowLeft', key: 'ArrowLeft'}))"
    why = lets_go(page, left % "down", "dispatchEvent(new Event('blur'))")
    page.run(left % "up")
    check(why is None, "a key held when focus goes is let go" + unless(why))

    page.send("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=1)
    page.run("window.dispatchEvent(new TouchEvent('touchstart'))")
    x, y = page.eval("(() => { const r = document.querySelector('#touch button[data-vk=\"39\"]')"
                     ".getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    check(basket_moves(page, lambda down: page.send(
              "Input.dispatchTouchEvent", type="touchStart" if down else "touchEnd",
              touchPoints=[{"x": x, "y": y}] if down else []), 1, 20),
          "the touch button Right moves the basket")
    page.send("Emulation.setTouchEmulationEnabled", enabled=False)

    page.tap("Escape")
    check(page.wait_for("!!window.vnEnded && !document.getElementById('note').hidden && "
                        "/ended/.test(document.getElementById('note').textContent)") and
          page.eval("!!document.getElementById('save')"),
          "Esc ends the game, the page says so and offers to save the run")

    # The game was recorded as it went: watching it (as a file chosen or
    # dropped does) plays it through to its end.
    run = page.eval("btoa(String.fromCharCode(...Module.FS.readFile('/run.vnr')))")
    page.run("sessionStorage.setItem('vnWatch', %s), location.reload()" % json.dumps(run))
    check(page.wait_for("!!window.vnEnded && /run has ended/.test("
                        "document.getElementById('note').textContent)", 120),
          "the saved run plays in the page to its end (%s)" % page.text("note"))


def wait_for_worker(page):
    """True once the service worker has kept the site and controls the page."""
    return page.wait_for("navigator.serviceWorker.controller !== null")


def installable(page):
    return not page.send("Page.getInstallabilityErrors")["installabilityErrors"]


def build_copy(site, folder, build, remake=True):
    """A copy of the site in `folder` whose program sets window.vnBuild, made
    into a build of its own (its files' versions), unless not `remake`."""
    shutil.copytree(site, folder, dirs_exist_ok=True)
    with open(os.path.join(folder, "vornackle.js"), "a") as f:
        f.write("\nwindow.vnBuild = '%s';\n" % build)
    if remake:
        subprocess.run(["cmake", "-DSITE=" + folder, "-DTEMPLATES=" + os.path.join(TOP, "web"),
                        "-P", os.path.join(TOP, "web", "make_site.cmake")],
                       check=True, stdout=subprocess.DEVNULL)
    return folder


def installed_offline(chromium, site, root):
    """Two copies of the site, of two builds, in two folders of one origin:
    both install and start with no network afterwards, as their own builds;
    a later build of one is seen at the next visit, with nothing of its old
    build kept, and neither copy deletes the other's files."""
    copies = (("game-beta", "beta"), ("game", "main"))
    for folder, build in copies:
        build_copy(site, os.path.join(root, "now", folder), build)
    with served(os.path.join(root, "now")) as (server, url), opened(chromium, "about:blank") as page:
        for folder, _ in copies:
            check(page.visit(url + folder + "/", 15) and wait_for_worker(page) and
                  installable(page), "/%s/ installs beside the other copy" % folder)
        manifest = page.send("Page.getAppManifest")
        check(manifest.get("data") and not manifest.get("errors"),
              "the manifest parses with no error %s" % (manifest.get("errors") or ""))
        beta = [name for name in page.eval("caches.keys()") if "/game-beta/" in name]
        server.folder = None
        for folder, build in copies:
            check(page.visit(url + folder + "/", 15) and page.eval("window.vnBuild") == build and
                  page.shows(docs_picture("story.png")),
                  "with no network /%s/ starts, as its own build" % folder)
        check(start_level(page, page.tap) is None and basket_moves(page, right_key(page)),
              "with no network a level plays")
        # A server that answers, but not with the page: the kept game.
        server.folder = os.path.join(root, "no such folder")
        check(page.reload() and page.shows(docs_picture("story.png")),
              "a server that answers 404 gets the kept game")
        old, game = page.eval("vnVersion"), url + "game/"

        # A later build of /game/: its program marks the page. The server
        # changes again while the worker fetches that build: one file is not
        # the one the build's worker names. Nothing of it is kept.
        later = build_copy(site, os.path.join(root, "later", "game"), "later")
        build_copy(later, os.path.join(root, "torn", "game"), "torn", remake=False)
        for tree in ("later", "torn"):
            shutil.copytree(os.path.join(root, "now", "game-beta"), os.path.join(root, tree, "game-beta"))
        server.folder = os.path.join(root, "torn")
        page.reload()
        page.eval("navigator.serviceWorker.getRegistration().then((r) => r.update())"
                  ".then(() => 1, () => 0)")
        check(page.wait_for("navigator.serviceWorker.getRegistration().then((r) => "
                            "!r.installing && !r.waiting)") and
              sorted(page.eval("caches.keys()")) == sorted(beta + ["vornackle %s %s" % (game, old)]),
              "a build that changes while it is fetched is not kept")
        server.folder = os.path.join(root, "later")
        check(page.reload() and page.eval("window.vnBuild") == "later" and
              page.eval("vnVersion") != old, "the next visit shows the new build")
        names = page.eval("performance.getEntriesByType('resource').map((e) => e.name)")
        check(not [name for name in names if "v=" + old in name],
              "no file of the old build is asked for")
        check(page.wait_for("caches.keys().then((names) => names.length === 2 && names.includes(%s) &&"
                            " names.some((name) => name === %s + vnVersion))"
                            % (json.dumps(beta[0] if beta else ""), json.dumps("vornackle %s " % game))),
              "only the new build is kept, and the other copy's files")


# A controller with the standard mapping, in place of the browser's, which
# the test presses and unplugs.
SCRIPTED_PAD = """
(() => {
  const pad = {id: 'scripted', index: 0, connected: true, mapping: 'standard', timestamp: 0,
               axes: [0, 0, 0, 0],
               buttons: Array.from({length: 17}, () => ({pressed: false, touched: false, value: 0}))};
  let plugged = window.vnPadAtStart !== false;
  navigator.getGamepads = () => (++vnPad.polls, [plugged ? pad : null, null, null, null]);
  window.vnPad = {
    polls: 0,
    press: (button, down) => { pad.buttons[button].pressed = down; pad.buttons[button].value = +down; },
    stick: (x) => { pad.axes[0] = x; },
    plug: (on) => {
      plugged = pad.connected = on;
      window.dispatchEvent(new Event(on ? 'gamepadconnected' : 'gamepaddisconnected'));
    },
  };
})();
"""


# When and for how long the page listens for controllers.
LISTENING = """
window.vnListening = {on: false, since: performance.now(), turns: []};  // [on, ms] of each
for (const [method, on] of [['addEventListener', true], ['removeEventListener', false]]) {
  const original = EventTarget.prototype[method];
  EventTarget.prototype[method] = function (name, ...rest) {
    const l = vnListening, now = performance.now();
    if (this === window && name === 'gamepadconnected' && l.on !== on) {
      l.turns.push([l.on, now - l.since]);
      Object.assign(l, {on, since: now});
    }
    return original.call(this, name, ...rest);
  };
}
"""


def controller(chromium, url):
    """Until a controller has been seen the page listens for one a third of
    the time; one plugged in while it does not is found by a held button,
    and from then on the page listens all the time. It plays the game; the
    sound switch outlives a reload."""
    with opened(chromium, url, "window.vnPadAtStart = false;" + SCRIPTED_PAD + LISTENING) as page:
        sound = "document.getElementById('sound').getAttribute('aria-pressed')"
        check(page.wait_for(PICTURE) and page.eval(sound) == "true", "sound is on at the first visit")
        page.run("document.getElementById('sound').click()")
        # Two whole turns of each: the first, cut by the page's start, and the
        # next, lengthened by the program's start, are left out.
        page.wait_for("vnListening.turns.length >= 6")
        turns = page.eval("vnListening.turns.slice(2, 6)")
        on = [ms for listening, ms in turns if listening]
        share = sum(on) / sum(ms for _, ms in turns)
        check(len(on) >= 2 and 0.2 < share < 0.45,
              "with no controller seen, the page listens a third of the time "
              "(turns of %s ms: %.2f)" % ([round(ms) for _, ms in turns], share))
        page.wait_for("!vnListening.on")
        page.run("vnPad.plug(true), vnPad.press(0, true)")  # its event is missed
        found = page.wait_for("localStorage.getItem('vornackle.controller') === 'true'")
        page.run("vnPad.press(0, false)")
        check(found and page.changed(), "a controller plugged in between turns is found by a "
              "held A, which goes on")
        check(page.reload() and page.eval(sound) == "false" and page.eval("Module.soundOff") is True,
              "the sound switch is kept across a reload")
        time.sleep(3.5)
        check(page.eval("vnListening.on && vnListening.turns.length === 1"),
              "once a controller has been seen, the page listens all the time")

        def press(button):  # held until the page has read it twice
            polls = page.eval("vnPad.press(%d, true), vnPad.polls" % button)
            page.wait_for("vnPad.polls >= %d" % (polls + 2))
            page.run("vnPad.press(%d, false)" % button)

        page.run("vnPad.plug(true)")
        screen = start_level(page, lambda name: press(0))  # A: Enter, Space, Enter
        check(screen is None and page.eval("!window.vnEnded"),
              "A goes on from the story, title and briefing to play" + unless(screen))
        check(basket_moves(page, lambda down: page.run("vnPad.press(15, %s)" % json.dumps(down))),
              "the d-pad moves the basket")
        check(basket_moves(page, lambda down: page.run("vnPad.stick(%d)" % -down), -1),
              "the left stick moves the basket")
        why = lets_go(page, "vnPad.press(14, true)", "vnPad.plug(false)")
        check(why is None, "unplugging the controller lets go of its keys" + unless(why))
        page.run("vnPad.press(14, false), vnPad.plug(true)")
        press(8)  # Back: Esc
        check(page.wait_for("!!window.vnEnded"), "Back ends the game")


# Counts the beeps played and the page's own timers' wakes.
COUNTERS = """
window.vnBeeps = 0; const start = AudioBufferSourceNode.prototype.start;
AudioBufferSourceNode.prototype.start = function (...args) { ++vnBeeps; return start.apply(this, args); };
window.vnWakes = 0; const later = window.setTimeout;
window.setTimeout = function (f, ...rest) {
  return later.call(this, (...a) => { ++vnWakes; return f(...a); }, ...rest);
};
"""


def screens_at_rest(chromium, url, each):
    """Each screen as a new player meets them, `each(page, name)` once it has
    settled: story, title, briefing, play and the failed level."""
    with opened(chromium, url, COUNTERS) as page:
        # Measured from the page's first half-minute on (a new player reads
        # the story meanwhile), once the service worker has kept the site:
        # the browser optimises and stores the program and ends the worker's
        # start then, one-offs of a few seconds whatever the screen.
        page.wait_for(PICTURE)
        opened_at = time.time()
        wait_for_worker(page)
        time.sleep(max(0, 35 - (time.time() - opened_at)))
        for name, key in (("story", "Enter"), ("title", "Space"), ("briefing", "Enter"),
                          ("play", None)):
            time.sleep(3)
            each(page, name)
            if key:
                page.tap(key)
                pressed = time.time()
        # The basket stands still: the level's 30 s (of the page's clock,
        # which is the wall's) run out and it fails, and the page waits for
        # the player with no timer but the controller's turns (the browser is
        # busy for a few seconds after the failure's beep).
        time.sleep(max(0, pressed + 35 - time.time()))
        check(page.wait_for("vnBeeps > 0 && Module.vnAudio.context.state === 'suspended'"),
              "the failed level beeps, and the sound stops when the beep is over")
        time.sleep(5)
        each(page, "failed level")


def screens_rest(chromium, url):
    """A resting screen wakes the page seldom: its prompt's blink, and with no
    prompt only the controller's turns. (bench/cpu_page.py measures what each
    screen costs.)"""
    def each(page, name, seconds=8):
        most = {"play": None, "failed level": 1.5}.get(name, 8)
        if most:
            wakes = page.eval("vnWakes")
            time.sleep(seconds)
            wakes = (page.eval("vnWakes") - wakes) / seconds
            check(wakes <= most, "the %s screen wakes the page %.1f times a second" % (name, wakes))
    screens_at_rest(chromium, url, each)


def without_sprites_marks_or_webassembly(chromium, url):
    # Without the sprite sheet the game still starts and plays.
    with opened(chromium, url) as page:
        page.send("Network.enable")
        page.send("Network.setBlockedURLs", urls=["*playersprite.bmp"])
        page.reload(ignoreCache=True)
        for name in ("Enter", "Space", "Enter"):
            page.tap(name)
            time.sleep(1)
        lit = page.wait_for_canvas(lambda rows: any(any(rows[y]) for y in range(445, 480)))
        check(lit and basket_x(lit) is None and not page.eval("!!window.vnEnded"),
              "without the sprite sheet the game starts and plays, without a basket")

    # Marks remembered by the browser reach the program as --marks; the
    # button switches them in the running game (and remembers that). The
    # briefing's red jewel at (182, 210): red at its corner, the black
    # centre of its X.
    with opened(chromium, url, "localStorage.setItem('vornackle.marks', 'true');") as page:
        page.wait_for(PICTURE)
        shown = start_level(page, page.tap, "title")
        page.tap("Space")
        check(shown is None and page.wait_for_canvas(
                  lambda rows: pixel(rows, 183, 211) == (255, 0, 0) and pixel(rows, 187, 215) == (0, 0, 0)),
              "the page with marks starts, and they show on the briefing")
        page.run("document.getElementById('marks').click()")
        check(page.wait_for_canvas(lambda rows: pixel(rows, 183, 211) == (0, 0, 0)) and
              page.eval("localStorage.getItem('vornackle.marks')") == "false",
              "the Marks button switches them off and remembers it")

    with opened(chromium, url, "delete window.WebAssembly;") as page:
        check(page.wait_for("/WebAssembly/.test((document.getElementById('note') || {}).textContent)"),
              "a browser without WebAssembly gets a message")


def main():
    # Stopped, it still closes its chromiums (each page's `finally`).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    site = sys.argv[1]

    sizes = {}
    for folder, _, files in os.walk(site):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                sizes[os.path.relpath(f.name, site)] = len(gzip.compress(f.read(), 9))
    print("      gzip: " + ", ".join("%s %d" % item for item in sorted(sizes.items())))
    check(sum(sizes.values()) <= MAX_GZIP_BYTES, "the whole site: %d bytes gzip" % sum(sizes.values()))

    with served(site) as (_, url):
        with opened(CHROMIUM, url) as page:
            play_through(page)
        without_sprites_marks_or_webassembly(CHROMIUM, url)
        controller(CHROMIUM, url)
        screens_rest(CHROMIUM, url)
    with tempfile.TemporaryDirectory(prefix="vn-sites-", ignore_cleanup_errors=True) as root:
        installed_offline(CHROMIUM, site, root)
    print("browser test: %d failed" % len(failures) if failures else "browser test: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
