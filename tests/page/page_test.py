"""The shared page in a real browser: a small study with a bus whose name is not ASCII, written by
umbrascope-export --animation page.html and opened from its file in Debian's headless Chromium.
Every decoded value is what was written; each bus's disc has its class's colour, north up; the
slider, the keys, the hover, the address's row and playing to the end work; a page cut short says
so; a measured sky's sunlight is made in the page exactly as the sun table has it; a search by
bus's answers colour the discs by their bands and a bus's hover gives its row; nothing is fetched
and nothing thrown. Exits 77 (skipped) where Chromium cannot start.

Usage: page_test.py UMBRASCOPE_EXPORT UMBRASCOPE_CLOUDS WORK_FOLDER"""

import os
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import devtools  # noqa: E402
except ImportError as missing:
    print("skipped: the page's browser test needs python3-websocket:", missing)
    sys.exit(77)

exporter, clouds, work = sys.argv[1:4]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


# Four buses over five rows of 10 s: bus 2 is "Zürich-Ost"; bus 1 lies north of bus 4.
names = ["Head", "Zürich-Ost", "Mid", "Tail"]
places = [(0, 300), (100, 200), (200, 100), (300, 0)]
sun = [[1.0, 0.95, 0.42, 0.80], [1.0, 0.30, 0.995, 0.70], [0.65, 0.55, 0.25, 1.0], [0.9, 0.99, 1.0, 0.2],
       [1.0, 1.0, 1.0, 1.0]]
threshold = 0.6
lowest = [[10000, 9800, 9400, 9200], [10000, 9700, 9600, 9100], [10100, 9950, None, 10600],
          [10500, 10000, 10000, 9500], [9990, 9980, 9970, 9400]]
highest = [[10100, 9900, 9500, 9300], [10100, 9900, 9700, 9200], [10200, 10550, None, 10650],
           [10500, 10100, 10100, 10100], [10010, 10020, 10030, 9600]]
distances = [0, 1.5, 3.25, 4.0]

folder = os.path.join(work, "small")
shutil.rmtree(work, ignore_errors=True)
os.makedirs(folder)
network = "bus_coordinates\n" + "".join(f"{i + 1},{n},{x},{y}\n" for i, (n, (x, y)) in enumerate(zip(names, places)))
write(os.path.join(folder, "cloud_bus_coords_connections.txt"), network + "bus_connections\n1,2\n2,3\n3,4\n")
write(os.path.join(folder, "cloud_sun_intensity_table.txt"),
      "Sun\nh2\nh3\nh4\nh5\ntime," + ",".join(names) + "\n" +
      "".join(f"{10 * r}," + ",".join(str(v) for v in row) + "\n" for r, row in enumerate(sun)))
write(os.path.join(folder, "cloud_centers_plot.txt"),
      f"a\nb\nc\nx,x,x,60,40,80,x,20,{threshold},\n1,150,150\n2,160,150\n3,170,150\n4,180,150\n5,190,150\n")


def table(values, what):
    head = f"{what} voltage per bus, per unit\nMade by a test\nPer unit\nOne row every 10 seconds\nColumns\ntime," + ",".join(names) + "\n"
    return head + "".join(f"{10 * r}," + ",".join("" if v is None else f"{v / 10000:.4f}" for v in row) + "\n"
                          for r, row in enumerate(values))


write(os.path.join(folder, "cloud_voltage_min_table.txt"), table(lowest, "Lowest"))
write(os.path.join(folder, "cloud_voltage_max_table.txt"), table(highest, "Highest"))
write(os.path.join(folder, "voltage_report.csv"),
      "bus,distance_km,lowest\n" + "".join(f"{n},{d},\n" for n, d in zip(names, distances)))
