# Installs Umbrascope as a Linux desktop application (GNU layout): the five programs, the desktop
# entry, the icon, the manual pages, the AppStream metadata, the bundled example and the documents.
# Also generates umbrascope/version.hpp (target umbrascope_version), so that the programs' version
# and the installed example's place come from here and nowhere else.

include(GNUInstallDirs)

set(UMBRASCOPE_APP_ID io.github.umbrascope.Umbrascope)
set(umbrascope_example_dir ${CMAKE_INSTALL_DATADIR}/umbrascope/examples/ieee13)
set(umbrascope_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/umbrascope)
set(UMBRASCOPE_FULL_EXAMPLE_DIR ${CMAKE_INSTALL_FULL_DATADIR}/umbrascope/examples/ieee13)
# Relative, so that an installed tree still finds its example after being moved to another prefix.
file(RELATIVE_PATH UMBRASCOPE_EXAMPLE_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR} ${UMBRASCOPE_FULL_EXAMPLE_DIR})

# Debian wants gzipped manual pages, and a changelog and a copyright file of its own formats.
option(UMBRASCOPE_DEBIAN_LAYOUT "Install the documents as a Debian package ships them" OFF)
if(UMBRASCOPE_DEBIAN_LAYOUT)
  find_program(GZIP gzip REQUIRED)
endif()

# umbrascope_documents builds whatever documents the install needs made.
add_custom_target(umbrascope_documents ALL)

# gzip_for_debian(FILE VAR): in the Debian layout, compresses FILE at build time and sets VAR to the
# compressed file; else sets VAR to FILE. -n keeps the name and time out, so the bytes repeat.
function(gzip_for_debian file var)
  if(UMBRASCOPE_DEBIAN_LAYOUT)
    get_filename_component(name ${file} NAME)
    set(gz ${PROJECT_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${gz} COMMAND ${GZIP} -9n -c ${file} > ${gz} DEPENDS ${file}
                       COMMENT "Compressing ${name}")
    set_property(TARGET umbrascope_documents APPEND PROPERTY SOURCES ${gz})
    set(${var} ${gz} PARENT_SCOPE)
  else()
    set(${var} ${file} PARENT_SCOPE)
  endif()
endfunction()

configure_file(${PROJECT_SOURCE_DIR}/cmake/version.hpp.in ${PROJECT_BINARY_DIR}/generated/umbrascope/version.hpp @ONLY)
add_library(umbrascope_version INTERFACE)
target_include_directories(umbrascope_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# Install permissions do not follow the builder's umask: 0755 folders, as a package wants them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(UMBRASCOPE_QT)
  install(TARGETS umbrascope umbrascope-export RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS umbrascope-import umbrascope-clouds umbrascope-study RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${packaging}/${UMBRASCOPE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/${UMBRASCOPE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/icons/${UMBRASCOPE_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
  install(FILES ${packaging}/icons/${size}/${UMBRASCOPE_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The manual pages carry the version and the installed example's full path.
foreach(page umbrascope.1 umbrascope-export.1 umbrascope-import.1 umbrascope-clouds.1 umbrascope-study.1
             umbrascope-study-sweep.1)
  set(man ${PROJECT_BINARY_DIR}/packaging/${page})
  configure_file(${packaging}/${page}.in ${man} @ONLY)
  gzip_for_debian(${man} man)
  install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ieee13/ DESTINATION ${umbrascope_example_dir})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${umbrascope_doc_dir})
# The Debian copyright file holds the license, in Debian's format.
if(UMBRASCOPE_DEBIAN_LAYOUT)
  gzip_for_debian(${packaging}/changelog changelog)
  install(FILES ${packaging}/copyright ${changelog} DESTINATION ${umbrascope_doc_dir})
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${umbrascope_doc_dir})
endif()

# What tests/install_test.cmake checks an installed tree against.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/packaging/install_layout.cmake @ONLY CONTENT [[
set(VERSION "@PROJECT_VERSION@")
set(APP_ID "@UMBRASCOPE_APP_ID@")
set(BINDIR "@CMAKE_INSTALL_BINDIR@")
set(DATADIR "@CMAKE_INSTALL_DATADIR@")
set(MANDIR "@CMAKE_INSTALL_MANDIR@")
set(DOCDIR "@umbrascope_doc_dir@")
set(EXAMPLEDIR "@umbrascope_example_dir@")
set(EXAMPLE_FROM_BINDIR "@UMBRASCOPE_EXAMPLE_FROM_BINDIR@")
set(DEBIAN_LAYOUT "@UMBRASCOPE_DEBIAN_LAYOUT@")
set(MAN_PAGES "@PROJECT_BINARY_DIR@/packaging")
]])
