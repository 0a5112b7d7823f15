# The Linux release of norvale-cli, packed by CPack from a native build tree (component "linux"):
#   norvale-cli_<version>_<arch>.deb        for Debian and Ubuntu, files under /usr
#   norvale-cli-<version>-linux-<arch>.tar.gz  the same files under one folder, with an INSTALL note
# The program stripped, the manual page and the completion made at build time (PosixTargets.cmake),
# the udev rule, and the texts Debian wants under share/doc. scripts/package.sh runs it.

set(NORVALE_PACKAGE_MAINTAINER "Norvale developers <norvale@example.org>" CACHE STRING
    "The Debian package's Maintainer field")

# The architecture as Debian names it (amd64, arm64), for both archives' names.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE NORVALE_DEB_ARCHITECTURE
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT NORVALE_DEB_ARCHITECTURE)
  set(NORVALE_DEB_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
endif()

# Folders as Debian's policy has them whatever the umask of the one who packs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# A target install, so that CPack strips it.
install(TARGETS norvale-cli RUNTIME DESTINATION bin COMPONENT linux)
install(FILES ${NORVALE_MAN_PAGE}.gz DESTINATION share/man/man1 COMPONENT linux)
install(FILES ${NORVALE_BASH_COMPLETION} DESTINATION share/bash-completion/completions
        RENAME norvale-cli COMPONENT linux)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/70-norvale.rules DESTINATION lib/udev/rules.d
        COMPONENT linux)

# share/doc/norvale-cli: the licence in Debian's machine-readable copyright format, the changelog
# and the guides, compressed as Debian's policy asks of a changelog and of long texts (-n: no name
# or time in the header, so the same sources give the same bytes).
set(NORVALE_LINUX_DOCS ${CMAKE_BINARY_DIR}/linux-docs)
file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE NORVALE_COPYRIGHT_LINE REGEX "^Copyright ")
string(REGEX REPLACE "^Copyright (\\([cC]\\) )?" "" NORVALE_COPYRIGHT "${NORVALE_COPYRIGHT_LINE}")
file(READ ${CMAKE_SOURCE_DIR}/LICENSE NORVALE_LICENSE_TEXT)
# The permission and the disclaimer: what follows the copyright line, each line indented by one
# space and an empty line written " .".
string(REGEX REPLACE "^.*Copyright [^\n]*\n\n" "" NORVALE_LICENSE_TEXT "${NORVALE_LICENSE_TEXT}")
string(STRIP "${NORVALE_LICENSE_TEXT}" NORVALE_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" NORVALE_LICENSE_TEXT "${NORVALE_LICENSE_TEXT}")
string(REPLACE "\n" "\n " NORVALE_LICENSE_TEXT "${NORVALE_LICENSE_TEXT}")
file(WRITE ${NORVALE_LINUX_DOCS}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: norvale\n\n"
     "Files: *\n"
     "Copyright: ${NORVALE_COPYRIGHT}\n"
     "License: Expat\n"
     " ${NORVALE_LICENSE_TEXT}\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/INSTALL.in ${NORVALE_LINUX_DOCS}/INSTALL @ONLY)

set(NORVALE_COMPRESSED_DOCS)
foreach(source packaging/linux/changelog docs/guide-en.md docs/guide-ru.md)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${NORVALE_LINUX_DOCS}/${name}.gz
                     COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/${source} > ${name}.gz
                     WORKING_DIRECTORY ${NORVALE_LINUX_DOCS}
                     DEPENDS ${CMAKE_SOURCE_DIR}/${source})
  list(APPEND NORVALE_COMPRESSED_DOCS ${NORVALE_LINUX_DOCS}/${name}.gz)
endforeach()
add_custom_target(norvale-linux-docs ALL DEPENDS ${NORVALE_COMPRESSED_DOCS})
install(FILES ${NORVALE_LINUX_DOCS}/copyright ${NORVALE_COMPRESSED_DOCS}
        DESTINATION share/doc/norvale-cli COMPONENT linux)
# The note on installing by hand belongs to the tarball alone (LinuxPackageGenerator.cmake).
install(FILES ${NORVALE_LINUX_DOCS}/INSTALL DESTINATION . COMPONENT tarball)

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME norvale-cli)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for LTE2 phones in flash mode (command line)")
set(CPACK_PACKAGE_CONTACT "${NORVALE_PACKAGE_MAINTAINER}")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};norvale;linux;/")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/LinuxPackageGenerator.cmake)
set(CPACK_NORVALE_TREE ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME
    norvale-cli-${PROJECT_VERSION}-linux-${NORVALE_DEB_ARCHITECTURE})

set(CPACK_DEBIAN_FILE_NAME norvale-cli_${PROJECT_VERSION}_${NORVALE_DEB_ARCHITECTURE}.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${NORVALE_DEB_ARCHITECTURE})
# Lines of at most 80 columns, as terminals show them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "norvale-cli reads and writes the flash of an LTE2 phone attached over USB in
flash (boot) mode: it uploads the phone maker's loaders, writes the Boot, PDS
and Panic regions or a block range from image files and reads each write back
to verify it, reads any flash range into a dump file, backs a phone up, starts
it or switches it to BLANK mode. Several commands run in one session; exit
codes tell a script what went wrong. It reaches the phone through libusb; the
udev rule of the package gives the user at the seat access to a phone in flash
mode.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the shared libraries the program links (libusb-1.0, the C++ runtime), as
# dpkg-shlibdeps finds them, never a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/linux/postinst
    ${CMAKE_SOURCE_DIR}/packaging/linux/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
