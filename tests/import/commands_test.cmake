# Runs umbrascope-import and umbrascope-clouds as a user would: from an OpenDSS circuit to a folder
# the picture can show, and every refusal in one line with exit status 2 and nothing written.
# Expects IMPORTER, CLOUDS, SOURCE and WORK.

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(feeders ${SOURCE}/tests/data/feeders)

# run(STATUS PROGRAM ARGS...): sets `out` and `err` for the checks after it.
macro(run expected_status program)
  execute_process(COMMAND ${program} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL ${expected_status})
    message(FATAL_ERROR "${program} ${ARGN}: exit status ${status}, expected ${expected_status}\n${out}${err}")
  endif()
endmacro()

# A refusal: status 2, one line (a wrong command line adds the hint to --help), nothing written.
macro(refused pattern folder program)
  run(2 ${program} ${ARGN})
  string(REGEX REPLACE "\nTry '[^']*'\\.\n$" "\n" first_line "${err}")
  string(REGEX MATCHALL "\n" ends "${first_line}")
  list(LENGTH ends lines)
  if(NOT lines EQUAL 1 OR NOT err MATCHES "${pattern}")
    message(FATAL_ERROR "${program} ${ARGN}: expected one line matching '${pattern}', got:\n${err}")
  endif()
  if(NOT "${folder}" STREQUAL "" AND EXISTS ${folder})
    message(FATAL_ERROR "${program} ${ARGN}: wrote ${folder} though it refused")
  endif()
endmacro()

# The 8500-node feeder: its Redirect names differ in case from its files.
run(0 ${IMPORTER} ${feeders}/ieee8500/Master.dss ${WORK}/8500)
if(NOT out MATCHES "2476 buses, 2458 connections .*umbrascope --large ${WORK}/8500")
  message(FATAL_ERROR "the import's report:\n${out}")
endif()

# Two tables, and an import past nothing: refusals.
file(WRITE ${WORK}/buses.csv "name,x,y\nPlant,0,0\nEnd,3,1\n")
file(WRITE ${WORK}/branches.csv "from,to\nPlant,End\n")
# The circuit's line lengths tell what a network unit is: the 8500-node feeder's coordinates are
# feet, and the 13-node feeder's are a drawing, five feet to the unit, which --units ft is warned of.
file(READ ${WORK}/8500/feeder_circuit.txt record)
if(NOT record MATCHES "\nmetres_per_unit_by_lines=0.3048\n")
  message(FATAL_ERROR "the 8500-node feeder's unit by its lines:\n${record}")
endif()
run(0 ${IMPORTER} ${feeders}/ieee13/IEEE13Nodeckt.dss ${WORK}/13)
run(0 ${CLOUDS} --units ft ${WORK}/13)
if(NOT err MATCHES "warning: by the circuit's line lengths one network unit is about 1.524 m, not 1 ft")
  message(FATAL_ERROR "a drawing taken for feet was not warned of:\n${err}")
endif()
run(0 ${IMPORTER} --buses ${WORK}/buses.csv --branches=${WORK}/branches.csv ${WORK}/tables)
file(READ ${WORK}/tables/cloud_bus_coords_connections.txt network)
if(NOT network MATCHES "\n1,Plant,0,0\n2,End,3,1\nbus_connections[^\n]*\n1,2\n$")
  message(FATAL_ERROR "the two tables gave:\n${network}")
endif()
# A coordinate far from all the others (7e30 for 7.30) is warned of, naming the bus.
file(WRITE ${WORK}/far.csv "name,x,y\nA,0,0\nB,3,1\nC,5,2\nD,7e30,2\n")
file(WRITE ${WORK}/far_branches.csv "from,to\nA,B\nB,C\nC,D\n")
run(0 ${IMPORTER} --buses ${WORK}/far.csv --branches ${WORK}/far_branches.csv ${WORK}/far)
if(NOT err MATCHES "warning: 1 bus of [^ ]*far.csv lies more than a thousand times the feeder's spread from the others[^\n]*: D at \\(7e\\+30, 2\\)")
  message(FATAL_ERROR "an outlying coordinate was not warned of:\n${err}")