# A regulator at Zürich-Ost moving in rows 2 and 4, a capacitor at Mid switching in row 3; twin still.
taps, caps = [3, 4, 4, 2, 2], [1, 1, 0, 0, 0]
write(os.path.join(folder, "cloud_controls_table.txt"),
      "Controls\nMade by a test\nColumns\nOne row every 10 seconds\n"
      "kind,regcontrol,capcontrol,regcontrol,capcontrol\nname,Reg,Cap,Reg,Cap\n"
      "element,Transformer.Reg,Capacitor.C,Transformer.Reg,Capacitor.C\ndrawn_bus,Zürich-Ost,Mid,Zürich-Ost,Mid\n"
      "sky,sky,sky,clear,clear\nsettle,3,1,3,1\n" +
      "".join(f"{10 * r},{taps[r]},{caps[r]},3,1\n" for r in range(5)))


def voltage_class(low, high):
    if low is None or high is None:
        return 5
    d_low = 9500 - low if low < 9500 else 0
    d_high = high - 10500 if high > 10500 else 0
    if d_low == 0 and d_high == 0:
        return 2
    if d_low >= d_high:
        return 0 if low * 120 < 1100000 else 1
    return 4 if high * 120 > 1270000 else 3


def single(v):
    """As the passes hold a number: in single precision."""
    return struct.unpack("f", struct.pack("f", v))[0]


def sun_class(v):
    # The passes compare their single-precision value: 0.99 as a single lies just above 0.99.
    return 0 if single(v) > 0.99 else 1 if single(v) > single(threshold) else 2


def export(*args):
    result = subprocess.run([exporter, "--input", folder, *args], capture_output=True, text=True)
    check(result.returncode == 0, f"umbrascope-export {' '.join(args)}: {result.stderr}")
    return result


page = os.path.join(work, "page.html")
export("--colour-by", "voltage", "--profile", "--animation", page)
sun_page = os.path.join(work, "sunlight.html")
export("--animation", sun_page)

# A measured sky over a feeder of a few buses: its sunlight made in the page from the field.
sky_folder = os.path.join(work, "sky")
os.makedirs(sky_folder)
write(os.path.join(sky_folder, "cloud_bus_coords_connections.txt"),
      "bus_coordinates\n1,a,0,0\n2,b,137.25,12.5\n3,c,300.125,-40\n4,d,455.5,90.75\nbus_connections\n1,2\n2,3\n3,4\n")
write(os.path.join(sky_folder, "sensor.csv"), "".join(f"{0.2 + 0.8 * abs(((k * 37) % 100) - 50) / 50:.4f}\n" for k in range(400)))
subprocess.run([clouds, "--units", "m", "--wind", "7.5,250", "--from-sensor", os.path.join(sky_folder, "sensor.csv"),
                "--sensor-interval", "1", "--interval", "2", "--sensor-scale", "1.05", sky_folder],
               check=True, capture_output=True)
sky_page = os.path.join(work, "sky.html")
subprocess.run([exporter, "--input", sky_folder, "--animation", sky_page], check=True, capture_output=True)

# Mid below range A in every row it has a voltage in: the feeder's own, left out of W and the
# jumps until O counts it.
own_folder = os.path.join(work, "own")
shutil.copytree(folder, own_folder)
own_low = [[9000 if k == 2 and v is not None else v for k, v in enumerate(row)] for row in lowest]
own_high = [[9100 if k == 2 and v is not None else v for k, v in enumerate(row)] for row in highest]
write(os.path.join(own_folder, "cloud_voltage_min_table.txt"), table(own_low, "Lowest"))
write(os.path.join(own_folder, "cloud_voltage_max_table.txt"), table(own_high, "Highest"))
own_page = os.path.join(work, "own.html")
subprocess.run([exporter, "--input", own_folder, "--colour-by", "voltage", "--animation", own_page], check=True,
               capture_output=True)

# A sky longer than a run (32,766 rows): a page of the whole, gathered a part at a time, and a
# page of a part, each numbering its rows as the sky does.
long_folder = os.path.join(work, "long")
os.makedirs(long_folder)
long_rows = 32800
write(os.path.join(long_folder, "cloud_bus_coords_connections.txt"),
      "bus_coordinates\n1,a,0,0\n2,b,100,40\nbus_connections\n1,2\n")
