#!/usr/bin/python3
"""Plays the web build's page in a headless chromium, with real key events.

    browser_test.py SITE [--screenshot PNG]

SITE is the folder `make web` writes (build-web/site), served on localhost;
chromium is driven over its DevTools socket. The checks: the site's size; the
story, title and briefing screens equal the desktop's pictures (docs/*.png)
pixel for pixel; in play keys, touch buttons and a scripted controller move
the basket, a key held when focus goes or the controller is unplugged is let
go, and the page neither scrolls nor leaves; remembered marks and the sound
switch outlive a reload; Esc ends the game and the recorded run plays to its
end; the page plays without its sprite sheet and tells a browser without
WebAssembly; it installs, plays with no network and takes a new build whole;
the controller is looked for a third of the time until one is seen; a
resting screen seldom wakes the page. Figures, not checks: the first
picture's time and the play frame's work (`make bench-web`: each screen's
processor time). --screenshot saves the page in play (the README's picture).

No check reads the clock: each waits, bounded but generously, for what it
looks for, and what depends on pace is counted in the page's own pictures or
its controller's turns, so a loaded machine makes the test slower, not wrong.
"""
import base64
import contextlib
import functools
import gzip
import http.server
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import zlib

import websocket  # python3-websocket

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WIDTH, HEIGHT = 640, 480
MAX_GZIP_BYTES = 300 * 1024

failures = []


def unless(why):
    """What a check says when it fails, said only then."""
    return "" if why is None else " (not: %s)" % why


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


# --- pictures -----------------------------------------------------------------


