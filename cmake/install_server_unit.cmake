# Run by the install (component server): writes numoteka-server.service with the program's
# path under this install's prefix, into PREFIX/lib/systemd/system, where systemd looks for
# units of /usr (the package's) and of /usr/local.
set(NUMOTEKA_SERVER_PROGRAM "${CMAKE_INSTALL_PREFIX}/${NUMOTEKA_SBINDIR}/numoteka-server")
configure_file(${NUMOTEKA_UNIT_TEMPLATE} ${NUMOTEKA_UNIT_FOLDER}/numoteka-server.service @ONLY)
file(INSTALL ${NUMOTEKA_UNIT_FOLDER}/numoteka-server.service
  DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
