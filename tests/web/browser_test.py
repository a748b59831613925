#!/usr/bin/python3
"""Plays the web build's page in a headless chromium, with real key events.

    browser_test.py SITE [--screenshot PNG]

SITE is the folder `make web` writes (build-web/site). The page is served on
localhost and chromium is driven over its DevTools socket. The checks: the
size of everything the page loads and the time to its first picture; the
story, title and briefing screens equal the desktop build's pictures of them
(docs/*.png, written by the seam) pixel for pixel; in play Right moves the
basket, jewels fall, the head-up lines show, and a key held when the page loses
focus is let go; arrows, Space and Backspace neither scroll nor leave the page;
the touch buttons steer like keys; Esc ends the game and the page says so, and
offers the recorded run, which the page then plays to its end. A
page without its sprite sheet still plays, and a browser without WebAssembly
gets a message. --screenshot saves the page in play (the README's picture).
"""
import base64
import functools
import gzip
import http.server
import json
import os
import shutil
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
MAX_FIRST_PICTURE_MS = 1000

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


# --- pictures -----------------------------------------------------------------


def read_png(data):
    """RGB rows of an 8-bit, non-interlaced PNG (palette, RGB or RGBA)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, palette = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and interlace == 0 and colour in (2, 3, 6)
        elif kind == b"PLTE":
            palette = [body[i:i + 3] for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
    channels = {2: 3, 3: 1, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        previous = line
        if colour == 3:
            rows.append(b"".join(palette[v] for v in line))
        else:
            rows.append(bytes(v for i, v in enumerate(line) if i % channels < 3))
    return width, height, rows


def save_ppm(rows, path):
    with open(path, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (WIDTH, HEIGHT) + b"".join(rows))


def pixel(rows, x, y):
    return tuple(rows[y][3 * x:3 * x + 3])


def differing(rows, want, region=(0, 0, WIDTH, HEIGHT)):
    x0, y0, x1, y1 = region
    if os.environ.get("VN_WEB_DEBUG"):  # a folder for the pictures compared
        differing.count = getattr(differing, "count", 0) + 1
        save_ppm(rows, os.path.join(os.environ["VN_WEB_DEBUG"], "%d.ppm" % differing.count))
    return sum(rows[y][3 * x0:3 * x1] != want[y][3 * x0:3 * x1] for y in range(y0, y1))


def basket_x(rows):
    """Middle of the basket: columns of the basket's band with many lit pixels
    (a jewel passing lights at most its own height)."""
    columns = [x for x in range(WIDTH)
               if sum(pixel(rows, x, y) != (0, 0, 0) for y in range(340, 420)) > 20]
    return sum(columns) / len(columns) if columns else None


# --- the browser --------------------------------------------------------------


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
        self.socket = websocket.create_connection(url, timeout=30)
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

    def wait_for(self, expression, seconds=10):
        end = time.time() + seconds
        while time.time() < end:
            if self.eval(expression):
                return True
            time.sleep(0.05)
        return False

    def key(self, name, down):
        codes = {"Enter": (13, "Enter", "\r"), "Space": (32, " ", " "),
                 "ArrowLeft": (37, "ArrowLeft", ""), "ArrowRight": (39, "ArrowRight", ""),
                 "Backspace": (8, "Backspace", ""), "Escape": (27, "Escape", "")}
        vk, key, text = codes[name]
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

    def canvas(self):
        """The canvas's pixels as RGB rows."""
        data = base64.b64decode(self.eval(
            "(() => { const c = document.getElementById('screen');"
            " const d = c.getContext('2d').getImageData(0, 0, 640, 480).data; let s = '';"
            " for (let i = 0; i < d.length; i += 8192)"
            "   s += String.fromCharCode.apply(null, d.subarray(i, i + 8192));"
            " return btoa(s); })()"))
        rgb = bytearray(WIDTH * HEIGHT * 3)
        for channel in range(3):
            rgb[channel::3] = data[channel::4]
        return [bytes(rgb[y * WIDTH * 3:(y + 1) * WIDTH * 3]) for y in range(HEIGHT)]

    def shows(self, want, regions=((0, 0, WIDTH, HEIGHT),), seconds=4):
        """True once the canvas equals `want` in `regions`; a screen's blinking
        line is on for part of each 3 s only."""
        end = time.time() + seconds
        while True:
            rows = self.canvas()
            if all(differing(rows, want, region) == 0 for region in regions):
                return True
            if time.time() > end:
                return False
            time.sleep(0.1)

    def steady_canvas(self, seconds=5):
        """The canvas once two looks a while apart agree."""
        end, last = time.time() + seconds, None
        while time.time() < end:
            rows = self.canvas()
            if rows == last:
                return rows
            last = rows
            time.sleep(0.3)
        return last

    def close(self):
        self.socket.close()
        self.process.terminate()
        self.process.wait(10)
        shutil.rmtree(self.profile, ignore_errors=True)