endif()
run(0 ${IMPORTER} --buses ${WORK}/buses.csv --branches ${WORK}/branches.csv ${WORK}/near)
if(err MATCHES "thousand times")
  message(FATAL_ERROR "coordinates close together were warned of:\n${err}")
endif()
# The same network imported again from another entry file keeps its sky.
file(COPY ${feeders}/ieee13/ DESTINATION ${WORK}/13copy)
file(RENAME ${WORK}/13copy/IEEE13Nodeckt.dss ${WORK}/13copy/Study.dss)
run(0 ${IMPORTER} --force ${WORK}/13copy/Study.dss ${WORK}/13)
if(NOT out MATCHES "The network is the same as before: cloud_sun_intensity_table.txt and cloud_centers_plot.txt still fit it")
  message(FATAL_ERROR "the same network from another file asked for its sky again:\n${out}${err}")
endif()
# A wind past the largest speed names the limit.
refused("--wind: a speed of 1e300 m/s is past the largest this takes, 1e30 m/s" "" ${CLOUDS} --units m --wind 1e300,270
        ${WORK}/13)
file(WRITE ${WORK}/missing.dss "Clear\nNew Circuit.c\nRedirect lines.dss\n")
file(WRITE ${WORK}/quote.dss "New Line.a bus1=\"a bus2=b\nBuscoords c.csv\n")
file(WRITE ${WORK}/nocoords.dss "New Line.a bus1=a bus2=b\n")
file(WRITE ${WORK}/comma.csv "name,x,y\n\"a,b\",1,2\n")
refused("missing.dss:3: Redirect names lines.dss" ${WORK}/out ${IMPORTER} ${WORK}/missing.dss ${WORK}/out)
refused("quote.dss:1: the \" opened" ${WORK}/out ${IMPORTER} ${WORK}/quote.dss ${WORK}/out)
refused("no coordinates found" ${WORK}/out ${IMPORTER} ${WORK}/nocoords.dss ${WORK}/out)
refused("cannot read the coordinate file" ${WORK}/out ${IMPORTER} --coords ${WORK}/none.csv ${feeders}/ieee13/IEEE13Nodeckt.dss ${WORK}/out)
refused("comma.csv:2: bus name 'a,b' cannot stand in the network file" ${WORK}/out ${IMPORTER} --buses ${WORK}/comma.csv --branches ${WORK}/branches.csv ${WORK}/out)
refused("needs both --buses and --branches" ${WORK}/out ${IMPORTER} --buses ${WORK}/buses.csv ${WORK}/out)
refused("unknown option '--cords'" "" ${IMPORTER} --cords x.csv a.dss ${WORK}/out)
run(0 ${IMPORTER} --help)

# The bundled example's sun table is the model under its own track.
file(MAKE_DIRECTORY ${WORK}/example)
file(COPY ${SOURCE}/examples/ieee13/cloud_bus_coords_connections.txt DESTINATION ${WORK}/example)
run(0 ${CLOUDS} --from-track ${SOURCE}/examples/ieee13/cloud_centers_plot.txt ${WORK}/example)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/example/cloud_sun_intensity_table.txt
                        ${SOURCE}/examples/ieee13/cloud_sun_intensity_table.txt RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "--from-track on the example did not rebuild its sun table")
endif()

# A seeded scenario on the 8500-node feeder, twice: the same bytes; a third time the files are
# there and stay.
foreach(copy a b)
  file(COPY ${WORK}/8500/cloud_bus_coords_connections.txt DESTINATION ${WORK}/seed-${copy})
  run(0 ${CLOUDS} --seed 42 --clouds 5 --steps 300 --interval 1 --wind 40,225
      --clear-sky ${feeders}/ieee8500/Normalized-1s-2900-pts.CSV --loadshapes ${WORK}/seed-${copy}/shapes.dss ${WORK}/seed-${copy})
endforeach()
foreach(name cloud_sun_intensity_table.txt cloud_centers_plot.txt shapes.dss)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/seed-a/${name} ${WORK}/seed-b/${name} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "the same seed gave another ${name}")
  endif()