def read_png(data):
    """RGB rows of a PNG as tools/screenshots writes them: 8-bit palette
    indices, no filter, not interlaced."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, palette = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            assert body[8:] == b"\x08\x03\x00\x00\x00", body  # depth, palette, ...
            width = struct.unpack(">I", body[:4])[0]
        elif kind == b"PLTE":
            palette = [body[i:i + 3] for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    rows = [raw[at:at + width + 1] for at in range(0, len(raw), width + 1)]
    assert all(row[0] == 0 for row in rows)  # no filter
    return [b"".join(palette[v] for v in row[1:]) for row in rows]


def pixel(rows, x, y):
    return tuple(rows[y][3 * x:3 * x + 3])


def differing(rows, want, region=(0, 0, WIDTH, HEIGHT)):
    x0, y0, x1, y1 = region
    return sum(rows[y][3 * x0:3 * x1] != want[y][3 * x0:3 * x1] for y in range(y0, y1))


BASKET_BAND = (340, 420)


def basket_x(rows):
    """Middle of the basket: columns of the basket's band with many lit pixels
    (three jewels passing, twelve rows each, light fewer)."""
    columns = [x for x in range(WIDTH)
               if sum(pixel(rows, x, y) != (0, 0, 0) for y in range(*BASKET_BAND)) > 45]
    return sum(columns) / len(columns) if columns else None


@functools.lru_cache(maxsize=None)
def docs_picture(name):
    with open(os.path.join(TOP, "docs", name), "rb") as f:
        return read_png(f.read())


# --- the browser --------------------------------------------------------------

KEYS = {"Enter": (13, "Enter", "\r"), "Space": (32, " ", " "), "ArrowLeft": (37, "ArrowLeft", ""),
        "ArrowRight": (39, "ArrowRight", ""), "Backspace": (8, "Backspace", ""),
        "Escape": (27, "Escape", "")}


class Page:
    def __init__(self, chromium, profile):
        self.profile = profile
        self.process = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--remote-debugging-port=0", "--user-data-dir=" + profile,
             "--window-size=1000,800", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        active = os.path.join(profile, "DevToolsActivePort")
        for _ in range(200):
            if os.path.exists(active) and open(active).read().count("\n") >= 1:
                break
            time.sleep(0.05)
        port = open(active).read().split("\n")[0]
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port))
        url = next(t for t in targets if t["type"] == "page")["webSocketDebuggerUrl"]
        # No Origin header: some Chromium builds of Debian 12 refuse the
        # handshake (403) when one is sent without --remote-allow-origins.
        self.socket = websocket.create_connection(url, timeout=30, suppress_origin=True)
        self.next_id = 0
        self.send("Page.enable")
        self.send("Runtime.enable")

    def send(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})

    def eval(self, expression):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def run(self, statement):
        """Runs a statement in the page, whose value is of no interest."""
        self.eval("(%s), 1" % statement)

    def wait_for(self, expression, seconds=30):
        end = time.time() + seconds
        while time.time() < end:
            if self.eval(expression):
                return True
            time.sleep(0.05)
        return False

    def reload(self):
        """True once the page has loaded anew and shows a picture."""
        self.run("window.vnBeforeReload = true")
        self.send("Page.reload")
        return self.wait_for("!window.vnBeforeReload && " + PICTURE)

    def visit(self, url, seconds=30):
        """True once `url` shows a picture."""
        self.send("Page.navigate", url=url)
        return self.wait_for("location.href === %s && %s" % (json.dumps(url), PICTURE), seconds)

    def key(self, name, down):
        vk, key, text = KEYS[name]
        params = {"type": ("keyDown" if text else "rawKeyDown") if down else "keyUp",
                  "windowsVirtualKeyCode": vk, "nativeVirtualKeyCode": vk, "code": name,
                  "key": key}
        if down and text:
            params["text"] = text
        self.send("Input.dispatchKeyEvent", **params)

    def tap(self, name, hold=0.15):
        self.key(name, True)
        time.sleep(hold)
        self.key(name, False)

    def canvas(self, top=0, bottom=HEIGHT):
        """The canvas's pixels as RGB rows (only rows top to bottom filled:
        a whole picture takes a loaded machine a second to pass)."""
        data = base64.b64decode(self.eval(
            "(() => { const d = document.getElementById('screen').getContext('2d')"
            ".getImageData(0, %d, 640, %d).data; let s = '';"
            " for (let i = 0; i < d.length; i += 8192)"
            "   s += String.fromCharCode.apply(null, d.subarray(i, i + 8192));"
            " return btoa(s); })()" % (top, bottom - top)))
        rgb = bytearray(len(data) // 4 * 3)
        for channel in range(3):
            rgb[channel::3] = data[channel::4]
        return [None] * top + [bytes(rgb[y * WIDTH * 3:(y + 1) * WIDTH * 3])
                               for y in range(bottom - top)] + [None] * (HEIGHT - bottom)

    def wait_for_canvas(self, test, seconds=10):
        """The canvas's rows once `test(rows)` holds, or None."""
        end = time.time() + seconds
        while True:
            rows = self.canvas()
            if test(rows):
                return rows
            if time.time() > end:
                return None
            time.sleep(0.1)

    def shows(self, want, regions=((0, 0, WIDTH, HEIGHT),)):
        """True once a picture the page draws equals `want` in `regions`.
        Each picture is compared in the page as it is drawn: a screen's
        blinking line is on for part of each 3 s only, and reading the
        canvas from here takes a loaded machine longer than that part."""
        return self.eval(SHOWS % (base64.b64encode(b"".join(want)).decode(), json.dumps(regions))) \
            or self.wait_for("window.vnShown")

    def close(self):
        self.socket.close()
        self.process.terminate()
        self.process.wait(10)
        shutil.rmtree(self.profile, ignore_errors=True)


def serve(folder):
    """Serves `folder` on a port of its own. Setting `server.folder` to another
    folder serves that one, and to None leaves every request unanswered, as
    with no network. Each request reads it when it arrives: the browser opens
    connections before it needs them, and one opened while the old folder was
    served must not answer from it."""
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def send_head(self):
            if self.server.folder is None:
                self.close_connection = True
                return None
            self.directory = self.server.folder
            return super().send_head()

        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        def handle_error(self, request, client_address):
            pass  # a request the page gave up (the blocked sprite sheet)

    server = Server(("127.0.0.1", 0), Quiet)
    server.folder = folder
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d/" % server.server_address[1]


@contextlib.contextmanager
def served(folder):
    server, url = serve(folder)
    try:
        yield server, url
    finally:
        server.shutdown()
        server.server_close()


def open_page(chromium, url, before=None):
    page = Page(chromium, tempfile.mkdtemp(prefix="vn-chromium-"))
    if before:
        page.send("Page.addScriptToEvaluateOnNewDocument", source=before)
    page.send("Page.navigate", url=url)
    return page


@contextlib.contextmanager
def opened(chromium, url, before=None):
    page = open_page(chromium, url, before)
    try:
        yield page
    finally:
        page.close()


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