def serve(folder):
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        def handle_error(self, request, client_address):
            pass  # a request the page gave up (the blocked sprite sheet)

    handler = functools.partial(Quiet, directory=folder)
    server = Server(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d/" % server.server_address[1]


def open_page(chromium, url, before=None):
    page = Page(chromium, tempfile.mkdtemp(prefix="vn-chromium-"))
    if before:
        page.send("Page.addScriptToEvaluateOnNewDocument", source=before)
    page.send("Page.navigate", url=url)
    return page


# --- the checks ---------------------------------------------------------------


@functools.lru_cache(maxsize=None)
def docs_picture(name):
    with open(os.path.join(TOP, "docs", name), "rb") as f:
        return read_png(f.read())[2]


def play_through(page, screenshot):
    check(page.wait_for("window.vnTiming && vnTiming.pictures > 0"), "the page shows a picture")
    first = page.eval("vnTiming.firstPicture")
    print("      first picture %.0f ms after navigation" % first)
    check(first <= MAX_FIRST_PICTURE_MS,
          "first picture within %d ms (%.0f)" % (MAX_FIRST_PICTURE_MS, first))

    check(page.shows(docs_picture("story.png")), "the story screen equals the desktop's picture")
    page.tap("Enter")
    # The desktop's title picture is of a later visit, with a fastest time.
    check(page.shows(docs_picture("title.png"), ((0, 0, WIDTH, 172), (0, 192, WIDTH, HEIGHT))),
          "the title screen equals the desktop's picture (but for the fastest time)")
    page.tap("Space")
    # The desktop's briefing picture is of level 5: the lines all levels share.
    check(page.shows(docs_picture("briefing.png"),
                     ((0, 60, WIDTH, 98), (0, 206, WIDTH, 222), (0, 238, WIDTH, 254),
                      (0, 302, WIDTH, 354))),
          "the briefing's lines equal the desktop's picture")
    check(page.eval("Module.vnAudio ? Module.vnAudio.context.state : 'none'") == "running",
          "sound started by the first key")
    page.tap("Enter")
    time.sleep(0.5)

    # In play: the labels of the head-up lines stand where the desktop has them.
    play = docs_picture("play.png")
    rows = page.canvas()
    check(differing(rows, play, (0, 445, 130, 480)) == 0, "the head-up lines show")
    start = basket_x(rows)
    work_before = page.eval("Module.vnWork")
    page.key("ArrowRight", True)
    time.sleep(0.6)
    page.key("ArrowRight", False)
    later = page.canvas()
    moved = basket_x(later)
    check(start is not None and moved is not None and moved > start + 30,
          "Right moves the basket (%s -> %s)" % (start, moved))
    check(differing(rows, later, (0, 0, WIDTH, 340)) > 0, "jewels fall")
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

    # Held when the page loses focus: let go.
    page.key("ArrowLeft", True)
    time.sleep(0.2)
    page.eval("window.dispatchEvent(new Event('blur')), 1")
    # A loaded machine may take a few frames to act on it: the basket must
    # stand still within two seconds (held, it would still be walking left).
    held, still = None, basket_x(page.canvas())
    for _ in range(5):
        time.sleep(0.4)
        held, still = still, basket_x(page.canvas())
        if held is not None and held == still:
            break
    page.key("ArrowLeft", False)
    check(held is not None and held == still, "a key held when focus goes is let go")

    # The touch buttons press the same keys.
    page.send("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=1)
    page.eval("window.dispatchEvent(new TouchEvent('touchstart')), 1")
    box = page.eval("(() => { const r = document.querySelector('#touch button[data-vk=\"39\"]')"
                    ".getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    before = basket_x(page.canvas())
    page.send("Input.dispatchTouchEvent", type="touchStart",
              touchPoints=[{"x": box[0], "y": box[1]}])
    time.sleep(0.5)
    page.send("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])
    after = basket_x(page.canvas())
    check(before is not None and after is not None and after > before + 20,
          "the touch button Right moves the basket (%s -> %s)" % (before, after))
    page.send("Emulation.setTouchEmulationEnabled", enabled=False)

    if screenshot:
        page.eval("document.getElementById('touch').hidden = true, 1")
        shot = page.send("Page.captureScreenshot", format="png")
        with open(screenshot, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print("      screenshot: " + screenshot)

    page.tap("Escape")
    check(page.wait_for("!!window.vnEnded", 5) and
          "ended" in page.eval("document.getElementById('note').textContent") and
          not page.eval("document.getElementById('note').hidden"),
          "Esc ends the game and the page says so")

    # The game was recorded as it went: the page offers the run, and watching
    # it (as a file chosen or dropped does) plays it through to its end.
    check(page.eval("!!document.getElementById('save')"), "the page offers to save the run")
    run = page.eval("btoa(String.fromCharCode(...Module.FS.readFile('/run.vnr')))")
    page.eval("sessionStorage.setItem('vnWatch', %s), location.reload(), 1" % json.dumps(run))
    check(page.wait_for("window.vnTiming && vnTiming.pictures > 0 && !window.vnEnded"),
          "the saved run plays in the page")
    check(page.wait_for("!!window.vnEnded && /run has ended/.test("
                        "document.getElementById('note').textContent)", 60),
          "the run plays to its end (%s)" % page.eval("document.getElementById('note').textContent"))


def main():
    site = sys.argv[1]
    screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    chromium = shutil.which("chromium") or "/usr/bin/chromium"

    loaded = ["index.html", "vornackle.js", "vornackle.wasm", "assets/playersprite.bmp"]
    sizes = {name: len(gzip.compress(open(os.path.join(site, name), "rb").read(), 9))
             for name in loaded}
    total = sum(sizes.values())
    print("      gzip: " + ", ".join("%s %d" % item for item in sizes.items()))
    check(total <= MAX_GZIP_BYTES, "everything the page loads: %d bytes gzip" % total)

    server, url = serve(site)
    try:
        page = open_page(chromium, url)
        try:
            play_through(page, screenshot)
        finally:
            page.close()

        # Without the sprite sheet the game still starts and plays.
        page = open_page(chromium, url)
        try:
            page.send("Network.enable")
            page.send("Network.setBlockedURLs", urls=["*playersprite.bmp"])
            page.send("Page.reload", ignoreCache=True)
            check(page.wait_for("window.vnTiming && vnTiming.pictures > 0"),
                  "without the sprite sheet the game starts")
            rows = page.steady_canvas()
            check(differing(rows, docs_picture("story.png")) > 0,
                  "without the sprite sheet the story has no basket")
            for name in ("Enter", "Space", "Enter"):
                page.tap(name)
                time.sleep(0.5)
            time.sleep(0.5)
            check(basket_x(page.canvas()) is None and not page.eval("!!window.vnEnded"),
                  "without the sprite sheet it plays, without a basket")
        finally:
            page.close()

        page = open_page(chromium, url, before="delete window.WebAssembly;")
        try:
            check(page.wait_for("document.getElementById('note') && "
                                "/WebAssembly/.test(document.getElementById('note').textContent)"),
                  "a browser without WebAssembly gets a message")
        finally:
            page.close()
    finally:
        server.shutdown()

    print("browser test: %d failed" % len(failures) if failures else "browser test: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