endforeach()
file(SHA256 ${WORK}/seed-a/cloud_sun_intensity_table.txt before)
refused("is there already; give --force" "" ${CLOUDS} --seed 42 ${WORK}/seed-a)
file(SHA256 ${WORK}/seed-a/cloud_sun_intensity_table.txt after)
if(NOT before STREQUAL after)
  message(FATAL_ERROR "a refused run changed the sun table")
endif()
run(0 ${CLOUDS} --force ${WORK}/seed-a)
# A new sky over a folder that holds a study says which of the study's files it made stale; the
# same sky again does not.
file(WRITE ${WORK}/seed-a/study.dss "! a study\n")
file(WRITE ${WORK}/seed-a/cloud_voltage_min_table.txt "x\n")
run(0 ${CLOUDS} --force --seed 7 ${WORK}/seed-a)
if(NOT err MATCHES "warning: study.dss and cloud_voltage_min_table.txt in [^\n]*seed-a are of the sky before: write the study again")
  message(FATAL_ERROR "a new sky over a study said:\n${err}")
endif()
# Every file the study made, its slices and the reports of its controls among them.
foreach(made cloud_voltage_max_table.txt voltage_report.csv voltage_report_clear.csv controls_report.csv
        cloud_controls_table.txt slices_report.csv)
  file(WRITE ${WORK}/seed-a/${made} "x\n")
endforeach()
file(MAKE_DIRECTORY ${WORK}/seed-a/results ${WORK}/seed-a/slices)
run(0 ${CLOUDS} --force --seed 8 ${WORK}/seed-a)
if(NOT err MATCHES "warning: study.dss, results, slices, cloud_voltage_min_table.txt, cloud_voltage_max_table.txt, voltage_report.csv, voltage_report_clear.csv, controls_report.csv, cloud_controls_table.txt and slices_report.csv in [^\n]*seed-a are of the sky before")
  message(FATAL_ERROR "a new sky over a study said:\n${err}")
endif()
run(0 ${CLOUDS} --force --seed 8 ${WORK}/seed-a)
if(err MATCHES "of the sky before")
  message(FATAL_ERROR "the same sky again was taken for a new one:\n${err}")
endif()

refused("no-network holds no network .cloud_bus_coords_connections.txt.: make it with umbrascope-import CIRCUIT.dss" ${WORK}/no-network/cloud_centers_plot.txt
        ${CLOUDS} ${WORK}/no-network)
refused("--clouds does not go with --from-track" "" ${CLOUDS} --clouds 2 --from-track x.txt ${WORK}/example)
refused("--wind takes SPEED,FROM" "" ${CLOUDS} --wind 3 ${WORK}/example)
refused("has 2913 factors for 3000 rows" "" ${CLOUDS} --force --steps 3000
        --clear-sky ${feeders}/ieee8500/Normalized-1s-2900-pts.CSV --loadshapes ${WORK}/example/shapes.dss ${WORK}/example)
refused("--clear-sky gives the loadshapes the sun's course" "" ${CLOUDS} --force
        --clear-sky ${feeders}/ieee8500/Normalized-1s-2900-pts.CSV ${WORK}/example)
# The sun's course: a place on the globe and a day of the calendar, or one line.
refused("--site takes LAT,LON or LAT,LON,ELEVATION: degrees north from -90 to 90.*not '91,0'" "" ${CLOUDS} --force
        --site 91,0 --date 2026-01-01 ${WORK}/example)
refused("--site takes LAT,LON.*not '39.7,-181'" "" ${CLOUDS} --force --site 39.7,-181 --date 2026-01-01 ${WORK}/example)
refused("--date takes a day of the calendar as YYYY-MM-DD, from 1900 to 2100, not '2026-02-29'" "" ${CLOUDS} --force
        --site 39.7,-105 --date 2026-02-29 ${WORK}/example)
