# The Linux bindings and norvale-cli (builds other than Windows).
file(GLOB NORVALE_POSIX_SOURCES CONFIGURE_DEPENDS src/platform/posix/*.cpp)
add_library(norvale_posix STATIC ${NORVALE_POSIX_SOURCES})
target_include_directories(norvale_posix PUBLIC src)

# The USB road goes through libusb when its binding is part of the tree; without it the program
# sees a bus without phones, and --sim still works.
add_executable(norvale-cli app/norvale-cli-linux.cpp)
target_link_libraries(norvale-cli PRIVATE norvale_cli norvale_sim norvale_posix)
if(TARGET norvale_libusb)
  target_link_libraries(norvale-cli PRIVATE norvale_libusb)
  target_compile_definitions(norvale-cli PRIVATE NORVALE_HAVE_LIBUSB=1)
endif()
