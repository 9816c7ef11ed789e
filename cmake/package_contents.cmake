# Read by CPack for each package it makes: LICENSE goes into the .tar.gz only; the .deb has the
# copyright file of share/doc/numoteka.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL Unspecified archive_licence)
endif()