# In the page: whether each picture drawn equals the one wanted (RGB rows) in
# the regions (x0, y0, x1, y1), from now until one does (window.vnShown).
SHOWS = """(() => {
  const want = Uint8Array.from(atob('%s'), (c) => c.charCodeAt(0)), regions = %s;
  const context = document.getElementById('screen').getContext('2d');
  window.vnWanted = () => regions.every(([x0, y0, x1, y1]) => {
    const d = context.getImageData(x0, y0, x1 - x0, y1 - y0).data;
    for (let y = y0, i = 0; y < y1; ++y)
      for (let j = 3 * (640 * y + x0); j < 3 * (640 * y + x1); j += 3, i += 4)
        if (d[i] !== want[j] || d[i + 1] !== want[j + 1] || d[i + 2] !== want[j + 2]) return false;
    return true;
  });
  if (!Module.vnComparing) {
    const shown = Module.onPicture;
    Module.onPicture = () => { shown(); if (!window.vnShown) window.vnShown = vnWanted(); };
    Module.vnComparing = true;
  }
  return window.vnShown = vnWanted();
})()"""


# --- the checks ---------------------------------------------------------------

PICTURE = "window.vnTiming && vnTiming.pictures > 0"
HEAD_UP = (0, 445, 130, 480)  # the labels of the head-up lines in play
# Each screen on the way to play: the key that leaves the one before, and the
# parts of the desktop's picture it must equal (its title has a fastest time,
# its briefing is of level 5: the lines all levels share).
SCREENS = (("story", None, "story.png", ((0, 0, WIDTH, HEIGHT),)),
           ("title", "Enter", "title.png", ((0, 0, WIDTH, 172), (0, 192, WIDTH, HEIGHT))),
           ("briefing", "Space", "briefing.png",
            ((0, 60, WIDTH, 98), (0, 206, WIDTH, 222), (0, 238, WIDTH, 254), (0, 302, WIDTH, 354))),
           ("play", "Enter", "play.png", (HEAD_UP,)))


def start_level(page, press, last="play"):
    """From the story to play (or `last`), `press(key)` pressing each screen's
    key once the screen shows. Returns the first screen that did not show."""
    for name, key, picture, regions in SCREENS:
        if key:
            press(key)
        if not page.shows(docs_picture(picture), regions):
            return name
        if name == last:
            return None


def basket_moves(page, hold, direction=1, distance=30):
    """True if the basket walks `distance` pixels in `direction` while
    `hold(True)` holds (until `hold(False)`), within ten seconds (however few
    pictures a loaded machine draws)."""
    start = now = basket_x(page.canvas(*BASKET_BAND))
    hold(True)
    end = time.time() + 10
    while start is not None and now is not None and (now - start) * direction < distance and \
            time.time() < end:
        time.sleep(0.05)
        now = basket_x(page.canvas(*BASKET_BAND))
    hold(False)
    return start is not None and now is not None and (now - start) * direction >= distance


def right_key(page):
    return lambda down: page.key("ArrowRight", down)


def basket_rests(page, frames=10):
    """Where the basket stands once it has not moved over `frames` of the
    page's pictures (play draws one each frame), or None."""
    end, x = time.time() + 20, None
    while time.time() < end:
        count = page.eval("vnTiming.pictures")
        page.wait_for("vnTiming.pictures >= %d" % (count + frames), 5)
        x, last = basket_x(page.canvas(*BASKET_BAND)), x
        if x is not None and x == last:
            return x
    return None


def lets_go(page, hold, let_go):
    """Holds Left (the script `hold`) and five pictures later runs `let_go`,
    both in the page, whatever the machine's speed. The basket must stop a
    few steps along, not walk on to the left edge 300 pixels away."""
    start = basket_x(page.canvas(*BASKET_BAND))
    page.run("(() => { %s; const at = vnTiming.pictures + 5, shown = Module.onPicture;"
             " Module.onPicture = () => { shown(); if (vnTiming.pictures === at) {"
             " Module.onPicture = shown; %s; } }; })()" % (hold, let_go))
    rest = basket_rests(page)
    return None if start and rest and 0 < start - rest < 100 else "from %s to %s" % (start, rest)


