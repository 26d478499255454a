# The Debian package, made by CPack's DEB generator from what cmake/Install.cmake installs:
#   cpack --config <build>/CPackConfig.cmake -B <folder>   (./scripts/package does it all)
# Configure with CMAKE_INSTALL_PREFIX=/usr and UMBRASCOPE_DEBIAN_LAYOUT=ON: the package installs under that prefix, and the manual
# pages name the example's path under it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME umbrascope)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Umbrascope developers")
set(CPACK_PACKAGE_CONTACT "The Umbrascope developers <umbrascope@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "animate cloud shadows passing over a small power network")
set(CPACK_PACKAGE_HOMEPAGE_URL https://umbrascope.github.io/)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Reads a network's buses, a sun intensity table and a cloud track, and animates\nthe network under the clouds; umbrascope-export writes the frames headless,\numbrascope-import makes networks from OpenDSS circuits and umbrascope-clouds\nmakes cloud scenarios for them.")
# The libraries come from dpkg-shlibdeps. Not linked, so not found by it: the font the frames are
# drawn with, and Qt's platform plugins, without which the window cannot open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
