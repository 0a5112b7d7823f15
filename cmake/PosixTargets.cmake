# The Linux bindings and norvale-cli (builds other than Windows).
file(GLOB NORVALE_POSIX_SOURCES CONFIGURE_DEPENDS src/platform/posix/*.cpp)
add_library(norvale_posix STATIC ${NORVALE_POSIX_SOURCES})
target_include_directories(norvale_posix PUBLIC src)

# The USB road through libusb; --sim puts the simulated phone behind either road instead.
add_executable(norvale-cli app/norvale-cli-linux.cpp)
target_link_libraries(norvale-cli PRIVATE norvale_cli norvale_sim norvale_posix norvale_libusb)