write(os.path.join(long_folder, "cloud_sun_intensity_table.txt"),
      "Sun\nh2\nh3\nh4\nh5\ntime,a,b\n" +
      "".join(f"{r},{(r * 7) % 1000 / 1000:.3f},{(r * 13) % 1000 / 1000:.3f}\n" for r in range(long_rows)))
write(os.path.join(long_folder, "cloud_centers_plot.txt"), "a\nb\nc\nx,x,x,60,40,80,x,20,0.5,\n32790,50,20\n")
long_page = os.path.join(work, "long.html")
long_part = os.path.join(work, "long-part.html")
for args in (["--animation", long_page], ["--rows", "32701:32800", "--animation", long_part]):
    made = subprocess.run([exporter, "--input", long_folder, "--large", *args], capture_output=True, text=True)
    check(made.returncode == 0, f"umbrascope-export --large {' '.join(args)} of a long sky: {made.stderr}")


def table_rows(folder):
    rows = []
    with open(os.path.join(folder, "cloud_sun_intensity_table.txt")) as f:
        for number, line in enumerate(f):
            if number >= 6:
                rows.append([round(float(v) * 1000) for v in line.strip().split(",")[1:]])
    return rows


sky_rows = table_rows(sky_folder)

# The same sky over a clear sky given one value a row (200 rows of 2 s): each row's own divisor.
clear_folder = os.path.join(work, "clear")
os.makedirs(clear_folder)
shutil.copy(os.path.join(sky_folder, "cloud_bus_coords_connections.txt"), clear_folder)
write(os.path.join(clear_folder, "clear.csv"), "".join(f"{1.0 + 0.25 * (r % 5) / 4:.4f}\n" for r in range(200)))
subprocess.run([clouds, "--units", "m", "--wind", "7.5,250", "--from-sensor", os.path.join(sky_folder, "sensor.csv"),
                "--sensor-interval", "1", "--interval", "2", "--steps", "200", "--sensor-clear-sky",
                os.path.join(clear_folder, "clear.csv"), clear_folder], check=True, capture_output=True)
clear_page = os.path.join(work, "clear.html")
subprocess.run([exporter, "--input", clear_folder, "--animation", clear_page], check=True, capture_output=True)
clear_rows = table_rows(clear_folder)

# A sky of a constant index 0.5: the map's white shaded at the window's level for it, 3 of 6.
half_folder = os.path.join(work, "half")
os.makedirs(half_folder)
shutil.copy(os.path.join(sky_folder, "cloud_bus_coords_connections.txt"), half_folder)
write(os.path.join(half_folder, "sensor.csv"), "0.5\n" * 60)
subprocess.run([clouds, "--units", "m", "--wind", "7.5,250", "--from-sensor", os.path.join(half_folder, "sensor.csv"),
                "--sensor-interval", "1", half_folder], check=True, capture_output=True)
half_page = os.path.join(work, "half.html")
subprocess.run([exporter, "--input", half_folder, "--animation", half_page], check=True, capture_output=True)
shades = [(238, 240, 243), (226, 229, 234), (214, 218, 225), (202, 207, 216), (190, 196, 207), (178, 185, 198)]

# A page cut short in the middle of its sections.
cut = os.path.join(work, "cut.html")
with open(page, "rb") as f:
    whole = f.read()
marker = whole.index(b'id="u-low-0"')
with open(cut, "wb") as f:
    f.write(whole[:marker + 200])

# A search by bus's answers over the small network: a sweep folder as sweep locate and gather
# leave it, its first sky the small one; Mid not found, Tail not searched.
sweep = os.path.join(work, "sweep")
os.makedirs(sweep)
write(os.path.join(sweep, "locate.txt"), "buses = three-phase\nmax_kw = 1000\nresolution_kw = 50\n")
write(os.path.join(sweep, "skies.csv"), "sky,folder,loadshapes,sky_fingerprint,loadshapes_fingerprint\n"
      f"small,{os.path.abspath(folder)},x,y,z\n")
