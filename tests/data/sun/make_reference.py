#!/usr/bin/python3
# Writes sun_positions.csv: the sun's true zenith and azimuth (no refraction) from PyEphem
# (Debian's python3-ephem 4.1.4), at instants and places spread over 1950-2050 and the globe.
import math
import random

import ephem

random.seed(39)
rows = []
sites = [(0.0, 0.0, 0), (39.7392, -104.9903, 1609), (51.4779, -0.0015, 46), (-33.8688, 151.2093, 58),
         (64.8378, -147.7164, 136), (-77.85, 166.67, 10), (78.2232, 15.6267, 8), (1.3521, 103.8198, 15),
         (35.6762, 139.6503, 40), (-54.8019, -68.3030, 20)]
for lat, lon, elevation in sites:
    for _ in range(30):
        when = ephem.Date('1950/1/1') + random.uniform(0, 36890)  # days to 2050/12/31
        observer = ephem.Observer()
        observer.lat, observer.lon, observer.elevation = str(lat), str(lon), elevation
        observer.pressure = 0  # no refraction: the true position
        observer.date = when
        sun = ephem.Sun(observer)
        y, mo, d, h, mi, s = ephem.Date(when).tuple()
        rows.append((lat, lon, elevation, '%04d-%02d-%02d' % (y, mo, d), h * 3600 + mi * 60 + s,
                     90 - math.degrees(float(sun.alt)), math.degrees(float(sun.az))))
with open('sun_positions.csv', 'w') as out:
    out.write('lat,lon,elevation_m,date_utc,seconds_utc,zenith_deg,azimuth_deg\n')
    for r in rows:
        out.write('%.4f,%.4f,%d,%s,%.3f,%.6f,%.6f\n' % r)
