# The Win32 bindings, the programs and their resources (Windows builds only).
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 1251")

file(GLOB NORVALE_WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp src/ui/win32/*.cpp)
add_library(norvale_win32 STATIC ${NORVALE_WIN32_SOURCES})
target_include_directories(norvale_win32 PUBLIC src)
target_compile_definitions(norvale_win32 PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# The station window's view stands over its portable half. ole32 and uuid: the taskbar button's
# progress bar is a COM object of the shell. shell32: the station window's folder dialog. winusb:
# the USB road (winusb.dll is part of Windows).
target_link_libraries(norvale_win32 PUBLIC norvale_station_window norvale_portable setupapi winusb
                      advapi32 comctl32 comdlg32 ole32 shell32 uuid user32 gdi32 kernel32)

# The runtime is linked in, so the programs need nothing beyond the system's DLLs.
set(NORVALE_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The dialog template, icon, manifest and version; the Windows tests link them too, to drive the
# real dialog.
set(NORVALE_RESOURCE_DIR ${CMAKE_SOURCE_DIR}/src/ui/resources)
set(NORVALE_RESOURCES ${NORVALE_RESOURCE_DIR}/norvale.rc)
set_source_files_properties(${NORVALE_RESOURCES} PROPERTIES OBJECT_DEPENDS
  "${NORVALE_RESOURCE_DIR}/resource.h;${NORVALE_RESOURCE_DIR}/norvale.ico;${NORVALE_RESOURCE_DIR}/norvale.manifest")
# The station window's templates alone, for the tests that run it in-process beside the dialog.
set(NORVALE_STATION_WINDOW_RESOURCES ${NORVALE_RESOURCE_DIR}/station-window.rc)
set_source_files_properties(${NORVALE_STATION_WINDOW_RESOURCES} PROPERTIES OBJECT_DEPENDS
  "${NORVALE_RESOURCE_DIR}/resource.h")

if(EXISTS ${CMAKE_SOURCE_DIR}/app/norvale.cpp)
  add_executable(norvale WIN32 app/norvale.cpp ${NORVALE_RESOURCES})
  target_link_libraries(norvale PRIVATE norvale_win32 ${NORVALE_STATIC_RUNTIME})
  add_executable(norvale-sim WIN32 app/norvale-sim.cpp ${NORVALE_RESOURCES})
  target_link_libraries(norvale-sim PRIVATE norvale_win32 norvale_sim ${NORVALE_STATIC_RUNTIME})
  # The station window, over the real roads and over the simulated phones; a template, icon and
  # manifest of its own.
  set(NORVALE_STATION_RESOURCES ${NORVALE_RESOURCE_DIR}/norvale-station.rc)
  set_source_files_properties(${NORVALE_STATION_RESOURCES} PROPERTIES OBJECT_DEPENDS
    "${NORVALE_RESOURCE_DIR}/resource.h;${NORVALE_RESOURCE_DIR}/station-window.rc;\
${NORVALE_RESOURCE_DIR}/norvale.ico;${NORVALE_RESOURCE_DIR}/norvale-station.manifest")
  add_executable(norvale-station WIN32 app/norvale-station.cpp ${NORVALE_STATION_RESOURCES})
  # The command line's recipe code reads and writes the window's recipes too.
  target_link_libraries(norvale-station PRIVATE norvale_cli norvale_win32
                        ${NORVALE_STATIC_RUNTIME})
  add_executable(norvale-station-sim WIN32 app/norvale-station-sim.cpp
                 ${NORVALE_STATION_RESOURCES})
  target_link_libraries(norvale-station-sim PRIVATE norvale_cli norvale_win32 norvale_sim
                        ${NORVALE_STATIC_RUNTIME})
  # The command line: a console program, with the simulator for --sim.
  add_executable(norvale-cli app/norvale-cli-windows.cpp)
  target_link_libraries(norvale-cli PRIVATE norvale_cli norvale_win32 norvale_sim
                        ${NORVALE_STATIC_RUNTIME})
endif()
