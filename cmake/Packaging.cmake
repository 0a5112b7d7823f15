# The release archive: the 64-bit and 32-bit programs (the dialog, the station window and the
# command line), the
# operator's guides, the licence, a bin\ folder that holds only a note on where the loader images
# come from, and the Linux udev rule.
#
# Every tree installs the texts (component "docs"); a Windows tree also installs its norvale.exe
# and norvale-cli.exe, named for its architecture (component "program"). scripts/package.sh
# builds the two Windows trees, then configures a packaging tree with NORVALE_PACKAGE_X64_TREE and
# NORVALE_PACKAGE_X86_TREE set, whose CPack run takes the programs from both and the texts once.

set(NORVALE_PACKAGE_X64_TREE "" CACHE PATH "64-bit Windows build tree to take the programs from")
set(NORVALE_PACKAGE_X86_TREE "" CACHE PATH "32-bit Windows build tree to take the programs from")

# Operators open the texts with Notepad: CRLF line ends and a UTF-8 byte order mark, so that the
# Cyrillic reads right on every Windows, the oldest Notepad included. Made at configure time;
# editing a source text configures again.
set(NORVALE_PACKAGE_TEXTS ${CMAKE_BINARY_DIR}/package-texts)
function(norvale_operator_text source name)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  string(ASCII 239 187 191 byteOrderMark)
  file(WRITE ${NORVALE_PACKAGE_TEXTS}/${name} "${byteOrderMark}${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

norvale_operator_text(${CMAKE_SOURCE_DIR}/docs/guide-ru.md guide-ru.txt)
norvale_operator_text(${CMAKE_SOURCE_DIR}/docs/guide-en.md guide-en.txt)
norvale_operator_text(${CMAKE_SOURCE_DIR}/LICENSE LICENSE.txt)
norvale_operator_text(${CMAKE_SOURCE_DIR}/packaging/bin-README.txt README.txt)

install(FILES ${NORVALE_PACKAGE_TEXTS}/guide-ru.txt ${NORVALE_PACKAGE_TEXTS}/guide-en.txt
              ${NORVALE_PACKAGE_TEXTS}/LICENSE.txt
        DESTINATION . COMPONENT docs)
# The only file of bin\: the loader images are the phone maker's, and none of them ships.
install(FILES ${NORVALE_PACKAGE_TEXTS}/README.txt DESTINATION bin COMPONENT docs)
# The udev rule that lets a Linux user reach the phone without root. udev reads it as it is: LF
# line ends and no byte order mark, so it is not made into an operator's text.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/70-norvale.rules DESTINATION linux
        COMPONENT docs)

if(WIN32 AND TARGET norvale)
  # Both programs sit side by side at the top of the folder, next to bin\ and KESTRIN.ini, so
  # either one started from there finds them in its working directory.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(NORVALE_ARCHITECTURE x64)
  else()
    set(NORVALE_ARCHITECTURE x86)
  endif()
  install(PROGRAMS $<TARGET_FILE:norvale> DESTINATION . RENAME norvale-${NORVALE_ARCHITECTURE}.exe
          COMPONENT program)
  # The command line beside it, named the same way, so both architectures' fit in one folder.
  install(PROGRAMS $<TARGET_FILE:norvale-cli> DESTINATION .
          RENAME norvale-cli-${NORVALE_ARCHITECTURE}.exe COMPONENT program)
  # The station window beside the dialog.
  install(PROGRAMS $<TARGET_FILE:norvale-station> DESTINATION .
          RENAME norvale-station-${NORVALE_ARCHITECTURE}.exe COMPONENT program)
  if(MINGW)
    # The release programs carry no symbols: they would only make the download bigger.
    target_link_options(norvale PRIVATE $<$<CONFIG:Release>:-s>)
    target_link_options(norvale-cli PRIVATE $<$<CONFIG:Release>:-s>)
    target_link_options(norvale-station PRIVATE $<$<CONFIG:Release>:-s>)
  endif()
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME norvale)
set(CPACK_PACKAGE_VENDOR "Norvale developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for LTE2 phones in flash mode")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# The archive unzips into one folder, named for the product, its version and its system.
set(CPACK_PACKAGE_FILE_NAME norvale-${PROJECT_VERSION}-windows)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
if(NORVALE_PACKAGE_X64_TREE AND NORVALE_PACKAGE_X86_TREE)
  # Each entry: build tree, project, component, folder in the archive.
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${NORVALE_PACKAGE_X64_TREE};norvale;program;/"
      "${NORVALE_PACKAGE_X86_TREE};norvale;program;/"
      "${NORVALE_PACKAGE_X64_TREE};norvale;docs;/")
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND TARGET norvale-cli)
  # A native Linux tree packs norvale-cli as a .deb and a tarball instead.
  include(cmake/LinuxPackage.cmake)
elseif(NOT WIN32)
  # A tree of the portable layers alone has no program to pack.
  return()
endif()
include(CPack)
