# GoogleTest: Debian's package for native builds; its sources, built with the
# cross compiler, for the Windows test programs.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(kestrova_gtest INTERFACE)
  target_link_libraries(kestrova_gtest INTERFACE gmock gtest_main)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_library(kestrova_gtest INTERFACE)
  target_link_libraries(kestrova_gtest INTERFACE GTest::gmock GTest::gtest_main)
endif()

# One test program per subsystem: tests/<name>/*.cpp (portable logic with
# fakes) plus tests/<name>/<os>/*.cpp (the real adapters).
function(kestrova_test_program name)
  file(GLOB _portable CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${name}/*.cpp)
  file(GLOB _adapter CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${name}/${KESTROVA_OS}/*.cpp)
  if(NOT _portable AND NOT _adapter)
    return()
  endif()
  add_executable(test_${name} ${_portable} ${_adapter})
  target_include_directories(test_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE kestrova_${name} kestrova_gtest)
  if(TARGET kestrova_${name}_procedures)
    target_link_libraries(test_${name} PRIVATE kestrova_${name}_procedures)
  endif()
  target_compile_definitions(test_${name} PRIVATE
    KESTROVA_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    KESTROVA_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(WIN32)
    # One Wine start per program: a start per test case would cost minutes.
    add_test(NAME ${name} COMMAND test_${name} --gtest_brief=0)
  else()
    gtest_discover_tests(test_${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 30)
  endif()
endfunction()
