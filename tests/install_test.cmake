# Installs the build into a scratch prefix with cmake --install, as a user or a package would, and
# checks the installed tree: exactly the expected files, desktop entry, metadata and icons that agree
# with each other, manual pages that name every option the programs take, the installed programs'
# version, and a whole run of the installed exporter on the installed example.
# Expects BUILD (the build folder), SOURCE and WORK.
cmake_minimum_required(VERSION 3.25)  # IN_LIST and the project's other policies

include(${BUILD}/packaging/install_layout.cmake)
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status})\n${out}${err}")
endif()

# Exactly these files, nothing missing and nothing stray.
set(icons ${DATADIR}/icons/hicolor)
set(expected
  ${BINDIR}/umbrascope
  ${BINDIR}/umbrascope-export
  ${BINDIR}/umbrascope-import
  ${BINDIR}/umbrascope-clouds
  ${BINDIR}/umbrascope-study
  ${DATADIR}/applications/${APP_ID}.desktop
  ${DATADIR}/metainfo/${APP_ID}.metainfo.xml
  ${icons}/scalable/apps/${APP_ID}.svg
  ${icons}/48x48/apps/${APP_ID}.png
  ${icons}/128x128/apps/${APP_ID}.png
  ${icons}/256x256/apps/${APP_ID}.png
  ${EXAMPLEDIR}/cloud_bus_coords_connections.txt
  ${EXAMPLEDIR}/cloud_sun_intensity_table.txt
  ${EXAMPLEDIR}/cloud_centers_plot.txt
  ${DOCDIR}/README.md)
if(DEBIAN_LAYOUT)
  list(APPEND expected ${MANDIR}/man1/umbrascope.1.gz ${MANDIR}/man1/umbrascope-export.1.gz
                       ${MANDIR}/man1/umbrascope-import.1.gz ${MANDIR}/man1/umbrascope-clouds.1.gz
                       ${MANDIR}/man1/umbrascope-study.1.gz ${MANDIR}/man1/umbrascope-study-sweep.1.gz
                       ${DOCDIR}/copyright ${DOCDIR}/changelog.gz)
else()
  list(APPEND expected ${MANDIR}/man1/umbrascope.1 ${MANDIR}/man1/umbrascope-export.1
                       ${MANDIR}/man1/umbrascope-import.1 ${MANDIR}/man1/umbrascope-clouds.1
                       ${MANDIR}/man1/umbrascope-study.1 ${MANDIR}/man1/umbrascope-study-sweep.1 ${DOCDIR}/LICENSE)
endif()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  set(stray ${installed})
  list(REMOVE_ITEM stray ${expected})
  message(FATAL_ERROR "installed tree differs\n  missing: ${missing}\n  not expected: ${stray}")
endif()

