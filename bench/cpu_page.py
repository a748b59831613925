#!/usr/bin/python3
"""The page's processor time on each screen, as a new player meets them.

    bench/cpu_page.py SITE

All of chromium's processes over 8 s a screen (the page's test walks the
same screens), and beside them what chromium itself spends on a blank page
listening for controllers and on a bare 60 Hz loop drawing a 640 x 480
picture. Figures, never a check: they depend on the machine.
"""
import contextlib
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser_test as bt  # noqa: E402  (its page driver, server and walk)

OTHERS = (("blank page listening for controllers",
           "<script>addEventListener('gamepadconnected', () => {})</script>"),
          ("bare 60 Hz canvas loop",
           "<canvas width=640 height=480></canvas><script>"
           "const c = document.querySelector('canvas').getContext('2d');"
           "const p = c.createImageData(640, 480); let n = 0;"
           "(function draw() { p.data.fill(n++ & 255); c.putImageData(p, 0, 0);"
           " requestAnimationFrame(draw); })();</script>"))


def cpu_seconds(page):
    """Processor time of chromium's process and all of its descendants."""
    stats = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError), open("/proc/%s/stat" % pid) as f:
            stats[int(pid)] = f.read().rsplit(")", 1)[1].split()
    total, todo = 0, [page.process.pid]
    while todo:
        pid = todo.pop()
        fields = stats.get(pid, [0] * 13)
        total += int(fields[11]) + int(fields[12])  # utime, stime
        todo.extend(child for child, f in stats.items() if int(f[1]) == pid)
    return total / os.sysconf("SC_CLK_TCK")


def cpu_share(page, seconds=8):
    """All of chromium's processor time over `seconds`, as % of one core."""
    start, begin = cpu_seconds(page), time.time()
    time.sleep(seconds)
    return 100 * (cpu_seconds(page) - start) / (time.time() - begin)


def main():
    site = sys.argv[1]
    chromium = shutil.which("chromium") or "/usr/bin/chromium"
    shares = []

    def each(page, name):
        wakes = page.eval("vnWakes")
        share = cpu_share(page)
        shares.append((name, share, ", woken %.1f times a second" % ((page.eval("vnWakes") - wakes) / 8)))

    with bt.served(site) as (_, url):
        bt.screens_at_rest(chromium, url, each)
    folder = tempfile.mkdtemp(prefix="vn-others-")
    with bt.served(folder) as (_, url):
        for name, html in OTHERS:
            with open(os.path.join(folder, "index.html"), "w") as f:
                f.write(html)
            with bt.opened(chromium, url) as page:
                time.sleep(1)
                shares.append((name, cpu_share(page), ""))
    shutil.rmtree(folder, ignore_errors=True)
    print("machine: %d cores, load average %s" % (os.cpu_count(), os.getloadavg()))
    for name, share, wakes in shares:
        print("cpu %-38s %5.1f %% of a core%s" % (name, share, wakes))


if __name__ == "__main__":
    main()
