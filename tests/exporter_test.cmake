# Runs umbrascope-export as a script would, and checks its exit status, its frames and its trace.
# Expects EXPORTER, SOURCE and WORK.

function(expect_run expected_status)
  execute_process(COMMAND ${EXPORTER} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL expected_status)
    message(FATAL_ERROR "umbrascope-export ${ARGN}: exit status ${status}, expected ${expected_status}\n${out}${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ENV{QT_QPA_PLATFORM} "")  # needs no display

# A whole run: one frame of each format per pass, and the golden trace.
set(case ${SOURCE}/tests/data/golden/two-buses)
expect_run(0 --input ${case} --output ${WORK}/frames --format both --trace ${WORK}/trace.txt)
foreach(frame frame-0001.png frame-0003.png frame-0001.svg frame-0003.svg)
  if(NOT EXISTS ${WORK}/frames/${frame})
    message(FATAL_ERROR "missing ${frame}")
  endif()
endforeach()
if(EXISTS ${WORK}/frames/frame-0004.png)
  message(FATAL_ERROR "a frame too many")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/trace.txt ${case}/expected.trace RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "the exporter's trace differs from ${case}/expected.trace")
endif()

# The last line tells what was written: every frame counted.
execute_process(COMMAND ${EXPORTER} --input ${case} --output ${WORK}/counted RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out MATCHES "wrote 3 PNG frames in ${WORK}/counted \\(frame-0001 to frame-0003, ")
  message(FATAL_ERROR "the last line does not count the 3 frames written:\n${out}")
endif()

# A sky made for another network is refused before the first pass: exit 2, one line, no frame.
# The header names buses a, b and d; the network holds a, b and c: as many, but another.
file(MAKE_DIRECTORY ${WORK}/othersky/input)
file(WRITE ${WORK}/othersky/input/cloud_bus_coords_connections.txt
     "bus_coordinates\n1,a,0,0\n2,b,1,0\n3,c,2,0\nbus_connections\n1,2\n2,3\n")
file(WRITE ${WORK}/othersky/input/cloud_sun_intensity_table.txt
     "Sun intensity per bus\nMade by umbrascope-clouds from the clouds of t.txt\nClear-sky index\n"
     "One row every 10 seconds\nColumns: time in seconds, then one intensity per bus index\ntime,a,b,d\n0,1,1,1\n10,1,1,1\n")
file(COPY ${case}/cloud_centers_plot.txt DESTINATION ${WORK}/othersky/input)
execute_process(COMMAND ${EXPORTER} --input ${WORK}/othersky/input --output ${WORK}/othersky/frames
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT status EQUAL 2 OR NOT err MATCHES "made for another network: .*its bus 3 is d where the network's is c" OR
   EXISTS ${WORK}/othersky/frames)
  message(FATAL_ERROR "a sky of another network was not refused with status 2 and nothing written: ${status}\n${err}")
endif()

# --passes stops early; the trace may go to standard output.
expect_run(0 --input ${case} --output ${WORK}/two --passes 2 --trace -)
if(EXISTS ${WORK}/two/frame-0003.png OR NOT EXISTS ${WORK}/two/frame-0002.png)
  message(FATAL_ERROR "--passes 2 did not stop after two frames")
endif()

expect_run(1 --input ${SOURCE}/tests/data/golden/missing-network --output ${WORK}/missing)
expect_run(2 --format gif)
expect_run(2 --passes 0)
expect_run(2 --no-such-option)
expect_run(2 --input ${case} --output /proc/umbrascope-cannot-write-here)
expect_run(2 --input ${WORK}/no-such-folder)
expect_run(2 --input ${case} --output=)
expect_run(2 --input ${case} --trace=)
expect_run(0 --help)
expect_run(0 --version)
expect_run(0 --input=${case} --output=${WORK}/equals --passes=1)
if(NOT EXISTS ${WORK}/equals/frame-0001.png)
  message(FATAL_ERROR "--option=value was not taken")
endif()

# A write that fails stops the run with exit status 2, names the file and the reason, and leaves
# nothing half-written under a final name.
function(expect_write_failure what expected_text)
  execute_process(COMMAND ${EXPORTER} ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT status EQUAL 2 OR NOT err MATCHES "${expected_text}")
    message(FATAL_ERROR "${what}: exit status ${status}, expected 2 and '${expected_text}'; it said:\n${err}")
  endif()