write(os.path.join(sweep, "locate_buses.csv"), "bus,drawn_bus,distance_km\nhead,Head,0\nzürich-ost,Zürich-Ost,1.5\n"
      "mid,Mid,3.25\n")
hosting = {"Head": (900, "#1a9641"), "Zürich-Ost": (150, "#d7191c"), "Mid": (None, "#b0b0b0"), "Tail": (None, "#b0b0b0")}
write(os.path.join(sweep, "locational_hc.csv"),
      "bus,kv,phases,distance_km,hc_kw,clear_hc_kw,criterion,where,row,time,value,probes,bracket_kw\n"
      "head,12.47,3,0,900,950,max_seconds_outside_a,Mid,2,00:00:10,20,7,900-950\n"
      "zürich-ost,12.47,3,1.5,150,400,max_loading_pct,Line.l2,3,00:00:20,104.2,7,150-200\n"
      "mid,12.47,3,3.25,,,,,,,,3,\n")
hosting_page = os.path.join(work, "hosting.html")
made = subprocess.run([exporter, "--input", sweep, "--colour-by", "hosting", "--animation", hosting_page],
                      capture_output=True, text=True)
check(made.returncode == 0, "the hosting page: " + made.stderr)

try:
    browser = devtools.Browser()
except devtools.Unavailable as reason:
    print("skipped: the page's browser test needs Chromium:", reason)
    sys.exit(77)

