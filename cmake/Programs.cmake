# The two programs of each platform, and the report template beside them.

# A Windows build with the posix thread model (the one the tests need) does
# not link the shipped programs itself: a sub-build with the win32 model does,
# and its kestrova.exe and kestrova-scan.exe are copied here, so every build
# tests the programs that ship (see the toolchain file for why).
set(KESTROVA_SHIPPED_HERE ON)
if(WIN32 AND KESTROVA_MINGW_THREADS STREQUAL "posix")
  set(KESTROVA_SHIPPED_HERE OFF)
  include(ExternalProject)
  set(_xp ${CMAKE_BINARY_DIR}/shipped)
  ExternalProject_Add(shipped_programs
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${_xp}
    CMAKE_ARGS --toolchain ${CMAKE_SOURCE_DIR}/cmake/toolchains/mingw-w64-i686.cmake
               -Wno-dev --no-warn-unused-cli
               -DKESTROVA_MINGW_THREADS=win32 -DKESTROVA_BUILD_TESTS=OFF
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
               -DKESTROVA_SERVICE_URL=${KESTROVA_SERVICE_URL}
               -DKESTROVA_BUILD_GUI=${KESTROVA_BUILD_GUI}
               -DKESTROVA_BUILD_IDENTIFICATION=${KESTROVA_BUILD_IDENTIFICATION}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_xp}/kestrova-scan.exe
                    $<$<BOOL:${KESTROVA_BUILD_GUI}>:${_xp}/kestrova.exe>
                    $<$<BOOL:${KESTROVA_BUILD_IDENTIFICATION}>:${_xp}/kestrova-match.exe>
                    ${CMAKE_BINARY_DIR}
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/kestrova-scan.exe ${CMAKE_BINARY_DIR}/kestrova.exe
                     ${CMAKE_BINARY_DIR}/kestrova-match.exe
    USES_TERMINAL_BUILD ON)
  add_custom_target(kestrova-scan ALL DEPENDS shipped_programs)
  if(KESTROVA_BUILD_GUI)
    add_custom_target(kestrova ALL DEPENDS shipped_programs)
  endif()
  if(KESTROVA_BUILD_IDENTIFICATION)
    add_custom_target(kestrova-match ALL DEPENDS shipped_programs)
  endif()
else()
  add_executable(kestrova-scan src/app/programs/scan_main.cpp)
  target_link_libraries(kestrova-scan PRIVATE kestrova_app)
  # The C++ runtime linked in: a scan is over in milliseconds, and binding
  # libstdc++'s symbols at every start was a tenth of its processor time and
  # a megabyte of its memory. (The window program cannot: FLTK brings the
  # shared runtime, and two runtimes in one process must not meet.)
  if(NOT KESTROVA_SANITIZE AND NOT KESTROVA_FUZZ)
    target_link_options(kestrova-scan PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endif()

if(NOT WIN32)
  # An installed program finds its template in the data folder, found from
  # its own folder so any install prefix works (bin -> ../share/kestrova).
  include(GNUInstallDirs)
  file(RELATIVE_PATH _data_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/kestrova)
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/app/scan_workflow.cpp APPEND PROPERTY
      COMPILE_DEFINITIONS KESTROVA_INSTALLED_TEMPLATE_DIR="${_data_from_bin}")
endif()

if(WIN32)
  # The version header and manifest carry the project version into the
  # resources (the file's properties, the manifest's assembly identity).
  set(KESTROVA_VERSION_PATCH "${PROJECT_VERSION_PATCH}")
  set(KESTROVA_VERSION_TWEAK "${PROJECT_VERSION_TWEAK}")
  if(KESTROVA_VERSION_PATCH STREQUAL "")
    set(KESTROVA_VERSION_PATCH 0)
  endif()
  if(KESTROVA_VERSION_TWEAK STREQUAL "")
    set(KESTROVA_VERSION_TWEAK 0)
  endif()
  set(KESTROVA_VERSION_QUAD
      "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${KESTROVA_VERSION_PATCH}.${KESTROVA_VERSION_TWEAK}")
  set(_generated ${CMAKE_BINARY_DIR}/generated)
  configure_file(${CMAKE_SOURCE_DIR}/resources/win/version.h.in ${_generated}/kestrova_version.h @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/resources/win/kestrova.exe.manifest.in
                 ${_generated}/kestrova.exe.manifest @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/resources/win/kestrova-scan.exe.manifest.in
                 ${_generated}/kestrova-scan.exe.manifest @ONLY)
  set(_version_deps ${CMAKE_SOURCE_DIR}/resources/win/version.rc ${_generated}/kestrova_version.h)

  if(KESTROVA_SHIPPED_HERE)
    set(_scan_rc ${CMAKE_SOURCE_DIR}/resources/win/kestrova-scan.rc)
    set_source_files_properties(${_scan_rc} PROPERTIES OBJECT_DEPENDS
        "${CMAKE_SOURCE_DIR}/resources/artwork/icon.ico;${_generated}/kestrova-scan.exe.manifest;${_version_deps}")
    target_sources(kestrova-scan PRIVATE ${_scan_rc})
    target_include_directories(kestrova-scan PRIVATE ${_generated}
        ${CMAKE_SOURCE_DIR}/resources/artwork ${CMAKE_SOURCE_DIR}/resources/win)
  endif()
