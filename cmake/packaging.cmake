# Version, install layout and packages (CPack): `cpack -G DEB` in a native
# build directory makes the Debian package, `cpack -G ZIP` in the MinGW
# build directory the Windows zip. scripts/check-packages checks both.

# One version for everything: the project's, and the git description of the
# commit when built from a checkout. Only quillon_version.h changes with it,
# so a new commit recompiles two files, not the tools.
set(QUILLON_VERSION_TEXT ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --always
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE QUILLON_GIT_DESCRIBE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE QUILLON_GIT_RESULT)
  if(QUILLON_GIT_RESULT EQUAL 0 AND QUILLON_GIT_DESCRIBE)
    set(QUILLON_VERSION_TEXT "${PROJECT_VERSION} (git ${QUILLON_GIT_DESCRIBE})")
  endif()
  # A commit or a checkout moves HEAD's log: describe again then.
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE QUILLON_GIT_DIR OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(QUILLON_GIT_DIR AND EXISTS ${QUILLON_GIT_DIR}/logs/HEAD)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QUILLON_GIT_DIR}/logs/HEAD)
  endif()
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/quillon_version.h.in
               ${CMAKE_BINARY_DIR}/version/quillon_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/version)

set(QUILLON_PACKAGE_MAINTAINER "The Quillon developers <quillon@example.org>"
    CACHE STRING "Maintainer of the packages: name <address>")

if(WIN32)
  # The zip: the programs at the top, the papers beside them as text files,
  # the examples in a folder of their own. The stand-in executive files must
  # never lie beside quillon.exe: the window loads pe*.hex from its current
  # directory into a real part.
  set(CMAKE_INSTALL_BINDIR .)
  set(CMAKE_INSTALL_DOCDIR .)
  install(FILES README.md DESTINATION . RENAME README.txt)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES CHANGELOG.md DESTINATION . RENAME CHANGELOG.txt)
  install(FILES docs/cli.md DESTINATION docs)
else()
  include(GNUInstallDirs)
  install(FILES README.md docs/cli.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Debian's papers: the license in machine-readable form, and the changelogs
  # compressed (reproducibly: no name or time in the gzip header).
  string(TIMESTAMP QUILLON_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in
                 ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
  configure_file(CHANGELOG.md ${CMAKE_BINARY_DIR}/packaging/changelog COPYONLY)
  foreach(log changelog changelog.Debian)
    execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/${log})
  endforeach()
  install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# The README shows its pictures from here.
install(DIRECTORY docs/images DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_CONTACT ${QUILLON_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programmer for Microchip dsPIC30F/33F and PIC24F/H chips")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillon programs Microchip 16-bit microcontrollers (dsPIC30F, dsPIC33F,
PIC24F and PIC24H: 207 parts) through a programmer board on a serial port:
detect, bulk erase, blank check, write with verification, and read back
program memory, data EEPROM, configuration words and executive memory, with
plain ICSP or through Microchip's programming executive. Several boards can
be programmed side by side, with serial numbers and a production log.
.
The package holds the command-line tool quillon and quillon-sim, a
simulated programmer board with a simulated chip on a pseudo-terminal, so
that every operation can be tried without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quillon-${PROJECT_VERSION}-windows-x64)
  # One folder inside the zip, named like the zip.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
  find_program(QUILLON_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(QUILLON_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
  endif()
endif()
include(CPack)
