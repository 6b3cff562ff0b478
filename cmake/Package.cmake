# Install rules and the Debian package. What a user gets is the program,
# its manual page, a desktop entry with its icon, and the copyright and
# changelog files; nothing of the tests, benchmarks or probes is installed.
include(GNUInstallDirs)

# Installing (and CPack, which installs) builds nothing by itself: the
# package needs only the program and install_files, which tools/package.sh
# builds, and never the tests or benchmarks.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# Debian keeps games apart from other programs: /usr/games under the /usr
# prefix, /usr/local/games under /usr/local.
set(LIFESIM_INSTALL_GAMESDIR games CACHE STRING
    "Where the program is installed, relative to the install prefix")

set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME})

# The changelog's newest entry names the version being packaged; a release
# that forgets to add one would ship a package that contradicts itself.
file(STRINGS ${pkg}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^lifesim \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with '${changelog_head}', "
                      "not with an entry for version ${PROJECT_VERSION}")
endif()

# Manual pages and changelogs are shipped compressed, as Debian wants them;
# -n keeps the name and time out, so the same sources give the same bytes.
configure_file(${pkg}/lifesim.6.in ${pkg_out}/lifesim.6 @ONLY)
add_custom_command(
  OUTPUT ${pkg_out}/lifesim.6.gz
  COMMAND gzip -9nc ${pkg_out}/lifesim.6 > ${pkg_out}/lifesim.6.gz
  DEPENDS ${pkg_out}/lifesim.6
  VERBATIM)
add_custom_command(
  OUTPUT ${pkg_out}/changelog.gz
  COMMAND gzip -9nc ${pkg}/changelog > ${pkg_out}/changelog.gz
  DEPENDS ${pkg}/changelog
  VERBATIM)
add_custom_target(install_files ALL DEPENDS ${pkg_out}/lifesim.6.gz ${pkg_out}/changelog.gz)

install(TARGETS lifesim RUNTIME DESTINATION ${LIFESIM_INSTALL_GAMESDIR})
# A stripped install (cmake --install --strip, and the package) also drops
# the compilers' ident strings, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${LIFESIM_INSTALL_GAMESDIR}/lifesim\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")
install(FILES ${pkg_out}/lifesim.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${pkg}/lifesim.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${pkg}/lifesim.png DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/64x64/apps)
install(FILES ${pkg}/copyright ${pkg_out}/changelog.gz DESTINATION ${doc_dir})

# cpack --config <build>/CPackConfig.cmake (tools/package.sh) makes
# lifesim_<version>_<architecture>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "lifesim developers <lifesim@lifesim.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen simulator of Conway's Game of Life for X11")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "lifesim switches the screen to 640x480 at 60 Hz, seeds a 57 by 24 grid at\n"
    "random and advances one generation of the Game of Life per frame, with\n"
    "hard edges. It shows the grid as green lines with filled cells or as a\n"
    "table of 0/1 digits; keys restart the grid, change the view and toggle\n"
    "between normal and maximum speed. Where the screen cannot be switched it\n"
    "runs in a 640x480 window.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A 32-bit x86 build is an i386 package whatever the build machine is.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
include(CPack)