refused("--site needs --date YYYY-MM-DD" "" ${CLOUDS} --force --site 39.7,-105 ${WORK}/example)
refused("--linke-turbidity goes with --site LAT,LON" "" ${CLOUDS} --force --linke-turbidity 3 ${WORK}/example)
refused("--clear-sky and --site are two clear skies: give one" "" ${CLOUDS} --force --site 39.7,-105 --date 2026-01-01
        --clear-sky ${feeders}/ieee8500/Normalized-1s-2900-pts.CSV --loadshapes ${WORK}/example/shapes.dss ${WORK}/example)
refused("--utc-offset takes \\+HH:MM or -HH:MM" "" ${CLOUDS} --force --site 39.7,-105 --date 2026-01-01 --utc-offset 6
        ${WORK}/example)
# A polar night is warned of; the course is written, and goes again with a sky made without it.
run(0 ${CLOUDS} --force --steps 48 --interval 1800 --site 69.65,18.96 --date 2026-12-21 --utc-offset +01:00
    --linke-turbidity 3 --loadshapes ${WORK}/example/shapes.dss ${WORK}/example)
file(STRINGS ${WORK}/example/cloud_clear_sky.csv course)
list(LENGTH course course_lines)
list(GET course 0 course_head)
if(NOT err MATCHES "warning: the sun stays below the horizon all day at 69.65,18.96 on 2026-12-21 \\(a polar night\\)"
   OR NOT out MATCHES "by Ineichen-Perez \\(2002\\), Linke turbidity 3" OR NOT course_lines EQUAL 49
   OR NOT course_head STREQUAL "row,time,zenith_deg,azimuth_deg,clear_sky_w_m2")
  message(FATAL_ERROR "a polar night:\n${out}${err}\n${course_head} (${course_lines} lines)")
endif()
run(0 ${CLOUDS} --force --steps 48 ${WORK}/example)
if(EXISTS ${WORK}/example/cloud_clear_sky.csv)
  message(FATAL_ERROR "the course of the sky before was left beside a sky made without one")
endif()
# A table whose last row cannot be run is never written; numbers are numbers.
refused("--steps takes a whole number from 1 to 1000000, not '1000001'" "" ${CLOUDS} --force --steps 1000001 ${WORK}/example)
refused("--wind takes SPEED,FROM: two numbers.*not '200deg,5'" "" ${CLOUDS} --force --wind 200deg,5 ${WORK}/example)
refused("--core takes a number .*not '500m'" "" ${CLOUDS} --force --core 500m ${WORK}/example)
refused("--units takes ft, m or km" "" ${CLOUDS} --force --units yards ${WORK}/example)
run(0 ${CLOUDS} --help)

# The 8500-node feeder's elements file: a line for each of its 1177 loads, each with a drawn bus.
file(STRINGS ${WORK}/8500/feeder_elements.csv elements)
list(LENGTH elements count)
list(GET elements 0 header)
list(FILTER elements INCLUDE REGEX ",$")
if(NOT count EQUAL 1178 OR NOT header STREQUAL "element,bus,drawn_bus" OR elements)
  message(FATAL_ERROR "feeder_elements.csv of the 8500-node feeder: ${count} lines, '${header}', unplaced: ${elements}")
endif()

