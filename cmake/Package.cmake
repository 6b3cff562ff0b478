# Install rules, which the Debian package (debian/) installs through. What a
# user gets is the program, its manual page, a desktop entry with its icons,
# the AppStream metadata, and the copyright and changelog files; nothing of
# the tests, benchmarks or probes is installed.
include(GNUInstallDirs)

# Installing builds nothing by itself: the package needs only the program
# and install_files, which tools/package.sh and debian/rules build, and
# never the tests or benchmarks.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# Debian keeps games apart from other programs: /usr/games under the /usr
# prefix, /usr/local/games under /usr/local.
set(LIFESIM_INSTALL_GAMESDIR games CACHE STRING
    "Where the program is installed, relative to the install prefix")
# The Debian package installs the copyright file and changelog its own way
# (debhelper); any other install takes them from here.
option(LIFESIM_INSTALL_DOCS "Install the copyright file and changelog" ON)

set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME})
set(changelog ${PROJECT_SOURCE_DIR}/debian/changelog)

# The changelog's newest entry names the version being packaged; a release
# that forgets to add one would ship a package that contradicts itself.
file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^lifesim \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog starts with '${changelog_head}', "
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
  COMMAND gzip -9nc ${changelog} > ${pkg_out}/changelog.gz
  DEPENDS ${changelog}
  VERBATIM)
add_custom_target(install_files ALL DEPENDS ${pkg_out}/lifesim.6.gz ${pkg_out}/changelog.gz)

# The desktop entry names the program by its full path: launchers do not
# all search /usr/games (root's PATH lacks it), and one that cannot find
# the program fails without a word.
set(LIFESIM_PROGRAM ${CMAKE_INSTALL_PREFIX}/${LIFESIM_INSTALL_GAMESDIR}/lifesim)
configure_file(${pkg}/lifesim.desktop.in ${pkg_out}/lifesim.desktop @ONLY)

install(TARGETS lifesim RUNTIME DESTINATION ${LIFESIM_INSTALL_GAMESDIR})
# A stripped install (cmake --install --strip) also drops the compilers'
# ident strings, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${LIFESIM_INSTALL_GAMESDIR}/lifesim\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")
install(FILES ${pkg_out}/lifesim.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${pkg_out}/lifesim.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
set(icon_dir ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${pkg}/icons/${size}x${size}.png DESTINATION ${icon_dir}/${size}x${size}/apps
          RENAME lifesim.png)
endforeach()
install(FILES ${pkg}/lifesim.svg DESTINATION ${icon_dir}/scalable/apps)
install(FILES ${pkg}/org.lifesim.lifesim.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
if(LIFESIM_INSTALL_DOCS)
  install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright ${pkg_out}/changelog.gz
          DESTINATION ${doc_dir})
endif()