endfunction()
if(EXISTS /dev/full)
  expect_write_failure("a trace on a full disk" "cannot write /dev/full: No space left on device"
                       --input ${case} --output ${WORK}/full --trace /dev/full)
  file(MAKE_DIRECTORY ${WORK}/linked)
  file(CREATE_LINK /dev/full ${WORK}/linked/frame-0002.png SYMBOLIC)
  expect_write_failure("a frame linked to a full disk" "frame-0002.png: No space left on device"
                       --input ${case} --output ${WORK}/linked --trace ${WORK}/linked/run.trace)
  file(GLOB left ${WORK}/linked/*)
  list(SORT left)
  if(NOT left STREQUAL "${WORK}/linked/frame-0001.png;${WORK}/linked/frame-0002.png")
    message(FATAL_ERROR "a failed run left more than its first frame: ${left}")
  endif()
endif()

# Repeated errors are counted once at the end; frames from a longer earlier run are noted. A huge
# circle radius fails every cloud of step 2 alike, and each failed pass leaves the timer running.
file(COPY ${case}/cloud_bus_coords_connections.txt ${case}/cloud_sun_intensity_table.txt DESTINATION ${WORK}/repeats)
file(WRITE ${WORK}/repeats/cloud_centers_plot.txt "t\nt\nt\nx,x,x,1,3e38,1,x,0,0.5,\n2,1,2\n2,1,2\n2,1,2\n")
execute_process(COMMAND ${EXPORTER} --input ${WORK}/repeats --output ${WORK}/frames --keep-going
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
string(REGEX MATCHALL "pass [0-9]+: " reported "${err}")
list(LENGTH reported distinct)
if(NOT status EQUAL 1 OR NOT distinct EQUAL 1 OR NOT err MATCHES "3 passes failed, with 1 distinct error:\n  3 x fpfault error")
  message(FATAL_ERROR "repeated errors: status ${status}\n${err}")
endif()
execute_process(COMMAND ${EXPORTER} --input ${case} --output ${WORK}/frames --passes 1 ERROR_VARIABLE err)
if(NOT err MATCHES "frames also holds 7 frame files from an earlier run, from frame-0002 on; they were left")
  message(FATAL_ERROR "no note of the earlier run's frames:\n${err}")
endif()

# Numbers in the files use the point whatever the locale: the trace is the same under de_DE.
file(MAKE_DIRECTORY ${WORK}/locale)
execute_process(COMMAND localedef -i de_DE -f UTF-8 ${WORK}/locale/de_DE.UTF-8 RESULT_VARIABLE ignored
                OUTPUT_QUIET ERROR_QUIET)
if(EXISTS ${WORK}/locale/de_DE.UTF-8/LC_NUMERIC)
  set(example ${SOURCE}/examples/ieee13)
  expect_run(0 --input ${example} --output ${WORK}/c --format svg --passes 3 --trace ${WORK}/c.trace)
  # glibc keeps a little memory for a LOCPATH locale, which LeakSanitizer would count.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LOCPATH=${WORK}/locale LC_ALL=de_DE.UTF-8 ASAN_OPTIONS=detect_leaks=0
                          ${EXPORTER} --input ${example} --output ${WORK}/de --format svg --passes 3
                          --trace ${WORK}/de.trace RESULT_VARIABLE status)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/c.trace ${WORK}/de.trace RESULT_VARIABLE differs)
  if(NOT status EQUAL 0 OR differs)
    message(FATAL_ERROR "under a comma-decimal locale the example's run differs (status ${status})")
  endif()
else()
  message(STATUS "no comma-decimal locale could be made; the locale check is skipped")
endif()

# The folders named for an animation and a trace are made as the output folder is.
expect_run(0 --input ${case} --animation ${WORK}/new/run.gif --trace ${WORK}/new/deeper/run.trace)
if(NOT EXISTS ${WORK}/new/run.gif OR NOT EXISTS ${WORK}/new/deeper/run.trace)
  message(FATAL_ERROR "the animation and trace folders were not made")
endif()
expect_run(2 --input ${case} --animation ${WORK}/run.avi)

# --rows A:B writes just the frames of passes A to B, each byte for byte the whole run's frame,
# at the classic size and at another.
set(example ${SOURCE}/examples/ieee13)
foreach(size classic 1280x720)
  set(sized)
  if(NOT size STREQUAL classic)
    set(sized --size ${size})
  endif()
  expect_run(0 --input ${example} --output ${WORK}/whole-${size} --passes 61 --labels --annotate ${sized})
  expect_run(0 --input ${example} --output ${WORK}/rows-${size} --rows 50:60 --labels --annotate ${sized})
  file(GLOB written RELATIVE ${WORK}/rows-${size} ${WORK}/rows-${size}/*)
  list(LENGTH written count)
  if(NOT count EQUAL 11 OR NOT EXISTS ${WORK}/rows-${size}/frame-0050.png OR NOT EXISTS ${WORK}/rows-${size}/frame-0060.png)
    message(FATAL_ERROR "--rows 50:60 (${size}) wrote ${written}")
  endif()
  foreach(frame ${written})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/rows-${size}/${frame} ${WORK}/whole-${size}/${frame}
                    RESULT_VARIABLE differs)
    if(differs)
      message(FATAL_ERROR "--rows 50:60 (${size}): ${frame} differs from the whole run's")
    endif()
  endforeach()
endforeach()
file(READ ${WORK}/rows-1280x720/frame-0050.png header LIMIT 24 HEX)
if(NOT header MATCHES "00000500000002d0$")  # the IHDR's width and height: 1280 x 720
  message(FATAL_ERROR "--size 1280x720 wrote a frame of another size: ${header}")
endif()
expect_run(2 --input ${case} --size 5000x100)
expect_run(2 --input ${case} --size 1920)
expect_run(2 --input ${case} --rows 9:3)
# A sun table of 32769 rows (the header's last line is a row too), past what a run holds.
file(MAKE_DIRECTORY ${WORK}/long)
file(COPY ${case}/cloud_bus_coords_connections.txt ${case}/cloud_centers_plot.txt DESTINATION ${WORK}/long)
file(READ ${case}/cloud_sun_intensity_table.txt classic)
string(REGEX MATCH "^([^\n]*\n)([^\n]*\n)([^\n]*\n)([^\n]*\n)([^\n]*\n)([^\n]*\n)([^\n]*\n)" head "${classic}")
string(REGEX REPLACE "^([^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n)([^\n]*\n)$" "\\2" row "${head}")
string(REPEAT "${row}" 32768 rows)
string(REGEX REPLACE "^(([^\n]*\n){6}).*$" "\\1" header "${head}")
file(WRITE ${WORK}/long/cloud_sun_intensity_table.txt "${header}${rows}")
# A sun table past the rows a run holds, with --large: a part of it, numbered as the whole sky.
execute_process(COMMAND ${EXPORTER} --input ${WORK}/long --large --passes 1 --output ${WORK}/long/frames
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT status EQUAL 2 OR NOT err MATCHES "has 32769 rows, more than a run holds \\(32766\\): give --rows A:B")
  message(FATAL_ERROR "a sun table of 32769 rows with --large and no --rows: status ${status}, ${err}")
endif()
execute_process(COMMAND ${EXPORTER} --input ${WORK}/long --large --rows 32767:32769 --output ${WORK}/long/frames
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "wrote 3 PNG frames in [^\n]*\\(frame-32767 to frame-32769, "
   OR NOT EXISTS ${WORK}/long/frames/frame-32769.png OR EXISTS ${WORK}/long/frames/frame-0001.png)
  message(FATAL_ERROR "rows 32767 to 32769 of a long sky: status ${status}, ${out}${err}")
endif()
execute_process(COMMAND ${EXPORTER} --input ${WORK}/long --large --rows 32700:32769 --animation ${WORK}/long/part.html
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "the page [^\n]*part.html \\(rows 32700 to 32769 of the sky, ")
  message(FATAL_ERROR "a page of a part of a long sky: status ${status}, ${out}${err}")
endif()
# A run that ends at the first pass asked for wrote its frame, and says no more than that.
execute_process(COMMAND ${EXPORTER} --input ${case} --rows 3:9 --output ${WORK}/last-only
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR err MATCHES "no frame was written" OR NOT EXISTS ${WORK}/last-only/frame-0003.png)
  message(FATAL_ERROR "--rows 3:9 of a run of 3 rows: status ${status}, ${out}${err}")
endif()
# As many rows as a run holds is one run, no part: it needs no --rows.
file(MAKE_DIRECTORY ${WORK}/fits)
file(COPY ${case}/cloud_bus_coords_connections.txt ${case}/cloud_centers_plot.txt DESTINATION ${WORK}/fits)
string(REPEAT "${row}" 32765 fitting)
file(WRITE ${WORK}/fits/cloud_sun_intensity_table.txt "${header}${fitting}")
execute_process(COMMAND ${EXPORTER} --input ${WORK}/fits --large --passes 2 --output ${WORK}/fits/frames
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT EXISTS ${WORK}/fits/frames/frame-0002.png)
  message(FATAL_ERROR "a sky of 32766 rows with --large: status ${status}, ${out}${err}")
endif()
# A failed pass of a part names the whole sky's row and the folder's own line, and a page made
# before stays as it was.
file(MAKE_DIRECTORY ${WORK}/long-bad)
file(COPY ${WORK}/long/cloud_bus_coords_connections.txt ${WORK}/long/cloud_centers_plot.txt DESTINATION ${WORK}/long-bad)
string(REPEAT "${row}" 32759 before_bad)  # the header carries the first row
file(WRITE ${WORK}/long-bad/cloud_sun_intensity_table.txt "${header}${before_bad}0,1,x\n${row}${row}${row}${row}${row}${row}${row}${row}")
file(COPY ${WORK}/long/part.html DESTINATION ${WORK}/long-bad)
file(READ ${WORK}/long-bad/part.html page_before)
execute_process(COMMAND ${EXPORTER} --input ${WORK}/long-bad --large --rows 32700:32769 --animation ${WORK}/long-bad/part.html
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
file(READ ${WORK}/long-bad/part.html page_after)
if(NOT status EQUAL 1 OR NOT err MATCHES "row 32761: conversion error: cloud_sun_intensity_table.txt line 32767, field 3"
   OR NOT page_before STREQUAL page_after)
  message(FATAL_ERROR "a bad row in a part of a long sky: status ${status}, ${err}")
endif()
# A page holds such a sky whole, its parts run one after another.
execute_process(COMMAND ${EXPORTER} --input ${WORK}/long --large --animation ${WORK}/long/whole.html
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "wrote the page [^\n]*whole.html \\(32769 rows, ")
  message(FATAL_ERROR "a page of a whole long sky: status ${status}, ${out}${err}")
endif()
execute_process(COMMAND ${EXPORTER} --input ${WORK}/long --large --animation ${WORK}/long/traced.html --trace ${WORK}/long/t.txt
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT status EQUAL 2 OR NOT err MATCHES "--trace follows one run" OR EXISTS ${WORK}/long/traced.html OR EXISTS ${WORK}/long/t.txt)
  message(FATAL_ERROR "a traced page of a whole long sky: status ${status}, ${err}")
endif()
foreach(refused "1:32767|is 32767 rows, more than a run holds \\(32766\\)"
                "5:40000|reaches past the sun table's last row, 32769")
  string(REPLACE "|" ";" refused "${refused}")
  list(GET refused 0 rows)
  list(GET refused 1 said)
  execute_process(COMMAND ${EXPORTER} --input ${WORK}/long --large --rows ${rows} --output ${WORK}/long/refused
                  RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT status EQUAL 2 OR NOT err MATCHES "${said}" OR EXISTS ${WORK}/long/refused)
    message(FATAL_ERROR "--rows ${rows} of a sky of 32769 rows: status ${status}, ${err}")
  endif()
endforeach()
execute_process(COMMAND ${EXPORTER} --input ${WORK}/long --large --rows 32700:32769 --passes 5 --output ${WORK}/long/refused
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT status EQUAL 2 OR NOT err MATCHES "--passes 5 ends the run before row 32700" OR EXISTS ${WORK}/long/refused)
  message(FATAL_ERROR "--passes before --rows' first row of a long sky: status ${status}, ${err}")
endif()
execute_process(COMMAND ${EXPORTER} --input ${case} --rows 1:40000 RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT status EQUAL 2 OR NOT err MATCHES "past that only of a sun table longer than a run, with --large")
  message(FATAL_ERROR "--rows past 32767 of a short sky: status ${status}, ${err}")
endif()
# A page holds the run from its first row: --rows past it is refused, and no page is written.
execute_process(COMMAND ${EXPORTER} --input ${case} --rows 2:3 --animation ${WORK}/rows-page.html
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT status EQUAL 2 OR NOT err MATCHES "a page holds the run from its first row: give --passes N" OR EXISTS ${WORK}/rows-page.html)
  message(FATAL_ERROR "--rows with a page: status ${status}, ${err}")
endif()

# Warnings: a network 2.5 units across, a sun row short of values and one with a decimal comma are
# told once each, with a total at the end; the run and its exit status are as without them.
file(MAKE_DIRECTORY ${WORK}/warned)
file(COPY ${case}/cloud_bus_coords_connections.txt ${case}/cloud_centers_plot.txt DESTINATION ${WORK}/warned)
file(WRITE ${WORK}/warned/cloud_sun_intensity_table.txt "h1\nh2\nh3\nh4\nh5\nh6\n0,1,0.5\n10,0.5\n20,0,93,0,5\n30,0.5\n")
execute_process(COMMAND ${EXPORTER} --input ${WORK}/warned --output ${WORK}/warned/frames
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
string(REGEX MATCHALL "warning: " warnings "${err}")
list(LENGTH warnings count)
if(NOT status EQUAL 0 OR NOT count EQUAL 3 OR NOT err MATCHES "the network is 2.5 units across, drawn at 71 % of the frame"
   OR NOT err MATCHES "line 8: 1 value for 2 buses; the missing ones count as 0 \\(1 more row like it, the last on line 10\\)"
   OR NOT err MATCHES "line 9: 4 values for 2 buses: a decimal comma\\?"
   OR NOT err MATCHES "3 warnings, above: the run went on as the files say")
  message(FATAL_ERROR "warnings: status ${status}, ${count} warnings:\n${err}")
endif()
expect_run(2 --input ${case} --fps 5)  # a pace without an animation

# Ctrl+C during a film: exit status 130, a word on how far it got, and no temporary file left.
# (timeout signals the program and then its process group: the second signal ends it at once.)
find_program(TIMEOUT timeout)
if(TIMEOUT)
  file(MAKE_DIRECTORY ${WORK}/interrupted)
  execute_process(COMMAND ${TIMEOUT} --preserve-status -s INT 1 ${EXPORTER} --input ${example} --size 3840x2160
                          --annotate --animation ${WORK}/interrupted/film.mp4
                  RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
  file(GLOB left ${WORK}/interrupted/* ${WORK}/interrupted/.*)
  if(NOT status EQUAL 130 OR left OR NOT err MATCHES
     "(interrupted after pass [0-9]+ of 120; [^\n]*/film.mp4 was not made\n|stopped at once)")
    message(FATAL_ERROR "Ctrl+C: status ${status}, left ${left}:\n${err}")
  endif()
