#!/usr/bin/python3
"""A study's page in Debian's headless Chromium at 1600 x 900, timed as a reader uses it: the time
until the row its address names is shown, 100 Right-key steps (each drawn, in the browser's next
frame, before the next is pressed), and the drawing time of each frame while the slider is dragged
over 300 rows. Five runs, each in a fresh browser; the medians and the range. See
docs/performance.md.

    bench/page_bench.py study.html [ROW]
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "page"))
import devtools  # noqa: E402


def frame(b):
    """Until the page has drawn what it was asked to: its own frame callback runs before ours."""
    b.run("new Promise(r => requestAnimationFrame(r))")


def one_run(url, row):
    with devtools.Browser(1600, 900) as b:
        start = time.perf_counter()
        b.open(f"{url}#row={row}")
        shown = b.run("umbrascope.ready.then(() => umbrascope.row())")
        frame(b)
        opened = time.perf_counter() - start
        assert shown == row, f"the page shows row {shown}, not {row}"

        start = time.perf_counter()
        for _ in range(100):
            b.key("ArrowRight")
            frame(b)
        steps = time.perf_counter() - start
        assert b.run("umbrascope.row()") == row + 100

        b.run("umbrascope.stats.frames.length = 0")
        first = max(1, row - 150)
        b.run(f"""(async () => {{ const s = document.getElementById('slider');
          for (let r = {first}; r < {first + 300}; ++r) {{ s.value = r; s.dispatchEvent(new Event('input'));
            await new Promise(f => requestAnimationFrame(f)); }} }})()""")
        frames = sorted(b.run("umbrascope.stats.frames.slice()"))
        assert not b.exceptions, b.exceptions[:1]
        assert b.requests == [f"{url}#row={row}"] or b.requests == [url], b.requests
        return opened, steps, frames[len(frames) // 2], frames[int(len(frames) * 0.95)]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    url = "file://" + os.path.abspath(sys.argv[1])
    row = int(sys.argv[2]) if len(sys.argv) > 2 else 1492
    runs = [one_run(url, row) for _ in range(5)]
    print(f"{sys.argv[1]}: {os.path.getsize(sys.argv[1]) / 1e6:.2f} MB")
    for k, what in enumerate(("opens at #row=%d" % row, "100 Right-key steps", "a frame while scrubbing, median",
                              "a frame while scrubbing, 95th percentile")):
        values = [r[k] for r in runs]
        unit = "s" if k < 2 else "ms"
        print(f"  {what}: {statistics.median(values):.3g} {unit} ({min(values):.3g} to {max(values):.3g})")


if __name__ == "__main__":
    main()
