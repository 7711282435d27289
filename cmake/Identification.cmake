# Driver identification: the INF catalog, the matcher and the programs built
# on them. Native builds only; a plain scan needs none of their libraries.
option(KESTROVA_BUILD_IDENTIFICATION "Build the catalog, the matcher and kestrova-match" ON)

if(WIN32 OR NOT KESTROVA_BUILD_IDENTIFICATION)
  return()
endif()

find_package(SQLite3 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)

kestrova_subsystem(catalog)
target_link_libraries(kestrova_catalog PUBLIC SQLite::SQLite3)
kestrova_subsystem(match)
target_link_libraries(kestrova_match PUBLIC kestrova_catalog nlohmann_json::nlohmann_json)

add_executable(kestrova-match src/app/programs/match_main.cpp)
target_link_libraries(kestrova-match PRIVATE kestrova_match)

include(cmake/Service.cmake)