endif()

# A run that fails replaces nothing: a network past the classic 25 buses fails its first pass
# without --large, and the film and the frame made with --large stay byte for byte, with no other
# file beside them. With --keep-going the failed passes are asked for, and the film is made.
set(big ${WORK}/big)
file(MAKE_DIRECTORY ${big}/input)
set(network "bus_coordinates\n")
set(sun "h1\nh2\nh3\nh4\nh5\nh6\n")
foreach(row RANGE 1 3)
  math(EXPR time "${row} * 10")
  string(APPEND sun "${time}")
  foreach(bus RANGE 1 30)
    string(APPEND sun ",0.5")
  endforeach()
  string(APPEND sun "\n")
endforeach()
foreach(bus RANGE 1 30)
  math(EXPR x "${bus} * 37 % 101")
  math(EXPR y "${bus} * 53 % 97")
  string(APPEND network "${bus},b${bus},${x},${y}\n")
endforeach()
string(APPEND network "bus_connections\n1,2\n")
file(WRITE ${big}/input/cloud_bus_coords_connections.txt "${network}")
file(WRITE ${big}/input/cloud_sun_intensity_table.txt "${sun}")
file(COPY ${case}/cloud_centers_plot.txt DESTINATION ${big}/input)
expect_run(0 --large --input ${big}/input --animation ${big}/good.mp4 --output ${big}/frames --format png)
file(COPY ${big}/good.mp4 ${big}/frames/frame-0001.png DESTINATION ${big}/before)
file(GLOB before RELATIVE ${big} ${big}/* ${big}/.* ${big}/frames/* ${big}/frames/.*)
execute_process(COMMAND ${EXPORTER} --input ${big}/input --animation ${big}/good.mp4 --output ${big}/frames --format png
                RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
file(GLOB after RELATIVE ${big} ${big}/* ${big}/.* ${big}/frames/* ${big}/frames/.*)
foreach(kept good.mp4 frames/frame-0001.png)
  get_filename_component(name ${kept} NAME)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${big}/${kept} ${big}/before/${name} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "a run failing at pass 1 replaced ${kept}")
  endif()
endforeach()
if(NOT status EQUAL 1 OR NOT before STREQUAL after OR NOT err MATCHES
   "run with --large.*stopped at the failed pass 1 \\(--keep-going goes on past it\\); no frame file was written; [^\n]*good.mp4 was not made \\(the file there before is as it was\\)")
  message(FATAL_ERROR "a run failing at pass 1: status ${status}, files before ${before}, after ${after}:\n${err}")
endif()
# A pass that fails later than the first replaces nothing either: the film stays as it was, and so
# does the frame file of the failed pass; the passes before it are written whole.
set(later ${WORK}/later)
expect_run(0 --input ${case} --animation ${later}/good.mp4 --output ${later}/frames --format png)
file(COPY ${later}/good.mp4 ${later}/frames/frame-0002.png DESTINATION ${later}/before)
execute_process(COMMAND ${EXPORTER} --input ${WORK}/repeats --animation ${later}/good.mp4 --output ${later}/frames
                        --format png RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
foreach(kept good.mp4 frames/frame-0002.png)
  get_filename_component(name ${kept} NAME)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${later}/${kept} ${later}/before/${name} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "a run failing at pass 2 replaced ${kept}")
  endif()
endforeach()
if(NOT status EQUAL 1 OR NOT err MATCHES "stopped at the failed pass 2 .*frames 1 to 1 are in [^\n]*good.mp4 was not made")
  message(FATAL_ERROR "a run failing at pass 2: status ${status}:\n${err}")
endif()
expect_run(1 --input ${big}/input --animation ${big}/kept-going.mp4 --keep-going)
if(NOT EXISTS ${big}/kept-going.mp4)
  message(FATAL_ERROR "--keep-going did not make the film of the failed passes")
endif()

# Killed during a film: the film already there stays whole, and nothing else is left, not even a
# hidden temporary file.
if(TIMEOUT)
  execute_process(COMMAND ${TIMEOUT} -s KILL 1 ${EXPORTER} --input ${example} --size 3840x2160 --annotate
                          --animation ${big}/good.mp4 RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  file(GLOB after RELATIVE ${big} ${big}/* ${big}/.* ${big}/frames/* ${big}/frames/.*)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${big}/good.mp4 ${big}/before/good.mp4 RESULT_VARIABLE differs)
  list(REMOVE_ITEM after kept-going.mp4)
  if(differs OR NOT before STREQUAL after)
    message(FATAL_ERROR "a killed export (status ${status}) changed the film or left files: before ${before}, after ${after}")
  endif()
endif()

# A page takes the study's voltages where the folder has them; tables made for a sky before the
# one there now are left out with a warning (and the page made), where a film by voltage is
# refused with nothing written.
set(stale ${WORK}/stale)
file(COPY ${example}/ DESTINATION ${stale})
foreach(table cloud_voltage_min_table.txt cloud_voltage_max_table.txt)
  file(WRITE ${stale}/${table} "Voltages\nMade for the sky fingerprint 0123456789abcdef\nc\nd\ne\ntime,650\n0,1.0000\n")
endforeach()
execute_process(COMMAND ${EXPORTER} --input ${stale} --animation ${stale}/study.html RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT EXISTS ${stale}/study.html
   OR NOT err MATCHES "the page leaves out the study's voltages: [^\n]*was made for another sky")
  message(FATAL_ERROR "a page over stale voltage tables: status ${status}\n${out}${err}")
endif()
file(READ ${stale}/study.html page)
if(NOT page MATCHES "\"voltages\":false")
  message(FATAL_ERROR "the page over stale voltage tables carries voltages")
endif()
expect_run(2 --input ${stale} --colour-by voltage --animation ${stale}/film.gif)
if(EXISTS ${stale}/film.gif)
  message(FATAL_ERROR "a film by stale voltages was written")
endif()
