# Packaging on Linux, included after the install rules of the top-level
# CMakeLists.txt:
# - the CMake package: find_package(tovarin 1.0) with tovarin::ui and
#   tovarin::plugin (cmake/package/tovarin-config.cmake.in);
# - the manual page of the reference host, and the copyright and changelog
#   files a Debian package carries;
# - CPack's Debian package: `cpack --config build/CPackConfig.cmake` (or
#   `cmake --build build --target package`) makes tovarin_VERSION_ARCH.deb,
#   installed under /usr, its dependencies computed from the binaries by
#   dpkg-shlibdeps. scripts/test-deb.sh installs, uses and removes it.
include(CMakePackageConfigHelpers)

set(TOVARIN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tovarin)
file(RELATIVE_PATH TOVARIN_CONFIG_TO_PREFIX /${TOVARIN_CMAKE_DIR} /)
string(REGEX REPLACE "/$" "" TOVARIN_CONFIG_TO_PREFIX "${TOVARIN_CONFIG_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/tovarin-config.cmake.in
               ${CMAKE_BINARY_DIR}/package/tovarin-config.cmake @ONLY)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/tovarin-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/tovarin-config.cmake ${CMAKE_BINARY_DIR}/package/tovarin-config-version.cmake
        DESTINATION ${TOVARIN_CMAKE_DIR})

# Who answers for the package (its maintainer field and changelog).
set(TOVARIN_PACKAGE_CONTACT "tovarin developers <tovarin-dev@example.org>" CACHE STRING
    "Maintainer of the Debian package: Name <address>")
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)

# Compressed as Debian wants them (-n: no name or time stamp, so the same
# sources give the same bytes), when configuring: installing needs no build.
find_program(TOVARIN_GZIP gzip REQUIRED)
set(_man ${CMAKE_BINARY_DIR}/package/tovarin.1.gz)
set(_changelog ${CMAKE_BINARY_DIR}/package/changelog.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/tovarin.1)
execute_process(COMMAND ${TOVARIN_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/docs/tovarin.1 OUTPUT_FILE ${_man}
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${TOVARIN_GZIP} -9n -c ${CMAKE_BINARY_DIR}/package/changelog OUTPUT_FILE ${_changelog}
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/package/copyright ${_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovarin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TOVARIN_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio playback plug-in for media players")
# The summary above is the synopsis; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A host media player loads Plugin.so and drives it through 56 flat C\n"
    "exports: audio files and http internet radio in 32 stream slots, tags,\n"
    "an equalizer and studio effects, volume fades, a spectrum display in a\n"
    "window the host lends it, and recording from the capture device.\n"
    "\n"
    "The package holds the plug-in, the window-system library\n"
    "libtovarin-ui.so.1 that the plug-in and its host share, the reference\n"
    "host tovarin, and the headers, pkg-config and CMake files for writing\n"
    "a host.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tovarin_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The loader's cache is refreshed by dpkg's trigger (CPack's own postinst
# and postrm call ldconfig too: harmless, and lintian only warns).
file(WRITE ${CMAKE_BINARY_DIR}/package/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/package/triggers)
set(CPACK_STRIP_FILES ON)
include(CPack)