# A Redirect chain two files deep, the second named in another letter case, resolves from the
# folder of the file that names it whatever the form of the entry: a bare name from its own folder,
# ./, an absolute path, and a symbolic link from elsewhere.
file(MAKE_DIRECTORY ${WORK}/chain/ckt ${WORK}/chain/elsewhere)
file(WRITE ${WORK}/chain/ckt/top.dss "Redirect Mid.DSS\nBuscoords xy.csv\n")
file(WRITE ${WORK}/chain/ckt/mid.dss "New Line.a bus1=a bus2=b\nRedirect sub/LEAF.dss\n")
file(MAKE_DIRECTORY ${WORK}/chain/ckt/sub)
file(WRITE ${WORK}/chain/ckt/sub/leaf.dss "New Line.b bus1=b bus2=c\n")
file(WRITE ${WORK}/chain/ckt/xy.csv "a,0,0\nb,1,0\nc,2,1\n")
file(CREATE_LINK ${WORK}/chain/ckt/top.dss ${WORK}/chain/elsewhere/linked.dss SYMBOLIC)
foreach(entry "ckt;top.dss" "ckt;./top.dss" "elsewhere;${WORK}/chain/ckt/top.dss" "elsewhere;linked.dss")
  list(GET entry 0 from)
  list(GET entry 1 name)
  file(REMOVE_RECURSE ${WORK}/chain/out)
  execute_process(COMMAND ${IMPORTER} ${name} ${WORK}/chain/out WORKING_DIRECTORY ${WORK}/chain/${from}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(READ ${WORK}/chain/out/cloud_bus_coords_connections.txt network)
  if(NOT status EQUAL 0 OR NOT network MATCHES "bus_connections[^\n]*\n1,2\n2,3\n$")
    message(FATAL_ERROR "the chain entered as ${name} from ${from}: status ${status}\n${out}${err}${network}")
  endif()
endforeach()

# Importing into a scenario's folder is refused, naming its files; --force replaces the network
# and says the scenario must be made again.
file(COPY ${WORK}/example/cloud_sun_intensity_table.txt DESTINATION ${WORK}/scenario)
file(WRITE ${WORK}/scenario/cloud_centers_plot.txt "a track\n")
refused("scenario holds cloud_sun_intensity_table.txt and cloud_centers_plot.txt, made for the network there: give --force"
        ${WORK}/scenario/cloud_bus_coords_connections.txt ${IMPORTER} ${feeders}/ieee8500/Master.dss ${WORK}/scenario)
run(0 ${IMPORTER} --force ${feeders}/ieee8500/Master.dss ${WORK}/scenario)
if(NOT err MATCHES "warning: cloud_sun_intensity_table.txt and cloud_centers_plot.txt in [^\n]*scenario were made for the network it held before: make them again with umbrascope-clouds --force"
   OR NOT out MATCHES "Next: umbrascope-clouds --force ")
  message(FATAL_ERROR "--force into a scenario's folder said:\n${out}${err}")
endif()
# The same network again: the scenario still fits, and nothing says otherwise.
run(0 ${IMPORTER} --force ${feeders}/ieee8500/Master.dss ${WORK}/scenario)
if(err MATCHES "warning" OR out MATCHES "--force")
  message(FATAL_ERROR "the same network again into a scenario's folder said:\n${out}${err}")
endif()

# Degrees: Buscoords holding longitude and latitude is warned of, and --lonlat makes it the very
# network file that LatLongCoords makes of the same buses latitude first; --latlon likewise.
file(MAKE_DIRECTORY ${WORK}/geo)
file(WRITE ${WORK}/geo/lines.dss "New Line.a bus1=a bus2=b\nNew Line.b bus1=b bus2=c\n")
file(WRITE ${WORK}/geo/lonlat.csv "a, -105.1712, 39.7402\nb, -105.1689, 39.7411\nc, -105.1665, 39.7398\n")
file(WRITE ${WORK}/geo/latlon.csv "a, 39.7402, -105.1712\nb, 39.7411, -105.1689\nc, 39.7398, -105.1665\n")
file(WRITE ${WORK}/geo/geo.dss "Redirect lines.dss\nLatLongCoords latlon.csv\n")
# Each order suggests the option that fits it: a longitude past 90 can only be one of the two.
run(0 ${IMPORTER} --coords ${WORK}/geo/lonlat.csv ${WORK}/geo/lines.dss ${WORK}/geo/plain)
if(NOT err MATCHES "warning: the coordinates of [^\n]*lonlat.csv look like longitude and latitude .*give --lonlat, x being the longitude")
  message(FATAL_ERROR "degrees, longitude first, were not named:\n${err}")
endif()
run(0 ${IMPORTER} --force --coords ${WORK}/geo/latlon.csv ${WORK}/geo/lines.dss ${WORK}/geo/plain)
if(NOT err MATCHES "warning: the coordinates of [^\n]*latlon.csv look like latitude and longitude .*give --latlon, x being the latitude")
  message(FATAL_ERROR "degrees, latitude first, were not named:\n${err}")
endif()
file(WRITE ${WORK}/geo/europe.csv "a, 10.1712, 50.7402\nb, 10.1689, 50.7411\nc, 10.1665, 50.7398\n")
run(0 ${IMPORTER} --force --coords ${WORK}/geo/europe.csv ${WORK}/geo/lines.dss ${WORK}/geo/plain)
if(NOT err MATCHES "give --lonlat if x is the longitude, --latlon if it is the latitude")
  message(FATAL_ERROR "degrees of either order were not named so:\n${err}")
endif()
run(0 ${IMPORTER} ${WORK}/geo/geo.dss ${WORK}/geo/latlong)
if(NOT out MATCHES "were degrees: the network is in metres")
  message(FATAL_ERROR "a LatLongCoords import did not say it is in metres:\n${out}")
endif()
run(0 ${IMPORTER} --lonlat --coords ${WORK}/geo/lonlat.csv ${WORK}/geo/geo.dss ${WORK}/geo/lonlat)
run(0 ${IMPORTER} --latlon --coords ${WORK}/geo/latlon.csv ${WORK}/geo/geo.dss ${WORK}/geo/latlon)
foreach(converted lonlat latlon)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/geo/latlong/cloud_bus_coords_connections.txt
                          ${WORK}/geo/${converted}/cloud_bus_coords_connections.txt RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "--${converted} gave another network file than LatLongCoords")
  endif()
