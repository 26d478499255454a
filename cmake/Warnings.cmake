# Warnings for the project's own code; as errors when UMBRASCOPE_WERROR is on (as in CI).
function(umbrascope_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Wno-missing-field-initializers)
  if(UMBRASCOPE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
