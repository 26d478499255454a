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
expect_run(0 --help)
