# Files the programs carry inside them, such as the shared page's viewer script: each becomes a
# header of bytes at build time, so that the file stays a source of its own in the repository.
#
# umbrascope_embed(TARGET NAME FILE) makes ${CMAKE_BINARY_DIR}/generated/embedded/NAME.hpp, which
# defines umbrascope::embedded::NAME as a std::string_view of FILE's bytes, for TARGET.

set(UMBRASCOPE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedFile.cmake)

function(umbrascope_embed target name file)
  set(header ${CMAKE_BINARY_DIR}/generated/embedded/${name}.hpp)
  add_custom_command(OUTPUT ${header}
                     COMMAND ${CMAKE_COMMAND} -DNAME=${name} -DINPUT=${file} -DOUTPUT=${header} -P ${UMBRASCOPE_EMBED_SCRIPT}
                     DEPENDS ${file} ${UMBRASCOPE_EMBED_SCRIPT}
                     COMMENT "Embedding ${name}")
  target_sources(${target} PRIVATE ${header})
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
