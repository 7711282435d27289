# kestrova-service: the HTTP front, the form checks and the report stores.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVA_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
pkg_check_modules(KESTROVA_PQXX REQUIRED IMPORTED_TARGET libpqxx)
find_package(Threads REQUIRED)

kestrova_subsystem(service)
target_link_libraries(kestrova_service PUBLIC kestrova_match PkgConfig::KESTROVA_HTTPLIB PkgConfig::KESTROVA_PQXX
                      SQLite::SQLite3 Threads::Threads)

add_executable(kestrova-service src/app/programs/service_main.cpp)
target_link_libraries(kestrova-service PRIVATE kestrova_service)

# Posts reports to a service for the load, crash and benchmark runs.
add_executable(kestrova-service-load tests/service/tools/load_client.cpp)
target_link_libraries(kestrova-service-load PRIVATE kestrova_service)