def play_through(page, screenshot):
    check(page.wait_for(PICTURE), "the page shows a picture")
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
    check(page.eval("window.scrollX === 0 && window.scrollY === 0"), "the page does not scroll")
    check(page.eval("location.href") == url and not page.eval("!!window.vnEnded"),
          "Backspace does not leave the page")

    left = "dispatchEvent(new KeyboardEvent('key%s', {code: 'ArrowLeft', key: 'ArrowLeft'}))"
    why = lets_go(page, left % "down", "dispatchEvent(new Event('blur'))")
    page.run(left % "up")
    check(why is None, "a key held when focus goes is let go" + unless(why))

    # The touch buttons press the same keys.
    page.send("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=1)
    page.run("window.dispatchEvent(new TouchEvent('touchstart'))")
    x, y = page.eval("(() => { const r = document.querySelector('#touch button[data-vk=\"39\"]')"
                     ".getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    check(basket_moves(page, lambda down: page.send(
              "Input.dispatchTouchEvent", type="touchStart" if down else "touchEnd",
              touchPoints=[{"x": x, "y": y}] if down else []), 1, 20),
          "the touch button Right moves the basket")
    page.send("Emulation.setTouchEmulationEnabled", enabled=False)

    if screenshot:
        page.run("document.getElementById('touch').hidden = true")
        with open(screenshot, "wb") as f:
            f.write(base64.b64decode(page.send("Page.captureScreenshot", format="png")["data"]))
        print("      screenshot: " + screenshot)

    page.tap("Escape")
    check(page.wait_for("!!window.vnEnded && !document.getElementById('note').hidden && "
                        "/ended/.test(document.getElementById('note').textContent)"),
          "Esc ends the game and the page says so")

    # The game was recorded as it went: the page offers the run, and watching
    # it (as a file chosen or dropped does) plays it through to its end.
    check(page.eval("!!document.getElementById('save')"), "the page offers to save the run")
    run = page.eval("btoa(String.fromCharCode(...Module.FS.readFile('/run.vnr')))")
    page.run("sessionStorage.setItem('vnWatch', %s), location.reload()" % json.dumps(run))
    check(page.wait_for(PICTURE + " && !window.vnEnded"), "the saved run plays in the page")
    check(page.wait_for("!!window.vnEnded && /run has ended/.test("
                        "document.getElementById('note').textContent)", 120),
          "the run plays to its end (%s)" % page.eval("document.getElementById('note').textContent"))


def wait_for_worker(page):
    """True once the service worker has kept the site and controls the page."""
    return page.wait_for("navigator.serviceWorker.controller !== null")


def installable(page):
    return not page.send("Page.getInstallabilityErrors")["installabilityErrors"]


def install_and_offline(chromium, site):
    """Installable; played with no network after a first visit; a new build
    seen at the next visit, with nothing of the old one."""
    scratch = tempfile.mkdtemp(prefix="vn-site-")
    with served(site) as (server, url), opened(chromium, url) as page:
        check(page.wait_for(PICTURE) and wait_for_worker(page), "the service worker takes over")
        manifest = page.send("Page.getAppManifest")
        check(manifest.get("data") and not manifest.get("errors"),
              "the manifest parses with no error %s" % (manifest.get("errors") or ""))
        check(installable(page), "chromium reports no installability error")
        old = page.eval("vnVersion")

        server.folder = None
        check(page.reload() and page.shows(docs_picture("story.png")),
              "with no network the story screen appears")
        start_level(page, page.tap)
        check(basket_moves(page, right_key(page)), "with no network a level plays")
        # A server that answers, but not with the page: the kept game.
        server.folder = os.path.join(site, "no such folder")
        check(page.reload() and page.shows(docs_picture("story.png")),
              "a server that answers 404 gets the kept game")

        # A later build at the same address: its program marks the page. The
        # server changes again while the worker fetches that build: one file
        # is not the one the build's worker names. Nothing of it is kept.
        later = build_copy(site, os.path.join(scratch, "later"), "later")
        server.folder = build_copy(later, os.path.join(scratch, "torn"), "torn", remake=False)
        page.reload()
        page.eval("navigator.serviceWorker.getRegistration().then((r) => r.update())"
                  ".then(() => 1, () => 0)")
        check(page.wait_for("navigator.serviceWorker.getRegistration().then((r) => "
                            "!r.installing && !r.waiting)") and
              page.eval("caches.keys()") == ["vornackle %s %s" % (url, old)],
              "a build that changes while it is fetched is not kept")
        server.folder = later
        check(page.reload() and page.eval("window.vnBuild") == "later" and
              page.eval("vnVersion") != old, "the next visit shows the new build")
        names = page.eval("performance.getEntriesByType('resource').map((e) => e.name)")
        check(not [name for name in names if "v=" + old in name],
              "no file of the old build is asked for")
        check(page.wait_for("caches.keys().then((names) => names.length === 1 && "
                            "names[0].endsWith(' ' + vnVersion))"),
              "only the new build is kept")
    shutil.rmtree(scratch, ignore_errors=True)