endforeach()
refused("give --lonlat or --latlon, not both" "" ${IMPORTER} --lonlat --latlon ${WORK}/geo/geo.dss ${WORK}/geo/both)

# Metres and m/s on a feeder in feet: a wind of 10 m/s from the west moves every cloud 100 m,
# 328.084 ft, east in a row of 10 s, and a core of 500 m is 1640.42 ft in the track.
file(MAKE_DIRECTORY ${WORK}/feet)
file(COPY ${WORK}/8500/cloud_bus_coords_connections.txt DESTINATION ${WORK}/feet)
run(0 ${CLOUDS} --units ft --wind 10,270 --interval 10 --core 500 --clouds 2 --steps 5 ${WORK}/feet)
if(NOT out MATCHES "The feeder is [0-9.]+ km across; the clouds' cores are 500 m and their edges [0-9]+ m in radius; on a wind of 10 m/s the sky crosses the feeder's [0-9.]+ km along the wind in [0-9.]+ min")
  message(FATAL_ERROR "the sizes in metres:\n${out}")
endif()
file(STRINGS ${WORK}/feet/cloud_centers_plot.txt track)
list(GET track 3 parameters)
if(NOT parameters MATCHES "^shape,network units,-,[0-9.]+,1640.42,")
  message(FATAL_ERROR "--core 500 with --units ft: ${parameters}")
endif()
# Record n and record n + 2 are one cloud a row apart: x grows by 328.08 (two decimals), y stays.
execute_process(COMMAND awk -F, "NR > 4 { n++; x[n] = $2; y[n] = $3 } END { for (i = 3; i <= n; i++) { d = x[i] - x[i - 2]; if (d < 328.07 || d > 328.10 || y[i] != y[i - 2]) { print i, d; exit 1 } } exit n != 10 }"
                        ${WORK}/feet/cloud_centers_plot.txt RESULT_VARIABLE moved OUTPUT_VARIABLE moved_out)
if(moved)
  message(FATAL_ERROR "the clouds did not move 328.08 ft east a row: ${moved_out}")
endif()

# PV systems on their own sunlight: a measured series over a small feeder, each PV system edited to
# the loadshape of the drawn bus that stands for it.
file(MAKE_DIRECTORY ${WORK}/pv)
file(WRITE ${WORK}/pv/ckt.dss "New Line.l1 bus1=a bus2=End\nNew Transformer.t buses=[end.1 x.1]\n"
           "New PVSystem.Roof1 bus1=x.1 kVA=5\nNew PVSystem.pv2 bus1=a\nNew Load.ld bus1=x\nBuscoords xy.csv\n")
