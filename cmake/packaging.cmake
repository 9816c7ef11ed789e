# What `cmake --install` puts where, and the release packages CPack makes of it: Debian's
# layout for games on Linux (a .tar.gz and a .deb), one folder to unpack on Windows (a .zip).
include(GNUInstallDirs)

set(NUMOTEKA_MAINTAINER "numoteka maintainers <maintainers@users.noreply.c-seed-fa77bf1b.example>"
  CACHE STRING "Maintainer line of the Debian package")

# The documents the README links to, installed beside it in a folder doc/ as in the tree.
set(NUMOTEKA_DOCUMENTS doc/guide.ja.md doc/daily.md doc/web.md doc/server.md doc/development.md
    doc/board.png)

if(WIN32)
  # Unpacked anywhere, the game saves into the System folder beside it: a double-clicked
  # program starts in its own folder.
  install(TARGETS numoteka RUNTIME DESTINATION .)
  install(DIRECTORY DESTINATION System)
  install(FILES README.md LICENSE DESTINATION .)
  install(FILES ${NUMOTEKA_DOCUMENTS} DESTINATION doc)
  set(CPACK_GENERATOR ZIP)
else()
  # The installed program keeps its ranking in the player's data folder, wherever it is started
  # from; build/release/numoteka, which `make play` runs, keeps System below the working folder.
  add_executable(numoteka_installed src/installed_main.cpp)
  target_link_libraries(numoteka_installed PRIVATE numoteka_program)
  set_target_properties(numoteka_installed PROPERTIES OUTPUT_NAME numoteka
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/installed)
  install(TARGETS numoteka_installed RUNTIME DESTINATION games)

  # The man pages (their version filled in) and the changelog are installed gzipped, as
  # Debian's packages have them; -n keeps the name and time out of the header, so the bytes do
  # not change from build to build.
  find_program(GZIP_PROGRAM gzip REQUIRED)
  set(NUMOTEKA_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/numoteka.6)
  set(NUMOTEKA_JA_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/numoteka.ja.6)
  configure_file(doc/numoteka.6.in ${NUMOTEKA_MAN_PAGE} @ONLY)
  configure_file(doc/numoteka.ja.6.in ${NUMOTEKA_JA_MAN_PAGE} @ONLY)
  set(compressed)
  foreach(source ${NUMOTEKA_MAN_PAGE} ${NUMOTEKA_JA_MAN_PAGE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/doc/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT gzipped/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} gzipped/${name}
      COMMAND ${GZIP_PROGRAM} -9nf gzipped/${name}
      DEPENDS ${source}
      VERBATIM)
    list(APPEND compressed gzipped/${name}.gz)
  endforeach()
  add_custom_target(numoteka_gzipped_docs ALL DEPENDS ${compressed})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/numoteka.6.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/numoteka.ja.6.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man6 RENAME numoteka.6.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Debian's machine-readable copyright file, its licence text that of LICENSE.
  file(READ LICENSE licence)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
  string(FIND "${licence}" "Permission" start)
  string(SUBSTRING "${licence}" ${start} -1 licence)
  string(STRIP "${licence}" licence)
  string(REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " NUMOTEKA_LICENCE_TEXT "${licence}")
  configure_file(doc/copyright.in copyright @ONLY)
  install(FILES README.md ${CMAKE_CURRENT_BINARY_DIR}/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${NUMOTEKA_DOCUMENTS} DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc)

  # The archive holds the tree below the prefix (games/, share/) and LICENSE beside it; the .deb
  # installs the tree in /usr, with the copyright file alone, as Debian's packages do.
  install(FILES LICENSE DESTINATION . COMPONENT archive_licence EXCLUDE_FROM_ALL)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/package_contents.cmake)
  set(CPACK_GENERATOR TGZ DEB)
endif()

set(CPACK_PACKAGE_VENDOR "numoteka")
set(CPACK_PACKAGE_CONTACT "${NUMOTEKA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dice board game for the text console, in Japanese")
# Lines of the long description are kept short: the .deb shows them as they are.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tatakae! Numoteka Game races the player against the computer along a\n"
  "track of 29 squares. Every square has an event, every round ends in a\n"
  "battle, three mini-games (janken, a slot and high and low) hide on the\n"
  "game squares, and the ten best wins of each difficulty are kept in a\n"
  "ranking. All of its text is Japanese, in UTF-8 or Shift_JIS as the\n"
  "locale says.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NUMOTEKA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