endif()

file(GLOB _window CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/app/${KESTROVA_OS}/window/*.cpp)
if(KESTROVA_BUILD_GUI AND _window)
  if(WIN32)
    # Everything but the entry point is a library, so the window tests can
    # drive it; the resources go into the program and those tests alike.
    set(_winmain ${CMAKE_SOURCE_DIR}/src/app/win/window/main.cpp)
    list(REMOVE_ITEM _window ${_winmain})
    add_library(kestrova_window STATIC ${_window})
    target_link_libraries(kestrova_window PUBLIC kestrova_app comctl32 ole32 oleaut32 uuid gdi32 user32)
    set(KESTROVA_WIN_RC ${CMAKE_SOURCE_DIR}/resources/win/kestrova.rc)
    set(KESTROVA_WIN_RC_INCLUDES ${CMAKE_SOURCE_DIR}/src/app/win/window
        ${CMAKE_SOURCE_DIR}/resources/artwork ${CMAKE_SOURCE_DIR}/resources/win ${_generated})
    file(GLOB _artwork ${CMAKE_SOURCE_DIR}/resources/artwork/*)
    set_source_files_properties(${KESTROVA_WIN_RC} PROPERTIES OBJECT_DEPENDS
        "${_artwork};${_generated}/kestrova.exe.manifest;${_version_deps}")
    if(KESTROVA_SHIPPED_HERE)
      add_executable(kestrova WIN32 ${_winmain} ${KESTROVA_WIN_RC})
      target_include_directories(kestrova PRIVATE ${KESTROVA_WIN_RC_INCLUDES})
      target_link_libraries(kestrova PRIVATE kestrova_window)
    endif()
  else()
    # Neither OpenGL nor the forms library is used; without these, FLTK is
    # "not found" on a machine that lacks the OpenGL headers.
    set(FLTK_SKIP_OPENGL ON)
    set(FLTK_SKIP_FORMS ON)
    find_package(FLTK REQUIRED)
    add_executable(kestrova ${_window})
    target_include_directories(kestrova PRIVATE ${FLTK_INCLUDE_DIR})
    target_link_libraries(kestrova PRIVATE kestrova_app ${FLTK_LIBRARIES})
    include(${CMAKE_SOURCE_DIR}/src/app/linux/window/window.cmake)
  endif()
  if(KESTROVA_SHIPPED_HERE)
    target_compile_definitions(kestrova PRIVATE
      KESTROVA_ARTWORK_DIR="${CMAKE_SOURCE_DIR}/resources/artwork")
  endif()
endif()

# driver.html ships beside every executable; the service address is written
# into it here, so the page never needs a network lookup to find it.
# The address is the service's base (reports go to <base>/report); the page's
# Content-Security-Policy allows that base and the paths under it, nothing else.
set(KESTROVA_SERVICE_CSP "")
if(NOT KESTROVA_SERVICE_URL STREQUAL "")
  if(NOT KESTROVA_SERVICE_URL MATCHES "^https?://[^ \t;,'\"?#]+$")
    message(FATAL_ERROR "KESTROVA_SERVICE_URL must be an http:// or https:// address without spaces, ';', ',', quotes, query or fragment: ${KESTROVA_SERVICE_URL}")
  endif()
  string(REGEX REPLACE "/+$" "" _service_base "${KESTROVA_SERVICE_URL}")
  set(KESTROVA_SERVICE_CSP "${_service_base}/")
endif()
configure_file(${CMAKE_SOURCE_DIR}/resources/driver.html ${CMAKE_BINARY_DIR}/driver.html @ONLY NEWLINE_STYLE UNIX)