file(WRITE ${WORK}/pv/xy.csv "a 0 0\nEnd 100 0\n")
file(WRITE ${WORK}/pv/sensor.csv "time,W/m2\n0,500\n1,900\n2,1000\n")
run(0 ${IMPORTER} ${WORK}/pv/ckt.dss ${WORK}/pv/feeder)
run(0 ${CLOUDS} --units m --wind 50,270 --from-sensor ${WORK}/pv/sensor.csv --sensor-interval 1 --sensor-scale 1000
    --sensor-at a --loadshapes ${WORK}/pv/shapes.dss ${WORK}/pv/feeder)
file(READ ${WORK}/pv/shapes.dss shapes)
file(READ ${WORK}/pv/feeder/cloud_sun_intensity_table.txt sun)
# The end 100 m downwind sees the sensor's sky 2 s later: its first sample until then.
if(NOT shapes MATCHES "New Loadshape.sky_a npts=3 sinterval=1 mult=\\[0.5 0.9 1\\]\nNew Loadshape.sky_End npts=3 sinterval=1 mult=\\[0.5 0.5 0.5\\]\n"
   OR NOT shapes MATCHES "\nEdit PVSystem.Roof1 daily=sky_End duty=sky_End\nEdit PVSystem.pv2 daily=sky_a duty=sky_a\n$"
   OR NOT sun MATCHES "\n0,0.5,0.5\n1,0.9,0.5\n2,1,0.5\n$"
   OR NOT out MATCHES "gives each of the circuit's 2 PV systems its drawn bus's loadshape")
  message(FATAL_ERROR "PV systems on their own sunlight:\n${out}\n${sun}\n${shapes}")
endif()
# A bus named with a blank, as a bus table may name it, is one word in the loadshapes; a network
# without PV systems says how to attach them.
file(WRITE ${WORK}/pv/buses.csv "name,x,y\nPlant,0,0\n\"Feeder end\",3,1\n")
file(WRITE ${WORK}/pv/branches.csv "Plant,Feeder end\n")
run(0 ${IMPORTER} --buses ${WORK}/pv/buses.csv --branches ${WORK}/pv/branches.csv ${WORK}/pv/tables)
run(0 ${CLOUDS} --steps 3 --loadshapes ${WORK}/pv/tables.dss ${WORK}/pv/tables)
file(READ ${WORK}/pv/tables.dss shapes)
if(NOT shapes MATCHES "\nNew \"Loadshape.sky_Feeder end\" npts=3 " OR NOT shapes MATCHES "! The circuit has no PV systems")
  message(FATAL_ERROR "a name with a blank in the loadshapes:\n${shapes}")
endif()
refused("--from-sensor needs --units" "" ${CLOUDS} --force --from-sensor ${WORK}/pv/sensor.csv ${WORK}/pv/feeder)
refused("--sensor-at nowhere: no bus of that name" "" ${CLOUDS} --force --units m --wind 5,270 --from-sensor ${WORK}/pv/sensor.csv
        --sensor-interval 1 --sensor-at nowhere ${WORK}/pv/feeder)
refused("one-day-1s-site1.csv: 43200 s of the series make 4320001 rows at 0.01 s a row: past the 1000000 rows a sky may have; give --interval 1 "
        "" ${CLOUDS} --force --units m --wind 5,270 --from-sensor ${SOURCE}/tests/data/sky/one-day-1s-site1.csv --sensor-interval 1
        --interval 0.01 --sensor-scale 1000 ${WORK}/pv/feeder)
refused("one-day-1s-site1.csv reaches 499.68, while 1 is a clear sky: give --sensor-scale X" "" ${CLOUDS} --force --units m
        --wind 5,270 --from-sensor ${SOURCE}/tests/data/sky/one-day-1s-site1.csv --sensor-interval 2 ${WORK}/pv/feeder)
refused("is a folder: give the circuit's entry file in it" "" ${IMPORTER} ${feeders}/ieee8500 ${WORK}/folder)
refused("give an OpenDSS circuit file and the output FOLDER, not 3 names" "" ${IMPORTER} a.dss b c)
