# Driver identification: the INF catalog, the matcher and the programs built
# on them. A plain scan needs none of their libraries. Windows builds make
# kestrova-match.exe only, with the catalog in memory: there is no SQLite for
# them, so the index file (index.cpp) stays out.

if(NOT KESTROVA_BUILD_IDENTIFICATION)
  return()
endif()
# A Windows build with the posix thread model takes kestrova-match.exe from
# its shipped sub-build (cmake/Programs.cmake).
if(WIN32 AND NOT KESTROVA_SHIPPED_HERE)
  return()
endif()

kestrova_subsystem(catalog)
target_link_libraries(kestrova_catalog PUBLIC kestrova_platform)
kestrova_subsystem(match)
if(WIN32)
  get_target_property(_catalog_sources kestrova_catalog SOURCES)
  list(FILTER _catalog_sources EXCLUDE REGEX "/src/catalog/index\\.cpp$")
  set_property(TARGET kestrova_catalog PROPERTY SOURCES ${_catalog_sources})
  # nlohmann/json is headers only: the host's copy, on no other include path
  # of the host, so no Linux header reaches the cross compiler.
  find_path(KESTROVA_NLOHMANN_INCLUDE nlohmann/json.hpp PATHS /usr/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KESTROVA_NLOHMANN_INCLUDE)
    message(FATAL_ERROR "nlohmann/json.hpp not found (package nlohmann-json3-dev)")
  endif()
  file(COPY ${KESTROVA_NLOHMANN_INCLUDE}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/third_party)
  target_include_directories(kestrova_match SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/third_party)
  target_link_libraries(kestrova_match PUBLIC kestrova_catalog kestrova_report kestrova_platform)
else()
  find_package(SQLite3 REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  # Catalogs may hold .zip and .cab files, read in place with libarchive
  # (not packaged for the Windows build, which reads plain folders).
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KESTROVA_LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
  target_link_libraries(kestrova_catalog PUBLIC SQLite::SQLite3 PRIVATE PkgConfig::KESTROVA_LIBARCHIVE)
  target_link_libraries(kestrova_match PUBLIC kestrova_catalog kestrova_report kestrova_platform nlohmann_json::nlohmann_json)
endif()
target_compile_definitions(kestrova_match PRIVATE KESTROVA_VERSION="${PROJECT_VERSION}")

if(WIN32)
  set(_match_rc ${CMAKE_SOURCE_DIR}/resources/win/kestrova-match.rc)
  configure_file(${CMAKE_SOURCE_DIR}/resources/win/kestrova-match.exe.manifest.in
                 ${CMAKE_BINARY_DIR}/generated/kestrova-match.exe.manifest @ONLY)
  set_source_files_properties(${_match_rc} PROPERTIES OBJECT_DEPENDS
      "${CMAKE_SOURCE_DIR}/resources/artwork/icon.ico;${CMAKE_BINARY_DIR}/generated/kestrova-match.exe.manifest;${_version_deps}")
  add_executable(kestrova-match src/app/programs/win/match_main.cpp ${_match_rc})
  target_include_directories(kestrova-match PRIVATE ${CMAKE_BINARY_DIR}/generated
      ${CMAKE_SOURCE_DIR}/resources/artwork ${CMAKE_SOURCE_DIR}/resources/win)
  target_link_libraries(kestrova-match PRIVATE kestrova_match kestrova_app)
else()
  add_executable(kestrova-match src/app/programs/match_main.cpp)
  target_link_libraries(kestrova-match PRIVATE kestrova_match)
endif()

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

if(NOT WIN32)
  include(cmake/Service.cmake)
endif()
