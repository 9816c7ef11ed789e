# What `cmake --install --component server` puts where for numoteka-server, and its Debian
# package numoteka-server_<version>_<arch>.deb (make server-package). The rules are left out of a
# plain install, so that the game's install and packages stay the same in a build with the
# server; the package has a CPack configuration of its own, CPackServerConfig.cmake.

# The page the server serves, as make web leaves it; it is read when installing, not now, as
# the server's tests build without it.
set(NUMOTEKA_PAGE ${CMAKE_SOURCE_DIR}/build/web)
if(NOT EXISTS ${NUMOTEKA_PAGE}/index.html)
  message(STATUS "No web page in ${NUMOTEKA_PAGE}: numoteka-server's install and package need "
    "'make web' first")
endif()
set(NUMOTEKA_SERVER_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/numoteka-server)

install(CODE "
  if(NOT EXISTS \"${NUMOTEKA_PAGE}/index.html\")
    message(FATAL_ERROR \"${NUMOTEKA_PAGE} holds no web page to install: run 'make web' first \"
      \"('make install-server' and 'make server-package' do)\")
  endif()" COMPONENT server EXCLUDE_FROM_ALL)

install(TARGETS numoteka-server RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR}
  COMPONENT server EXCLUDE_FROM_ALL)

# The man page gzipped as the game's are; the changelog is the game's.
set(NUMOTEKA_SERVER_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/numoteka-server.8)
configure_file(doc/numoteka-server.8.in ${NUMOTEKA_SERVER_MAN_PAGE} @ONLY)
add_custom_command(OUTPUT gzipped/numoteka-server.8.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${NUMOTEKA_SERVER_MAN_PAGE} gzipped/numoteka-server.8
  COMMAND ${GZIP_PROGRAM} -9nf gzipped/numoteka-server.8
  DEPENDS ${NUMOTEKA_SERVER_MAN_PAGE}
  VERBATIM)
add_custom_target(numoteka_server_gzipped_docs ALL DEPENDS gzipped/numoteka-server.8.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/numoteka-server.8.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT server EXCLUDE_FROM_ALL)

# The copyright file names, besides the project's, what the page carries of others: xterm.js
# and the font.
configure_file(doc/copyright-server.in copyright-server @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright-server DESTINATION ${NUMOTEKA_SERVER_DOCDIR}
  RENAME copyright COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/changelog.gz
  DESTINATION ${NUMOTEKA_SERVER_DOCDIR} COMPONENT server EXCLUDE_FROM_ALL)
# The operator's guide.
install(FILES doc/server.md DESTINATION ${NUMOTEKA_SERVER_DOCDIR} COMPONENT server EXCLUDE_FROM_ALL)

# Where the server looks for its page by default: PREFIX/share/numoteka/web beside PREFIX/sbin.
install(DIRECTORY ${NUMOTEKA_PAGE}/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/numoteka/web
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE
  COMPONENT server EXCLUDE_FROM_ALL)

# The systemd unit names the program where the install puts it, so it is written when
# installing, for the prefix of that install (cmake --install --prefix, or CPack's /usr).
install(CODE "
  set(NUMOTEKA_UNIT_TEMPLATE \"${CMAKE_CURRENT_SOURCE_DIR}/server/package/numoteka-server.service.in\")
  set(NUMOTEKA_UNIT_FOLDER \"${CMAKE_CURRENT_BINARY_DIR}/unit\")
  set(NUMOTEKA_SBINDIR \"${CMAKE_INSTALL_SBINDIR}\")"
  SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/cmake/install_server_unit.cmake
  COMPONENT server EXCLUDE_FROM_ALL)

# The package: the project's CPack settings (maintainer, version, shlibdeps...) with the
# server's component alone and its own name, section, description and maintainer scripts.
string(CONCAT NUMOTEKA_SERVER_DESCRIPTION
  "numoteka-server keeps the world ranking of numoteka's daily game: players\n"
  "send the replay codes of their wins, which the server plays through the\n"
  "game itself to rank what really happened. It serves the game's web page\n"
  "beside its JSON API, keeps the wins in SQLite or PostgreSQL, and answers\n"
  "/healthz and /metrics. A systemd unit runs it as a sandboxed service.")
configure_file(cmake/server_package_config.cmake.in CPackServerConfig.cmake @ONLY)
add_custom_target(server_package
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_CURRENT_BINARY_DIR}/CPackServerConfig.cmake
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  DEPENDS numoteka-server numoteka_gzipped_docs numoteka_server_gzipped_docs
  VERBATIM)

if(NUMOTEKA_TESTS)
  # The server's man page as groff renders it, warnings on.
  add_test(NAME server_man_page_renders
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/tests/man_page_test.py
            ${GROFF_PROGRAM} ${PROJECT_VERSION} ${NUMOTEKA_SERVER_MAN_PAGE})
endif()
