"""The page tests' driver: a site served on localhost, a headless chromium
driven over its DevTools socket, the checks' record and the desktop's
pictures the page must equal.

Nothing here reads the clock for a verdict: each wait is bounded, but
generously, and ends as soon as what it looks for is there.
"""
import base64
import contextlib
import functools
import http.server
import json
import os
import shutil
import struct
import subprocess
import tempfile
import threading
import time
import urllib.request
import zlib

import websocket  # python3-websocket

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WIDTH, HEIGHT = 640, 480
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
PICTURE = "window.vnTiming && vnTiming.pictures > 0"

failures = []


def unless(why):
    """What a check says when it fails, said only then."""
    return "" if why is None else " (not: %s)" % why


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def read_png(data):
    """RGB rows of a PNG as tools/screenshots writes them: 8-bit palette
    indices, no filter, not interlaced."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunks[kind] = chunks.get(kind, b"") + data[pos + 8:pos + 8 + length]
        pos += 12 + length
    assert chunks[b"IHDR"][8:] == b"\x08\x03\x00\x00\x00"  # depth, palette, ...
    width, palette = struct.unpack(">I", chunks[b"IHDR"][:4])[0], chunks[b"PLTE"]
    raw = zlib.decompress(chunks[b"IDAT"])
    rows = [raw[at:at + width + 1] for at in range(0, len(raw), width + 1)]
    assert all(row[0] == 0 for row in rows)  # no filter
    return [b"".join(palette[3 * v:3 * v + 3] for v in row[1:]) for row in rows]


def pixel(rows, x, y):
    return tuple(rows[y][3 * x:3 * x + 3])


def differing(rows, want, region=(0, 0, WIDTH, HEIGHT)):
    x0, y0, x1, y1 = region
    return sum(rows[y][3 * x0:3 * x1] != want[y][3 * x0:3 * x1] for y in range(y0, y1))


@functools.lru_cache(maxsize=None)
def docs_picture(name):
    with open(os.path.join(TOP, "docs", name), "rb") as f:
        return read_png(f.read())


KEYS = {"Enter": (13, "Enter", "\r"), "Space": (32, " ", " "), "ArrowLeft": (37, "ArrowLeft", ""),
        "ArrowRight": (39, "ArrowRight", ""), "Backspace": (8, "Backspace", ""),
        "Escape": (27, "Escape", ""), "KeyM": (77, "m", "m"), "Digit5": (53, "5", "5"),
        "KeyS": (83, "s", "s")}

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

    def reload(self, by=None, **params):
        """True once the page has loaded anew (by a statement in the page, or
        DevTools' reload with `params`) and shows a picture."""
        self.run("window.vnBeforeReload = true")
        self.run(by) if by else self.send("Page.reload", **params)
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

    def wait_for_canvas(self, test, seconds=10, band=(0, HEIGHT)):
        """The canvas's rows (of `band`) once `test(rows)` holds, or None."""
        end = time.time() + seconds
        while True:
            rows = self.canvas(*band)
            if test(rows):
                return rows
            if time.time() > end:
                return None
            time.sleep(0.1)

    def changed(self, picture="story.png", seconds=10):
        """True once the canvas differs from a desktop's picture."""
        return self.wait_for_canvas(lambda rows: differing(rows, docs_picture(picture)) > 0,
                                    seconds) is not None

    def shows(self, want, regions=((0, 0, WIDTH, HEIGHT),)):
        """True once a picture the page draws equals `want` in `regions`.
        Each picture is compared in the page as it is drawn: a screen's
        blinking line is on for part of each 3 s only, and reading the
        canvas from here takes a loaded machine longer than that part."""
        return self.eval(SHOWS % (base64.b64encode(b"".join(want)).decode(), json.dumps(regions))) \
            or self.wait_for("window.vnShown")

    def text(self, element):
        """The text of the page's element of id `element`, or ''."""
        return self.eval("(document.getElementById('%s') || {}).textContent || ''" % element)

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


def opened(chromium, url, before=None):
    return contextlib.closing(open_page(chromium, url, before))


# Each screen on the way to play: the key that leaves the one before, and the
# parts of the desktop's picture it must equal (its title has a fastest time,
# its briefing is of level 5: the lines all levels share; in play the labels
# of the head-up lines).
SCREENS = (("story", None, "story.png", ((0, 0, WIDTH, HEIGHT),)),
           ("title", "Enter", "title.png", ((0, 0, WIDTH, 172), (0, 192, WIDTH, HEIGHT))),
           ("briefing", "Space", "briefing.png",
            ((0, 60, WIDTH, 98), (0, 206, WIDTH, 222), (0, 238, WIDTH, 254), (0, 302, WIDTH, 354))),
           ("play", "Enter", "play.png", ((0, 445, 130, 480),)))


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
