# The kernel log from the systemd journal for the setup-log excerpt:
# libsystemd's header at build time; the library itself is opened when a
# scan finds a journal to read.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVA_SYSTEMD REQUIRED libsystemd)
target_include_directories(kestrova_files PRIVATE ${KESTROVA_SYSTEMD_INCLUDE_DIRS})
target_link_libraries(kestrova_files PRIVATE ${CMAKE_DL_LIBS})
