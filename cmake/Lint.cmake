# clang-tidy over the project's own sources, where it can find something new: each source is
# preprocessed as clang-tidy reads it, and one whose text, with the checks and the tool's version,
# has been found clean before is not analysed again. Any finding fails the run.
#
# Run as a script: cmake -DBUILD=... -DSOURCE=... -DCLANG_TIDY=... -DRUN_CLANG_TIDY=... -DCLANGXX=...
#   -DCLEAN=<file of clean keys> -DFILES=<sources separated by |> -P Lint.cmake
# CLEAN is kept in the repository (cmake/lint-clean.txt), so that a fresh clone analyses only what
# changed since the last run that committed it; it holds the keys of the sources clean now, sorted.

string(REPLACE "|" ";" files "${FILES}")
execute_process(COMMAND ${CLANG_TIDY} --version OUTPUT_VARIABLE tool_version)
file(READ ${SOURCE}/.clang-tidy checks)
string(SHA256 config "${tool_version}${checks}")

file(READ ${BUILD}/compile_commands.json database)
string(JSON entries LENGTH "${database}")
math(EXPR last "${entries} - 1")
set(commands)
foreach(i RANGE ${last})
  string(JSON entry_file GET "${database}" ${i} file)
  string(JSON entry_command GET "${database}" ${i} command)
  string(JSON entry_directory GET "${database}" ${i} directory)
  set(command_of_${entry_file} "${entry_command}")
  set(directory_of_${entry_file} "${entry_directory}")
endforeach()

set(clean_before)
if(EXISTS ${CLEAN})
  file(STRINGS ${CLEAN} clean_before)
endif()

# Each source's key: its text as clang preprocesses it with its own build flags, the paths of this
# checkout and build left out, so that another clone in another place gives the same keys.
set(keys)
set(unchecked)
foreach(source ${files})
  if(NOT DEFINED command_of_${source})
    message(FATAL_ERROR "${source} is not in ${BUILD}/compile_commands.json")
  endif()
  separate_arguments(arguments UNIX_COMMAND "${command_of_${source}}")
  list(POP_FRONT arguments)  # the compiler
  set(flags)
  set(skip_next FALSE)
  foreach(argument ${arguments})
    if(skip_next)
      set(skip_next FALSE)
    elseif(argument STREQUAL "-o")
      set(skip_next TRUE)
    elseif(NOT argument STREQUAL "-c" AND NOT argument STREQUAL source)
      list(APPEND flags "${argument}")
    endif()
  endforeach()
  execute_process(COMMAND ${CLANGXX} ${flags} -E -P -Wno-unknown-warning-option -w ${source}
                  WORKING_DIRECTORY ${directory_of_${source}} OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(text "unpreprocessed ${source} ${status}")  # never a key found before: checked below
  endif()
  string(REPLACE "${SOURCE}" "<source>" text "${text}")
  string(REPLACE "${BUILD}" "<build>" text "${text}")
  string(SHA256 key "${config}${text}")
  file(RELATIVE_PATH name ${SOURCE} ${source})
  list(APPEND keys "${key} ${name}")
  list(FIND clean_before "${key} ${name}" found)
  if(found EQUAL -1)
    list(APPEND unchecked ${source})
  endif()
endforeach()

list(LENGTH files total)
list(LENGTH unchecked count)
message(STATUS "clang-tidy: ${count} of ${total} sources changed since they were last found clean")
if(count GREATER 0)
  execute_process(COMMAND ${RUN_CLANG_TIDY} -quiet -p ${BUILD} -j 2 ${unchecked} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "clang-tidy found something")
  endif()
endif()

list(SORT keys)
list(JOIN keys "\n" listed)
set(listed "${listed}\n")
set(before "")
if(EXISTS ${CLEAN})
  file(READ ${CLEAN} before)
endif()
if(NOT before STREQUAL listed)
  file(WRITE ${CLEAN} "${listed}")
endif()
