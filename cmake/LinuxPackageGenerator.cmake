# Read by CPack once per generator of the Linux release: the tarball also gets its INSTALL note at
# the top of its folder, where a .deb has no place for it.
if(CPACK_GENERATOR STREQUAL "TGZ")
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_NORVALE_TREE};norvale;tarball;/")
endif()