with browser as b:
    b.call("Emulation.setDeviceMetricsOverride", width=1600, height=900, deviceScaleFactor=1, mobile=False)
    url = "file://" + os.path.abspath(page)
    b.open(url + "#row=3")
    check(b.run("umbrascope.ready.then(() => umbrascope.row())") == 3, "#row=3 opens row 3")
    check(b.run("umbrascope.error") == "", "no error: " + str(b.run("umbrascope.error")))
    check(b.run("document.title").startswith("row 3 / 5"), "the title says the row: " + b.run("document.title"))

    # Every decoded value is what was written.
    decoded = b.run("""umbrascope.block(0).then(block => ({classes: Array.from(block.classes),
        low: Array.from(block.low), high: Array.from(block.high),
        sun: [0,1,2,3,4].map(r => [0,1,2,3].map(k => umbrascope.sun(block, r + 1, k)))}))""")
    empty = -2147483648
    check(decoded["classes"] == [voltage_class(lo, hi) for lr, hr in zip(lowest, highest) for lo, hi in zip(lr, hr)],
          "the classes decoded are the voltage classes written")
    check(decoded["low"] == [empty if v is None else v for row in lowest for v in row], "the lowest voltages decoded")
    check(decoded["high"] == [empty if v is None else v for row in highest for v in row], "the highest voltages decoded")
    check(decoded["sun"] == [[round(v * 1000) for v in row] for row in sun], "the sunlight decoded")
    check(b.run("umbrascope.names()") == names, "the bus names, Zürich-Ost among them: " + str(b.run("umbrascope.names()")))

    # Each disc's pixel has its class's colour, in three rows; north up.
    colours = b.run("umbrascope.colours()")
    for row in (1, 3, 5):
        b.run(f"umbrascope.show({row})")
        b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        picture = b.picture()
        for k in range(4):
            x, y = b.run(f"umbrascope.where({k})")
            want = colours[voltage_class(lowest[row - 1][k], highest[row - 1][k])]
            got = "#%02x%02x%02x" % picture[round(y)][round(x)]
            check(got == want, f"row {row}, bus {names[k]}: its disc is {got}, its class's colour {want}")
    check(b.run("umbrascope.where(0)")[1] < b.run("umbrascope.where(3)")[1], "north is up: Head above Tail")

    # Keys, the slider and the address.
    for key, row in (("Home", 1), ("ArrowRight", 2), ("End", 5), ("PageUp", 1), ("PageDown", 5), ("ArrowLeft", 4)):
        b.key(key)
        check(b.run("umbrascope.row()") == row, f"{key} shows row {row}, not {b.run('umbrascope.row()')}")
    b.run("const s = document.getElementById('slider'); s.value = 2; s.dispatchEvent(new Event('input'))")
    check(b.run("umbrascope.row()") == 2, "the slider shows row 2")
    time.sleep(0.4)
    check(b.run("location.hash") == "#row=2", "the address keeps the row: " + b.run("location.hash"))
    check("row 2 / 5" in b.run("document.getElementById('when').textContent"), "the band says row 2 / 5")
    check(b.run("umbrascope.row()") == 2 and b.run("document.title").startswith("row 2 / 5"), "the title follows")

    # The hover: a bus's name, class, voltages, distance and sunlight; a regulator's state.
    x, y = b.run("umbrascope.where(1)")
    b.mouse(x, y)
    tip = b.run("document.getElementById('tip').textContent")
    for part in ("Zürich-Ost", "row 2", "0.95-1.05", "lowest 0.9700 pu, highest 0.9900 pu", "1.500 km", "sunlight 0.300"):
        check(part in tip, f"the hover says '{part}': {tip!r}")
    x, y = b.run("umbrascope.symbol(0)")
    b.mouse(x, y)
    tip = b.run("document.getElementById('tip').textContent")
    check("regulator Reg" in tip and "tap 4, from 3: it acts" in tip and "under a clear sky: tap 3" in tip,
          "the regulator's hover: " + repr(tip))
    b.mouse(5, 5)

    # Playing to the end, then pausing there.
    b.run("document.getElementById('speed').value = '100'; document.getElementById('speed').dispatchEvent(new Event('change'))")
    b.run("document.getElementById('play').click()")
    time.sleep(0.6)
    check(b.run("umbrascope.row()") == 5 and not b.run("umbrascope.playing()"), "playing runs to the last row and pauses")

    # A step rings no bus: only the jumps by voltage do.
    b.key("Home")
    b.key("ArrowRight")
    b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    check("worst bus" not in b.run("document.getElementById('when').textContent"), "a plain step rings no worst bus")

    # The next excursion outside range A (rows 1 to 3, then 5), ringing the row's worst bus.
    b.key("Home")
    b.key("ArrowRight", modifiers=2)
    b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    check(b.run("umbrascope.row()") == 5, "Ctrl+Right goes to the first row of the next excursion, 5")
    check("worst bus Tail" in b.run("document.getElementById('when').textContent"), "the band names the worst bus")
    b.key("ArrowLeft", modifiers=2)
    check(b.run("umbrascope.row()") == 1, "Ctrl+Left goes back to the first row of the one before, 1")
    b.key("End")
    b.key("w", code="KeyW")
    b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    check(b.run("umbrascope.row()") == 1 and "worst bus Tail" in b.run("document.getElementById('when').textContent"),
          "W goes to the worst row, 1, ringing its worst bus")

    # T and Shift+T go to the rows where a control acts (2, 3 and 4), as the window's do; a key with
    # nothing further says so in the band; the slider has a tick at each; K hides the symbols.
    b.key("Home")
    bands = []
    for key, shift, row in (("t", 0, 2), ("t", 0, 3), ("t", 0, 4), ("t", 0, 4), ("T", 8, 3)):
        b.key(key, code="KeyT", modifiers=shift)
        b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        check(b.run("umbrascope.row()") == row, f"T{' with Shift' if shift else ''} shows row {row}, not {b.run('umbrascope.row()')}")
        bands.append(b.run("document.getElementById('when').textContent"))
    check("no action after this row" in bands[3] and "no action" not in bands[2],
          "T past the last action says so in the band, and only then: " + repr(bands[2:4]))
    check(b.run("Array.from(document.querySelectorAll('#actions option')).map(o => Number(o.value))") == [2, 3, 4],
          "the slider's ticks mark the rows where a control acts")
    x, y = b.run("umbrascope.symbol(0)")
    shown = b.picture()[round(y)][round(x)]
    b.key("k", code="KeyK")
    b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    hidden = b.picture()[round(y)][round(x)]
    check(shown != hidden, f"K hides the symbols: {shown} and {hidden} at a regulator's place")
    b.key("k", code="KeyK")

    check(b.requests == [url + "#row=3"] or b.requests == [url], "nothing fetched but the page: " + str(b.requests))
    check(not b.exceptions, "nothing thrown: " + str(b.exceptions[:1]))

    # 1.0500 pu is in range A, in the profile's classes as on the map (Head in row 4).
    check(b.run("[9499, 9500, 10500, 10501].map(umbrascope.valueClass)") == [1, 2, 2, 3],
          "the profile's classes at the limits of range A: " + str(b.run("[9499, 9500, 10500, 10501].map(umbrascope.valueClass)")))
    check(voltage_class(10500, 10500) == 2 == b.run("umbrascope.valueClass(10500)"), "1.0500 pu: the map's class is the profile's")

    # The sunlight page: the classic classes, in the frames' colours.
    b.open("file://" + os.path.abspath(sun_page))
    b.run("umbrascope.ready")
    decoded = b.run("umbrascope.block(0).then(block => Array.from(block.classes))")
    check(decoded == [sun_class(v) for row in sun for v in row], "the sunlight classes decoded")
    check(b.run("umbrascope.colours()")[:3] == ["#ff0000", "#00ff00", "#000080"],
          "the sunlight classes' colours are the frames': " + str(b.run("umbrascope.colours()")))

    # A clear sky given a row at a time: each row's sunlight over its own row's clear sky.
    b.open("file://" + os.path.abspath(clear_page))
    b.run("umbrascope.ready")
    made = b.run(f"""umbrascope.block(0).then(block => Array.from({{length: {len(clear_rows)}}},
        (_, r) => [0, 1, 2, 3].map(k => umbrascope.sun(block, r + 1, k))))""")
    mismatches = sum(1 for r in range(len(clear_rows)) for k in range(4) if made[r][k] != clear_rows[r][k])
    check(len(clear_rows) == 200 and mismatches == 0,
          f"{mismatches} of {4 * len(clear_rows)} sunlight values over a clear sky of a row each differ from the sun table")

    # A constant index of 0.5: the shade of level 3 and no other.
    b.open("file://" + os.path.abspath(half_page))
    b.run("umbrascope.ready")
    b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    # On the map between its buses, away from the legend, which shows every step.
    spots = [b.run(f"umbrascope.where({k})") for k in range(4)]
    left, right = min(x for x, _ in spots), max(x for x, _ in spots)
    top, bottom = min(y for _, y in spots), max(y for _, y in spots)
    picture = b.picture()
    seen = {picture[y][x] for y in range(round(top), round(bottom) + 1) for x in range(round(left), round(right) + 1)}
    check(shades[2] in seen and not any(shades[i] in seen for i in (0, 1, 3, 4, 5)),
          "a sky of index 0.5 draws shade level 3 alone: " + str([i + 1 for i in range(6) if shades[i] in seen]))

    # A measured sky: each bus's sunlight made in the page equals the sun table's.
    b.open("file://" + os.path.abspath(sky_page))
    b.run("umbrascope.ready")
    made = b.run(f"""umbrascope.block(0).then(block => Array.from({{length: {len(sky_rows)}}},
        (_, r) => [0, 1, 2, 3].map(k => umbrascope.sun(block, r + 1, k))))""")
    mismatches = sum(1 for r in range(len(sky_rows)) for k in range(4) if made[r][k] != sky_rows[r][k])
    check(mismatches == 0, f"{mismatches} of {4 * len(sky_rows)} sunlight values made in the page differ from the sun table")

    # A bus outside range A all run: named once in the legend, left out of the jumps until O.
    check(b.run("document.getElementById('own')") is None, "no bus outside range A all run named where there is none")
    b.open("file://" + os.path.abspath(own_page))
    b.run("umbrascope.ready")
    b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    own = b.run("document.getElementById('own').textContent")
    check(own.startswith("1 bus outside range A in every row") and "Mid" in own and "left out of W" in own,
          "the legend names the feeder's own once: " + repr(own))
    seen = []
    for counted in (False, True):
        b.key("Home")
        b.key("ArrowRight", modifiers=2)
        b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        after = b.run("umbrascope.row()")
        b.key("w", code="KeyW")
        b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        band = b.run("document.getElementById('when').textContent")
        seen.append((after, b.run("umbrascope.row()"), band[band.find("worst bus"):]))
        if not counted:
            b.key("o", code="KeyO")
    check(seen == [(5, 2, "worst bus Tail"), (1, 2, "worst bus Mid")],
          "Ctrl+Right and W leave Mid out, then count it after O: " + repr(seen))
    check("counted" in b.run("document.getElementById('own').textContent"), "after O the legend says Mid is counted")

    # The long sky's pages: the whole at its row 32790, and a part of it at the same row.
    for path, local, what in ((long_page, 32790, "the page of the whole long sky"), (long_part, 90, "a page of a part")):
        b.open("file://" + os.path.abspath(path) + "#row=32790")
        b.run("umbrascope.ready")
        b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        band = b.run("document.getElementById('when').textContent")
        check(b.run("umbrascope.row()") == local and "row 32790 / 32800" in band, f"{what} opens at row 32790: " + repr(band))
        check(("(rows 32701\u201332800 of the sky on this page)" in band) == (path == long_part),
              f"{what}: the band names the part's rows where it is one: " + repr(band))
        made = b.run(f"umbrascope.block(umbrascope.blockOf({local})).then(block => [0, 1].map(k => umbrascope.sun(block, {local}, k)))")
        want = [(32789 * 7) % 1000, (32789 * 13) % 1000]
        check(made == want, f"{what}: row 32790's sunlight decoded {made}, not {want}")

    # A page cut short says so in words.
    b.open("file://" + os.path.abspath(cut))
    b.run("umbrascope.ready")
    message = b.run("document.getElementById('message').textContent")
    check("cut short" in message, "a page cut short says so: " + repr(message))

    # The search's answers: each disc in its band's colour in every row, the legend the bands, and a
    # bus's hover its row of locational_hc.csv.
    b.open("file://" + os.path.abspath(hosting_page))
    b.run("umbrascope.ready")
    for row in (1, 5):
        b.run(f"umbrascope.show({row})")
        b.run("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        picture = b.picture()
        for k, name in enumerate(names):
            x, y = b.run(f"umbrascope.where({k})")
            got = "#%02x%02x%02x" % picture[round(y)][round(x)]
            check(got == hosting[name][1], f"hosting, row {row}, bus {name}: its disc is {got}, its band's {hosting[name][1]}")
    legend = b.run("document.getElementById('legend').textContent")
    check("800 to 1000 kW (max)" in legend and "not searched or not found" in legend, "the bands' legend: " + repr(legend))
    x, y = b.run("umbrascope.where(1)")
    b.mouse(x, y)
    tip = b.run("document.getElementById('tip').textContent")
    for part in ("hosting capacity (locational_hc.csv)", "hc_kw = 150", "criterion = max_loading_pct", "where = Line.l2"):
        check(part in tip, f"Zürich-Ost's hover says '{part}': {tip!r}")
    b.mouse(5, 5)
    # A click, as a tap where nothing hovers, shows the same: the first bus's.
    x, y = b.run("umbrascope.where(0)")
    b.run("document.getElementById('tip').textContent = ''")
    b.run(f"document.getElementById('map').dispatchEvent(new MouseEvent('click', {{clientX: {x}, clientY: {y}}}))")
    tip = b.run("document.getElementById('tip').textContent")
    check("hc_kw = 900" in tip and tip.startswith("Head"), f"a click on Head shows its row: {tip!r}")

if failures:
    print(f"{len(failures)} checks failed")
    sys.exit(1)
print("the page passed every check in Chromium")