def two_copies_offline(chromium, site):
    """Two copies of the site, of two builds, in two folders of one origin:
    both install, and both start with no network afterwards (each keeps its
    own files; neither deletes the other's)."""
    root = tempfile.mkdtemp(prefix="vn-sites-")
    copies = (("game", "main"), ("game-beta", "beta"))
    for folder, build in copies:
        build_copy(site, os.path.join(root, folder), build)
    with served(root) as (server, url), opened(chromium, "about:blank") as page:
        for folder, _ in copies:
            check(page.visit(url + folder + "/", 15) and wait_for_worker(page) and
                  installable(page), "/%s/ installs beside the other copy" % folder)
        server.folder = None
        for folder, build in copies:
            check(page.visit(url + folder + "/", 15) and page.eval("window.vnBuild") == build and
                  page.shows(docs_picture("story.png")),
                  "with no network /%s/ starts, as its own build" % folder)
    shutil.rmtree(root, ignore_errors=True)


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
(() => {
  const note = (on) => {
    const l = vnListening, now = performance.now();
    if (l.on === on) return;
    l.turns.push([l.on, now - l.since]);
    l.on = on;
    l.since = now;
  };
  for (const [method, on] of [['addEventListener', true], ['removeEventListener', false]]) {
    const original = EventTarget.prototype[method];
    EventTarget.prototype[method] = function (name, ...rest) {
      if (this === window && name === 'gamepadconnected') note(on);
      return original.call(this, name, ...rest);
    };
  }
})();
"""


def controller_found_by_turns(chromium, url):
    """Until a controller has been seen the page listens for one a third of
    the time; one plugged in while it does not is found by a held button,
    and from then on the page listens all the time."""
    with opened(chromium, url, "window.vnPadAtStart = false;" + SCRIPTED_PAD + LISTENING) as page:
        # Two whole turns of each: the first, cut by the page's start, and the
        # next, lengthened by the program's start, are left out.
        page.wait_for(PICTURE)
        page.wait_for("vnListening.turns.length >= 6")
        turns = page.eval("vnListening.turns.slice(2, 6)")
        on = [ms for listening, ms in turns if listening]
        share = sum(on) / sum(ms for _, ms in turns)
        check(len(on) >= 2 and 0.2 < share < 0.45,
              "with no controller seen, the page listens a third of the time "
              "(turns of %s ms: %.2f)" % ([round(ms) for _, ms in turns], share))
        check(page.wait_for("!vnListening.on"), "the page stops listening between turns")
        page.run("vnPad.plug(true), vnPad.press(0, true)")  # its event is missed
        found = page.wait_for("localStorage.getItem('vornackle.controller') === 'true'")
        page.run("vnPad.press(0, false)")
        check(found and page.wait_for_canvas(
                  lambda rows: differing(rows, docs_picture("story.png")) > 0) is not None,
              "a controller plugged in between turns is found by a held A, which goes on")
        check(page.reload(), "the page loads again")
        time.sleep(3.5)
        check(page.eval("vnListening.on && vnListening.turns.length === 1"),
              "once a controller has been seen, the page listens all the time")


def controller_and_sound(chromium, url):
    with opened(chromium, url, SCRIPTED_PAD) as page:
        pressed = "document.getElementById('sound').getAttribute('aria-pressed')"
        check(page.wait_for(PICTURE) and page.eval(pressed) == "true", "sound is on at the first visit")
        page.run("document.getElementById('sound').click()")
        check(page.reload() and page.eval(pressed) == "false" and page.eval("Module.soundOff") is True,
              "the sound switch is kept across a reload")

        def press(button):  # held until the page has read it twice
            polls = page.eval("vnPad.press(%d, true), vnPad.polls" % button)
            page.wait_for("vnPad.polls >= %d" % (polls + 2))
            page.run("vnPad.press(%d, false)" % button)

        # A: Enter, Space, Enter as each screen asks.
        screen = start_level(page, lambda name: press(0))
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
        # Once the service worker has kept the site: a first visit's fetching
        # and storing is not a screen's cost.
        page.wait_for(PICTURE)
        opened_at = time.time()
        wait_for_worker(page)
        # A screen that does not change rests: its prompt's blink, the rest's
        # fifth of a second and the controller's turns. Each screen is
        # measured once it has settled, and the first after the page's first
        # half-minute (a new player reads the story meanwhile), in which the
        # browser optimises and stores the program and ends the service
        # worker's start: one-offs of a few seconds each, whatever the screen.
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


def wakes_per_second(page, seconds=8):
    wakes = page.eval("vnWakes")
    time.sleep(seconds)
    return (page.eval("vnWakes") - wakes) / seconds


def screens_rest(chromium, url):
    """A resting screen wakes the page seldom: its prompt's blink, and with no
    prompt only the controller's turns. (bench/cpu_page.py measures what each
    screen costs.)"""
    def each(page, name):
        most = {"play": None, "failed level": 1.5}.get(name, 8)
        if most:
            wakes = wakes_per_second(page)
            check(wakes <= most, "the %s screen wakes the page %.1f times a second" % (name, wakes))
    screens_at_rest(chromium, url, each)


def without_sprites_marks_or_webassembly(chromium, url):
    # Without the sprite sheet the game still starts and plays.
    with opened(chromium, url) as page:
        page.send("Network.enable")
        page.send("Network.setBlockedURLs", urls=["*playersprite.bmp"])
        page.send("Page.reload", ignoreCache=True)
        check(page.wait_for(PICTURE) and differing(page.canvas(), docs_picture("story.png")) > 0,
              "without the sprite sheet the game starts, its story without a basket")
        for name in ("Enter", "Space", "Enter"):
            page.tap(name)
            time.sleep(1)
        lit = page.wait_for_canvas(lambda rows: any(any(rows[y]) for y in range(445, 480)))
        check(lit and basket_x(lit) is None and not page.eval("!!window.vnEnded"),
              "without the sprite sheet it plays, without a basket")

    # Marks remembered by the browser reach the program as --marks; the
    # button switches them in the running game (and remembers that). The
    # briefing's red jewel at (182, 210): red at its corner, the black
    # centre of its X.
    with opened(chromium, url, "localStorage.setItem('vornackle.marks', 'true');") as page:
        check(page.wait_for(PICTURE) and start_level(page, page.tap, "title") is None,
              "the page with marks starts")
        page.tap("Space")
        check(page.wait_for_canvas(lambda rows: pixel(rows, 183, 211) == (255, 0, 0) and
                                   pixel(rows, 187, 215) == (0, 0, 0)),
              "remembered marks show on the briefing")
        page.run("document.getElementById('marks').click()")
        check(page.wait_for_canvas(lambda rows: pixel(rows, 183, 211) == (0, 0, 0)) and
              page.eval("localStorage.getItem('vornackle.marks')") == "false",
              "the Marks button switches them off and remembers it")

    with opened(chromium, url, "delete window.WebAssembly;") as page:
        check(page.wait_for("document.getElementById('note') && "
                            "/WebAssembly/.test(document.getElementById('note').textContent)"),
              "a browser without WebAssembly gets a message")


def main():
    # Stopped, it still closes its chromiums (each page's `finally`).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    site = sys.argv[1]
    screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    chromium = shutil.which("chromium") or "/usr/bin/chromium"

    sizes = {}
    for folder, _, files in os.walk(site):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                sizes[os.path.relpath(f.name, site)] = len(gzip.compress(f.read(), 9))
    print("      gzip: " + ", ".join("%s %d" % item for item in sorted(sizes.items())))
    check(sum(sizes.values()) <= MAX_GZIP_BYTES, "the whole site: %d bytes gzip" % sum(sizes.values()))

    with served(site) as (_, url):
        with opened(chromium, url) as page:
            play_through(page, screenshot)
        without_sprites_marks_or_webassembly(chromium, url)
        controller_and_sound(chromium, url)
        controller_found_by_turns(chromium, url)
        screens_rest(chromium, url)
    install_and_offline(chromium, site)
    two_copies_offline(chromium, site)

    print("browser test: %d failed" % len(failures) if failures else "browser test: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
