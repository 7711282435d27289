# kestrova-service: the HTTP front, the form checks and the report stores.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVA_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
pkg_check_modules(KESTROVA_PQXX REQUIRED IMPORTED_TARGET libpqxx)
find_package(Threads REQUIRED)
# The server speaks HTTP with Boost.Beast over Asio (headers only): its own
# timers give each request whole deadlines. cpp-httplib stays as the client of
# the tests and the load tool.
find_package(Boost 1.74 REQUIRED)

find_package(OpenSSL REQUIRED)

kestrova_subsystem(service)
target_link_libraries(kestrova_service PUBLIC kestrova_match PkgConfig::KESTROVA_PQXX SQLite::SQLite3
                      Threads::Threads PRIVATE Boost::headers PkgConfig::KESTROVA_LIBARCHIVE OpenSSL::Crypto)

add_executable(kestrova-service src/app/programs/service_main.cpp)
target_link_libraries(kestrova-service PRIVATE kestrova_service)

# Posts reports to a service for the load, crash and benchmark runs.
add_executable(kestrova-service-load tests/service/tools/load_client.cpp)
target_link_libraries(kestrova-service-load PRIVATE kestrova_service PkgConfig::KESTROVA_HTTPLIB)
