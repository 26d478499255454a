#!/usr/bin/env python3
"""The measured-sky model of umbrascope-clouds --from-sensor in plain Python, for comparing speed
(docs/performance.md): the same table, written the same way, with no library beyond Python's own.

Usage: sensor_model.py FOLDER SENSOR.csv INTERVAL METRES_PER_UNIT SPEED FROM
"""
import math
import sys


def main():
    folder, sensor, interval, metres, speed, wind_from = sys.argv[1:7]
    interval, metres, speed, wind_from = float(interval), float(metres), float(speed), float(wind_from)
    names, places = [], []
    with open(folder + "/cloud_bus_coords_connections.txt") as network:
        for line in network:
            if "bus_connections" in line:
                break
            if "bus_coordinates" in line:
                continue
            fields = line.rstrip("\r\n").split(",")
            names.append(fields[1])
            places.append((float(fields[2]), float(fields[3])))
    values = []
    with open(sensor) as series:
        for line in series:
            try:
                values.append(float(line.strip().split(",")[-1]))
            except ValueError:
                pass
    xs = [x for x, _ in places]
    ys = [y for _, y in places]
    centre = ((min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2)
    towards = (-math.sin(math.radians(wind_from)), -math.cos(math.radians(wind_from)))
    lags = [((x - centre[0]) * towards[0] + (y - centre[1]) * towards[1]) * metres / speed for x, y in places]
    end = (len(values) - 1) * interval
    out = ["Sun intensity per bus", "Made by sensor_model.py", "Clear-sky index: 1 in full sun",
           "One row every %g seconds" % interval, "Columns: time in seconds, then one intensity per bus index",
           "time," + ",".join(names)]
    for row in range(len(values)):
        cells = ["%g" % (row * interval)]
        for lag in lags:
            t = row * interval - lag
            if t <= 0:
                value = values[0]
            elif t >= end:
                value = values[-1]
            else:
                k = min(int(t / interval), len(values) - 2)
                part = t / interval - k
                value = values[k] + (values[k + 1] - values[k]) * part
            cells.append(("%.3f" % value).rstrip("0").rstrip("."))
        out.append(",".join(cells))
    with open(folder + "/cloud_sun_intensity_table.txt", "w") as table:
        table.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
