# Every include runs down the layers: a folder includes only its own headers and those of the
# folders below it. Run as: cmake -DSOURCE=<repository> -P layers_test.cmake
#
# The layers, lowest first; folders on one layer know nothing of each other.
set(layers
  "core cli"
  "model"
  "network clouds render import"
  "output"
  "scenario run"
  "study"
  "sweep"
  "app"
  "exporter importer cloudmaker studier")

set(rank 0)
foreach(layer ${layers})
  string(REPLACE " " ";" folders "${layer}")
  foreach(folder ${folders})
    set(rank_of_${folder} ${rank})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

set(upward)
foreach(layer ${layers})
  string(REPLACE " " ";" folders "${layer}")
  foreach(folder ${folders})
    file(GLOB sources ${SOURCE}/${folder}/*.cpp ${SOURCE}/${folder}/*.hpp)
    foreach(source ${sources})
      file(STRINGS ${source} includes REGEX "^#include \"[a-z_]+/")
      foreach(line ${includes})
        string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" included "${line}")
        # The headers the build makes: the version, and files carried in the programs.
        if(included STREQUAL folder OR included STREQUAL "umbrascope" OR included STREQUAL "embedded")
          continue()
        endif()
        file(RELATIVE_PATH name ${SOURCE} ${source})
        if(NOT DEFINED rank_of_${included})
          list(APPEND upward "${name} includes ${included}/, which is on no layer")
        elseif(NOT rank_of_${included} LESS rank_of_${folder})
          list(APPEND upward "${name} includes ${included}/, which is not below ${folder}/")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(upward)
  list(JOIN upward "\n  " listed)
  message(FATAL_ERROR "includes that run upward or sideways:\n  ${listed}")
endif()
message(STATUS "every include runs down the layers")