# Each PNG is as large as the folder it is in says (width and height from its IHDR chunk).
foreach(size 48 128 256)
  file(READ ${prefix}/${icons}/${size}x${size}/apps/${APP_ID}.png header LIMIT 24 HEX)
  math(EXPR hex_size "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(REPLACE "0x" "" hex_size ${hex_size})
  string(LENGTH ${hex_size} digits)
  math(EXPR pad "8 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  set(dimension ${zeros}${hex_size})
  if(NOT header MATCHES "^89504e470d0a1a0a0000000d49484452${dimension}${dimension}$")
    message(FATAL_ERROR "${size}x${size}/apps/${APP_ID}.png is not a ${size} by ${size} PNG")
  endif()
endforeach()

# The desktop entry starts the installed window and names the installed icon; the metadata names
# the entry, and its newest release is this version, as is the Debian changelog's newest entry.
file(STRINGS ${prefix}/${DATADIR}/applications/${APP_ID}.desktop entry)
foreach(line "Exec=umbrascope" "Icon=${APP_ID}" "Type=Application")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()
file(READ ${prefix}/${DATADIR}/metainfo/${APP_ID}.metainfo.xml metainfo)
string(FIND "${metainfo}" "<id>${APP_ID}</id>" at_id)
string(FIND "${metainfo}" "<launchable type=\"desktop-id\">${APP_ID}.desktop</launchable>" at_launchable)
if(at_id EQUAL -1 OR at_launchable EQUAL -1)
  message(FATAL_ERROR "the metadata's id or launchable is not ${APP_ID}")
endif()
if(NOT metainfo MATCHES "<release version=\"([^\"]*)\"" OR NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "the metadata's newest release is '${CMAKE_MATCH_1}', the project's version ${VERSION}")
endif()
file(STRINGS ${SOURCE}/packaging/changelog changelog LIMIT_COUNT 1)
if(NOT changelog MATCHES "^umbrascope \\(([^)]*)\\)" OR NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "packaging/changelog's newest entry is '${CMAKE_MATCH_1}', the project's version ${VERSION}")
endif()

# The example path the programs are built with leads from the installed programs to the example.
if(NOT EXISTS ${prefix}/${BINDIR}/${EXAMPLE_FROM_BINDIR}/cloud_sun_intensity_table.txt)
  message(FATAL_ERROR "${BINDIR}/${EXAMPLE_FROM_BINDIR} does not lead to the installed example")
endif()

# run_installed(PROGRAM SECONDS OUTVAR ARGS...): runs an installed program, which must exit with 0
# within SECONDS (a window that ignores --help would otherwise stay open).
function(run_installed program seconds var)
  execute_process(COMMAND ${prefix}/${BINDIR}/${program} ${ARGN} TIMEOUT ${seconds}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "installed ${program} ${ARGN}: exit status ${status}\n${out}${err}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# Long options named by a text: "--name" in --help, "\-\-name" in a manual page.
function(long_options text var)
  string(REPLACE "\\-" "-" text "${text}")
  string(REGEX MATCHALL "--[a-z][a-z0-9]*(-[a-z0-9]+)*" options "${text}")
  list(REMOVE_DUPLICATES options)
  list(SORT options)
  set(${var} "${options}" PARENT_SCOPE)
endfunction()

set(ENV{QT_QPA_PLATFORM} offscreen)  # a window that would open, opens nowhere
foreach(program umbrascope umbrascope-export umbrascope-import umbrascope-clouds umbrascope-study)
  run_installed(${program} 20 version --version)
  string(FIND "${version}" "${VERSION}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "installed ${program} --version does not print ${VERSION}:\n${version}")
  endif()
  # The manual page documents the options --help shows, and no others.
  run_installed(${program} 20 help --help)
  long_options("${help}" from_help)
  file(READ ${MAN_PAGES}/${program}.1 page)
  long_options("${page}" from_page)
  if(NOT from_help STREQUAL from_page)
    message(FATAL_ERROR "${program}: --help shows ${from_help}\nbut the manual page shows ${from_page}")
  endif()
endforeach()
# The sweep's own command line and its page.
run_installed(umbrascope-study 20 help sweep --help)
long_options("${help}" from_help)
file(READ ${MAN_PAGES}/umbrascope-study-sweep.1 page)
long_options("${page}" from_page)
if(NOT from_help STREQUAL from_page)
  message(FATAL_ERROR "umbrascope-study sweep: --help shows ${from_help}\nbut the manual page shows ${from_page}")
endif()

# A whole run of the installed exporter on the installed example: one frame per sun table row.
function(frame_name number var)
  string(LENGTH ${number} digits)
  math(EXPR pad "4 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  set(${var} ${WORK}/frames/frame-${zeros}${number}.png PARENT_SCOPE)
endfunction()
file(STRINGS ${prefix}/${EXAMPLEDIR}/cloud_sun_intensity_table.txt lines)
list(LENGTH lines lines)
math(EXPR rows "${lines} - 6")  # after the six header lines
math(EXPR after "${rows} + 1")
frame_name(${rows} last_frame)
frame_name(${after} frame_too_many)
run_installed(umbrascope-export 300 ignored --input ${prefix}/${EXAMPLEDIR} --output ${WORK}/frames)
if(NOT EXISTS ${last_frame} OR EXISTS ${frame_too_many})
  message(FATAL_ERROR "the installed exporter did not write one frame for each of the example's ${rows} rows")
endif()
