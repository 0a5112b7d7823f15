# The Linux bindings and norvale-cli (builds other than Windows).
file(GLOB NORVALE_POSIX_SOURCES CONFIGURE_DEPENDS src/platform/posix/*.cpp)
add_library(norvale_posix STATIC ${NORVALE_POSIX_SOURCES})
target_include_directories(norvale_posix PUBLIC src)

# The USB road through libusb; --sim puts the simulated phone behind either road instead.
add_executable(norvale-cli app/norvale-cli-linux.cpp)
target_link_libraries(norvale-cli PRIVATE norvale_cli norvale_sim norvale_posix norvale_libusb)

# The manual page and the bash completion, written at build time from the help's own data by a
# program of the same library code, so they say what --help says. The page is packed compressed,
# reproducibly (-n: no name or time stamp in the gzip header).
add_executable(norvale-cli-docs app/norvale-cli-docs.cpp)
target_link_libraries(norvale-cli-docs PRIVATE norvale_cli)
set(NORVALE_MAN_PAGE ${CMAKE_BINARY_DIR}/norvale-cli.1)
set(NORVALE_BASH_COMPLETION ${CMAKE_BINARY_DIR}/norvale-cli.bash)
add_custom_command(
  OUTPUT ${NORVALE_MAN_PAGE} ${NORVALE_MAN_PAGE}.gz ${NORVALE_BASH_COMPLETION}
  COMMAND norvale-cli-docs man ${NORVALE_MAN_PAGE}
  COMMAND gzip -9 -n -k -f ${NORVALE_MAN_PAGE}
  COMMAND norvale-cli-docs completion ${NORVALE_BASH_COMPLETION}
  DEPENDS norvale-cli-docs
  COMMENT "Writing norvale-cli's manual page and bash completion"
  VERBATIM)
add_custom_target(norvale-cli-extras ALL DEPENDS ${NORVALE_MAN_PAGE}.gz ${NORVALE_BASH_COMPLETION})
