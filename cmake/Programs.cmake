# The two programs of each platform, and the report template beside them.

add_executable(kestrova-scan src/app/programs/scan_main.cpp)
target_link_libraries(kestrova-scan PRIVATE kestrova_app)

file(GLOB _window CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/app/${KESTROVA_OS}/window/*.cpp)
if(KESTROVA_BUILD_GUI AND _window)
  if(WIN32)
    add_executable(kestrova WIN32 ${_window} ${CMAKE_SOURCE_DIR}/resources/win/kestrova.rc)
    target_link_libraries(kestrova PRIVATE kestrova_app comctl32 ole32 oleaut32 olepro32 uuid gdi32 user32)
  else()
    find_package(FLTK REQUIRED)
    add_executable(kestrova ${_window})
    target_include_directories(kestrova PRIVATE ${FLTK_INCLUDE_DIR})
    target_link_libraries(kestrova PRIVATE kestrova_app ${FLTK_LIBRARIES})
  endif()
  target_compile_definitions(kestrova PRIVATE
    KESTROVA_ARTWORK_DIR="${CMAKE_SOURCE_DIR}/resources/artwork")
endif()

# driver.html ships beside every executable; the service address is written
# into it here, so the page never needs a network lookup to find it.
configure_file(${CMAKE_SOURCE_DIR}/resources/driver.html ${CMAKE_BINARY_DIR}/driver.html @ONLY NEWLINE_STYLE UNIX)
