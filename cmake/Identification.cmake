# Driver identification: the INF catalog, the matcher and the programs built
# on them. Native builds only; a plain scan needs none of their libraries.

if(WIN32 OR NOT KESTROVA_BUILD_IDENTIFICATION)
  return()
endif()

find_package(SQLite3 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)

# Catalogs may hold .zip and .cab files, read in place with libarchive.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVA_LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)

kestrova_subsystem(catalog)
target_link_libraries(kestrova_catalog PUBLIC SQLite::SQLite3 PRIVATE PkgConfig::KESTROVA_LIBARCHIVE)
kestrova_subsystem(match)
target_link_libraries(kestrova_match PUBLIC kestrova_catalog kestrova_report kestrova_platform nlohmann_json::nlohmann_json)
target_compile_definitions(kestrova_match PRIVATE KESTROVA_VERSION="${PROJECT_VERSION}")

add_executable(kestrova-match src/app/programs/match_main.cpp)
target_link_libraries(kestrova-match PRIVATE kestrova_match)

# The results page wears the report page's style: taken from driver.html
# when configuring, so the two never drift apart.
file(READ ${CMAKE_SOURCE_DIR}/resources/driver.html _report_page)
string(REGEX MATCH "<style>(.*)</style>" _style "${_report_page}")
if(NOT CMAKE_MATCH_1)
  message(FATAL_ERROR "resources/driver.html has no <style> block")
endif()
set(KESTROVA_REPORT_STYLE "${CMAKE_MATCH_1}")
configure_file(${CMAKE_SOURCE_DIR}/src/match/report_style.h.in
               ${CMAKE_BINARY_DIR}/generated/match/report_style.h @ONLY)
target_include_directories(kestrova_match PRIVATE ${CMAKE_BINARY_DIR}/generated)

include(cmake/Service.cmake)
