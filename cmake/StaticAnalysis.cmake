# UMBRASCOPE_LINT=ON adds a test that runs clang-tidy, with the checked-in .clang-tidy, over the
# project's own sources that changed since they were last found clean (cmake/Lint.cmake); any
# finding fails it.
option(UMBRASCOPE_LINT "Add a clang-tidy test over the project's own code" OFF)

function(umbrascope_lint_test)
  if(NOT UMBRASCOPE_LINT)
    return()
  endif()
  find_program(RUN_CLANG_TIDY NAMES run-clang-tidy run-clang-tidy-14 REQUIRED)
  find_program(CLANG_TIDY NAMES clang-tidy clang-tidy-14 REQUIRED)
  find_program(CLANGXX NAMES clang++ clang++-14 REQUIRED)
  file(GLOB lint_sources CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/core/*.cpp ${PROJECT_SOURCE_DIR}/network/*.cpp ${PROJECT_SOURCE_DIR}/clouds/*.cpp
       ${PROJECT_SOURCE_DIR}/render/*.cpp ${PROJECT_SOURCE_DIR}/run/*.cpp ${PROJECT_SOURCE_DIR}/app/*.cpp
       ${PROJECT_SOURCE_DIR}/exporter/*.cpp ${PROJECT_SOURCE_DIR}/output/*.cpp ${PROJECT_SOURCE_DIR}/import/*.cpp
       ${PROJECT_SOURCE_DIR}/importer/*.cpp ${PROJECT_SOURCE_DIR}/scenario/*.cpp ${PROJECT_SOURCE_DIR}/cloudmaker/*.cpp
       ${PROJECT_SOURCE_DIR}/cli/*.cpp ${PROJECT_SOURCE_DIR}/tools/*.cpp ${PROJECT_SOURCE_DIR}/bench/*.cpp
       ${PROJECT_SOURCE_DIR}/model/*.cpp ${PROJECT_SOURCE_DIR}/study/*.cpp ${PROJECT_SOURCE_DIR}/studier/*.cpp
       ${PROJECT_SOURCE_DIR}/sweep/*.cpp)
  list(JOIN lint_sources "|" files)
  add_test(NAME clang_tidy
           COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DSOURCE=${PROJECT_SOURCE_DIR} -DCLANG_TIDY=${CLANG_TIDY}
                   -DRUN_CLANG_TIDY=${RUN_CLANG_TIDY} -DCLANGXX=${CLANGXX} -DCLEAN=${PROJECT_SOURCE_DIR}/cmake/lint-clean.txt
                   "-DFILES=${files}" -P ${PROJECT_SOURCE_DIR}/cmake/Lint.cmake)
  # Every source again, where the checks or the tool changed: minutes on two cores.
  set_tests_properties(clang_tidy PROPERTIES TIMEOUT 1800 COST 900)
endfunction()
